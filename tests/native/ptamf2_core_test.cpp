// The bus stand-in's core: slot names and ComPort values, which children to report or
// drop, the child ids and names, and the checks of its control and query requests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bus_control.h"
#include "child_names.h"
#include "slot_config.h"

using namespace ptamf2;

namespace {

std::u16string U16(const char* s)
{
    std::u16string r;
    while (*s) r += static_cast<char16_t>(*s++);
    return r;
}

SlotSet Slots(std::initializer_list<uint32_t> list)
{
    SlotSet s;
    for (uint32_t v : list) s.Add(v);
    return s;
}

std::u16string Members(const SlotSet& s)
{
    std::u16string r;
    for (uint32_t v = s.Next(0); v != SlotSet::kNone; v = s.Next(v + 1)) r += U16(std::to_string(v).c_str()) + u",";
    return r;
}

// A configuration built from subkey names and DWORD ComPort values (-1: no value).
SlotConfig Config(std::initializer_list<std::pair<const char*, int64_t>> subkeys)
{
    SlotConfig c;
    for (const auto& [name, com] : subkeys) {
        const std::u16string n = U16(name);
        const uint32_t slot = c.NoteSubkey(n.data(), n.size());
        if (slot != SlotSet::kNone && com >= 0) {
            const uint32_t v = static_cast<uint32_t>(com);
            c.NoteComPort(slot, kRegDword, &v, sizeof(v));
        }
    }
    return c;
}

}  // namespace

TEST(SlotName, OnlyFourDigitsNamingSlots0To255)
{
    struct Row {
        const char* name;
        bool ok;
        uint32_t slot;
    };
    const Row rows[] = {
        {"0000", true, 0},  {"0010", true, 10}, {"0255", true, 255}, {"0256", false, 0},
        {"255", false, 0},  {"00010", false, 0}, {"00a1", false, 0}, {" 001", false, 0},
        {"", false, 0},     {"-001", false, 0},  {"9999", false, 0},
    };
    for (const Row& r : rows) {
        const std::u16string n = U16(r.name);
        uint32_t slot = 777;
        EXPECT_EQ(ParseSlotName(n.data(), n.size(), &slot), r.ok) << r.name;
        EXPECT_EQ(slot, r.ok ? r.slot : 777u) << r.name;
    }
}

TEST(ComPortValue, OnlyADwordHoldingComNumber1To1024)
{
    struct Row {
        uint32_t type;
        uint32_t value;
        uint32_t bytes;
        uint32_t com;
    };
    const Row rows[] = {
        {kRegDword, 5, 4, 5},    {kRegDword, 1, 4, 1},   {kRegDword, 1024, 4, 1024},
        {kRegDword, 0, 4, 0},    {kRegDword, 1025, 4, 0}, {kRegDword, 0xFFFFFFFF, 4, 0},
        {kRegDword, 5, 2, 0},    {kRegDword, 5, 8, 0},    {1 /* REG_SZ */, 5, 4, 0},
        {3 /* REG_BINARY */, 5, 4, 0},
    };
    for (const Row& r : rows) {
        uint8_t data[8] = {};
        std::memcpy(data, &r.value, sizeof(r.value));
        EXPECT_EQ(DecodeComPort(r.type, data, r.bytes), r.com)
            << "type " << r.type << " value " << r.value << " bytes " << r.bytes;
    }
    EXPECT_EQ(DecodeComPort(kRegDword, nullptr, 4), 0u);
}

TEST(SlotSet, AddRemoveAndWalkAcrossWords)
{
    SlotSet s = Slots({0, 31, 32, 255});
    EXPECT_EQ(Members(s), u"0,31,32,255,");
    EXPECT_EQ(s.Count(), 4u);
    s.Remove(31);
    s.Add(256);  // out of range: ignored
    EXPECT_FALSE(s.Has(31));
    EXPECT_FALSE(s.Has(256));
    EXPECT_EQ(s.Next(1), 32u);
    EXPECT_EQ(s.Next(256), SlotSet::kNone);
    EXPECT_TRUE(SlotSet().Empty());
    EXPECT_EQ(Members(Slots({1, 2, 3, 200}).Minus(Slots({2, 200, 7}))), u"1,3,");
}

TEST(SlotConfig, SubkeysMakeSlotsPresentAndComPortsMakeThemUsable)
{
    const SlotConfig c = Config({{"0000", 5}, {"0001", -1}, {"0002", 0}, {"0003", 6},
                                 {"256", 9}, {"Settings", 4}, {"0255", 1024}});
    EXPECT_EQ(Members(c.Present()), u"0,1,2,3,255,");
    EXPECT_EQ(Members(c.Usable()), u"0,3,255,");
    EXPECT_EQ(c.ComNumber(0), 5u);
    EXPECT_EQ(c.ComNumber(255), 1024u);
    EXPECT_EQ(c.ComNumber(1), 0u);
    EXPECT_EQ(c.ComNumber(2), 0u);
}

TEST(SlotConfig, AComPortWithoutItsSubkeyIsIgnored)
{
    SlotConfig c;
    const uint32_t v = 5;
    c.NoteComPort(7, kRegDword, &v, sizeof(v));
    EXPECT_TRUE(c.Usable().Empty());
    EXPECT_EQ(c.ComNumber(7), 0u);
}

TEST(SlotConfig, ReportsUsableSlotsWithoutChildAndDropsChildrenWhoseSubkeyIsGone)
{
    struct Row {
        const char* what;
        std::initializer_list<std::pair<const char*, int64_t>> subkeys;
        std::initializer_list<uint32_t> withChild;
        const char16_t* report;
        const char16_t* drop;
    };
    const Row rows[] = {
        {"first start", {{"0000", 5}, {"0001", 6}}, {}, u"0,1,", u""},
        {"one new slot", {{"0000", 5}, {"0001", 6}}, {0}, u"1,", u""},
        {"nothing new", {{"0000", 5}}, {0}, u"", u""},
        {"slot removed", {{"0000", 5}}, {0, 1}, u"", u"1,"},
        {"product key gone", {}, {0, 1, 255}, u"", u"0,1,255,"},
        // A child keeps its slot while the subkey exists, even if ComPort became unreadable.
        {"ComPort unreadable", {{"0000", -1}}, {0}, u"", u""},
        {"ComPort invalid, no child", {{"0000", 0}}, {}, u"", u""},
    };
    for (const Row& r : rows) {
        const SlotConfig c = Config(r.subkeys);
        SlotSet withChild = Slots(r.withChild);
        EXPECT_EQ(Members(c.ToReport(withChild)), r.report) << r.what;
        EXPECT_EQ(Members(c.ToDrop(withChild)), r.drop) << r.what;
    }
}

TEST(FormatName, AppliesItsOneConversion)
{
    struct Row {
        const char* fmt;
        uint32_t value;
        const char* expected;
    };
    const Row rows[] = {
        {PTA_CHILD_INSTANCE_FORMAT, 10, "0000000A"},
        {PTA_CHILD_INSTANCE_FORMAT, 255, "000000FF"},
        {PTA_CHILD_INSTANCE_FORMAT, 0, "00000000"},
        {kComNameFormat, 5, "COM5"},
        {kComNameFormat, 1024, "COM1024"},
        {kFriendlyNameFormat, 12, "PORTARA SERIAL PORT (COM12)"},
        {"%04d", 7, "0007"},
        {"%02X", 0x1234, "1234"},
        {kInstanceKeyFormat, 10,
         "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\PTAMF2\\*PNP0501\\0000000A"},
        {kProductKeyPath, 0, "\\Registry\\Machine\\SOFTWARE\\Kelvor\\Portara"},
        {"PortName", 99, "PortName"},
    };
    for (const Row& r : rows) {
        char16_t out[kMaxNameChars];
        const size_t n = FormatName(out, kMaxNameChars, r.fmt, r.value);
        EXPECT_EQ(std::u16string(out), U16(r.expected)) << r.fmt;
        EXPECT_EQ(n, std::strlen(r.expected)) << r.fmt;
    }
}

TEST(FormatName, RefusesWhatItCannotWriteWhole)
{
    struct Row {
        const char* fmt;
        size_t cap;
    };
    const Row rows[] = {
        {"COM%d", 4},     // "COM5" needs 5 with its terminator
        {"%08X", 8},      //
        {"abc", 3},       //
        {"%s", 16},       // unknown conversion
        {"100%", 16},     // conversion cut short
        {"%0", 16},       //
    };
    for (const Row& r : rows) {
        char16_t out[16];
        out[0] = u'x';
        EXPECT_EQ(FormatName(out, r.cap, r.fmt, 5), 0u) << r.fmt << " cap " << r.cap;
        EXPECT_EQ(out[0], 0) << r.fmt;
    }
    char16_t exact[5];
    EXPECT_EQ(FormatName(exact, 5, "COM%d", 5), 4u);
    EXPECT_EQ(FormatName(nullptr, 5, "COM", 0), 0u);
}

TEST(ChildId, AnswersTheFourIdQueries)
{
    struct Row {
        uint32_t type;
        uint32_t slot;
        std::u16string expected;  // every terminator included
    };
    using namespace std::string_literals;
    const Row rows[] = {
        {ChildDeviceId, 3, u"PTAMF2\\*PNP0501\0"s},
        {ChildHardwareIds, 3, u"PTAMF2\\*PNP0501\0\0"s},
        // Not empty: one empty string, then the list's end.
        {ChildCompatibleIds, 3, u"\0\0"s},
        {ChildInstanceId, 10, u"0000000A\0"s},
        {ChildInstanceId, 255, u"000000FF\0"s},
    };
    for (const Row& r : rows) {
        char16_t out[kMaxNameChars];
        const size_t n = BuildChildId(r.type, r.slot, out, kMaxNameChars);
        EXPECT_EQ(std::u16string(out, n), r.expected) << "type " << r.type;
    }
}

TEST(ChildId, OtherTypesAndSmallBuffersGetNoAnswer)
{
    char16_t out[kMaxNameChars];
    EXPECT_EQ(BuildChildId(4 /* serial number */, 0, out, kMaxNameChars), 0u);
    EXPECT_EQ(BuildChildId(5 /* container id */, 0, out, kMaxNameChars), 0u);
    EXPECT_EQ(BuildChildId(ChildHardwareIds, 0, out, 16), 0u);  // needs 17
    EXPECT_EQ(BuildChildId(ChildHardwareIds, 0, out, 17), 17u);
    EXPECT_EQ(BuildChildId(ChildCompatibleIds, 0, out, 1), 0u);
    EXPECT_EQ(BuildChildId(ChildInstanceId, 0, out, 8), 0u);
}

TEST(BusControl, ChecksEachRequestAgainstItsBuffers)
{
    struct Row {
        const char* what;
        uint32_t code;
        bool haveInput;
        uint32_t size;  // first word of the input
        uint32_t inBytes;
        uint32_t outBytes;
        Verdict verdict;
        BusAction action;
        uint32_t outputBytes;
    };
    using pta::IOCTL_BUS_ADD_PORTS;
    const Row rows[] = {
        {"add, answer echoed", IOCTL_BUS_ADD_PORTS, true, 8, 8, 8, Verdict::Success, BusAction::ReportNewChildren, 8},
        {"add, no output", IOCTL_BUS_ADD_PORTS, true, 8, 8, 0, Verdict::Success, BusAction::ReportNewChildren, 0},
        {"add, large buffers", IOCTL_BUS_ADD_PORTS, true, 8, 12, 16, Verdict::Success, BusAction::ReportNewChildren, 8},
        {"add, short input", IOCTL_BUS_ADD_PORTS, true, 8, 7, 8, Verdict::InvalidParameter, BusAction::None, 0},
        {"add, no input", IOCTL_BUS_ADD_PORTS, false, 0, 0, 8, Verdict::InvalidParameter, BusAction::None, 0},
        {"add, wrong size", IOCTL_BUS_ADD_PORTS, true, 12, 8, 8, Verdict::InvalidParameter, BusAction::None, 0},
        {"add, size 0", IOCTL_BUS_ADD_PORTS, true, 0, 8, 8, Verdict::InvalidParameter, BusAction::None, 0},
        {"add, small output", IOCTL_BUS_ADD_PORTS, true, 8, 8, 4, Verdict::BufferTooSmall, BusAction::None, 0},
        {"remove", pta::IOCTL_BUS_REMOVE_PORTS, false, 0, 0, 0, Verdict::Success, BusAction::DropGoneChildren, 0},
        {"remove, stray input", pta::IOCTL_BUS_REMOVE_PORTS, true, 8, 8, 0, Verdict::Success, BusAction::DropGoneChildren, 0},
        {"unknown code", 0x002A0004, true, 8, 8, 8, Verdict::InvalidDeviceRequest, BusAction::None, 0},
        {"serial code", 0x001B0190, true, 8, 8, 8, Verdict::InvalidDeviceRequest, BusAction::None, 0},
    };
    for (const Row& r : rows) {
        BusControl control;
        uint8_t in[16] = {};
        std::memcpy(in, &r.size, sizeof(r.size));
        const ControlDecision d = control.Decide(r.code, r.haveInput ? in : nullptr, r.inBytes, r.outBytes);
        EXPECT_EQ(d.verdict, r.verdict) << r.what;
        EXPECT_EQ(d.action, r.action) << r.what;
        EXPECT_EQ(d.outputBytes, r.outputBytes) << r.what;
        EXPECT_FALSE(control.Attached()) << r.what;
    }
}

TEST(BusControl, AttachHoldsOneRegistrationUntilDetach)
{
    struct Step {
        uint32_t code;
        uint32_t inBytes;
        Verdict verdict;
        bool attachedAfter;
    };
    using pta::IOCTL_BUS_ATTACH;
    using pta::IOCTL_BUS_DETACH;
    const Step steps[] = {
        {IOCTL_BUS_DETACH, 8, Verdict::Success, false},  // nothing held: still succeeds
        {IOCTL_BUS_ATTACH, 4, Verdict::InvalidParameter, false},
        {IOCTL_BUS_ATTACH, 8, Verdict::Success, true},
        {IOCTL_BUS_ATTACH, 8, Verdict::Busy, true},  // an earlier registration is held
        {IOCTL_BUS_DETACH, 0, Verdict::InvalidParameter, true},  // bad input changes nothing
        {IOCTL_BUS_DETACH, 7, Verdict::InvalidParameter, true},
        {IOCTL_BUS_ATTACH, 8, Verdict::Busy, true},
        {IOCTL_BUS_DETACH, 8, Verdict::Success, false},
        {IOCTL_BUS_ATTACH, 16, Verdict::Success, true},  // a new run attaches again
    };
    BusControl control;
    const uint8_t handle[16] = {0x34, 0x12};
    int i = 0;
    for (const Step& s : steps) {
        const ControlDecision d = control.Decide(s.code, handle, s.inBytes, 0);
        EXPECT_EQ(d.verdict, s.verdict) << "step " << i;
        EXPECT_EQ(d.action, BusAction::None) << "step " << i;
        EXPECT_EQ(control.Attached(), s.attachedAfter) << "step " << i;
        ++i;
    }
    EXPECT_EQ(control.Decide(IOCTL_BUS_ATTACH, nullptr, 8, 0).verdict, Verdict::InvalidParameter);
}

TEST(BusInterface, QueryNeedsTheWholeInterfaceInVersion1)
{
    struct Row {
        uint16_t size;
        uint16_t version;
        Verdict verdict;
    };
    const Row rows[] = {
        {48, 1, Verdict::Success},          {64, 1, Verdict::Success},
        {47, 1, Verdict::InvalidParameter}, {0, 1, Verdict::InvalidParameter},
        {48, 0, Verdict::NotSupported},     {48, 2, Verdict::NotSupported},
    };
    for (const Row& r : rows)
        EXPECT_EQ(CheckInterfaceQuery(r.size, r.version), r.verdict)
            << "size " << r.size << " version " << r.version;
}

TEST(BusInterface, ChildInfoCarriesMagicAndSlotPlusOne)
{
    for (uint32_t slot : {0u, 9u, 255u}) {
        pta::BusChildInfo info;
        std::memset(&info, 0, sizeof(info));
        EXPECT_EQ(FillChildInfo(&info, slot), 1);
        EXPECT_EQ(info.Magic, pta::kBusChildMagic);
        EXPECT_EQ(info.ChildIndex, slot + 1);
    }
    EXPECT_EQ(FillChildInfo(nullptr, 0), 0);
}
