// Port naming: the COM number scan of PortName, the names built from it, and the
// hardware-id list edit.
#include <gtest/gtest.h>

#include <string>

#include "hardware_ids.h"
#include "port_names.h"

using namespace pta;

TEST(ComNumberScan, TableOfPortNames)
{
    struct Row {
        std::u16string text;
        ComNumberScan scan;
        uint32_t number;
    };
    const Row rows[] = {
        {u"COM12", ComNumberScan::Found, 12},
        {u"PORT7X", ComNumberScan::Found, 7},
        {u"COM", ComNumberScan::NoDigits, 0},
        {u"", ComNumberScan::NoDigits, 0},
        {u"COM0", ComNumberScan::Found, 0},
        {u"7", ComNumberScan::Found, 7},
        {u"COM1X2", ComNumberScan::Found, 1},          // digits end at the first non-digit
        {u"COM007", ComNumberScan::Found, 7},
        {u"COM4294967295", ComNumberScan::Found, 4294967295u},
        {u"COM4294967296", ComNumberScan::TooLarge, 0},
        {u"COM99999999999999999999", ComNumberScan::TooLarge, 0},
        {u"COM00000000000000000000005", ComNumberScan::Found, 5},  // zeros do not overflow
        {u"COM\uFF15", ComNumberScan::NoDigits, 0},    // only ASCII digits count
        {u"COM/:9", ComNumberScan::Found, 9},          // the neighbours of '0' and '9'
    };
    for (const Row& r : rows) {
        const ComNumberResult got =
            ScanComNumber(reinterpret_cast<const Utf16Char*>(r.text.c_str()), kPortNameMaxUnits);
        EXPECT_EQ(r.scan, got.scan) << std::string(r.text.begin(), r.text.end());
        EXPECT_EQ(r.number, got.number) << std::string(r.text.begin(), r.text.end());
    }
}

// PortName is read into a fixed buffer that need not hold a terminator: the scan stops at
// the bound and never reads past it.
TEST(ComNumberScan, StopsAtTheBoundWithoutATerminator)
{
    // Digits run to the bound; the units beyond it would overflow if they were read.
    Utf16Char buffer[kPortNameMaxUnits + 8];
    buffer[0] = u'C';
    buffer[1] = u'1';
    for (uint32_t i = 2; i < 4; ++i) buffer[i] = u'2';
    for (uint32_t i = 4; i < kPortNameMaxUnits + 8; ++i) buffer[i] = u'9';
    EXPECT_EQ(ComNumberScan::Found, ScanComNumber(buffer, 4).scan);
    EXPECT_EQ(122u, ScanComNumber(buffer, 4).number);
    EXPECT_EQ(ComNumberScan::NoDigits, ScanComNumber(buffer, 1).scan);
    EXPECT_EQ(ComNumberScan::NoDigits, ScanComNumber(buffer, 0).scan);
    EXPECT_EQ(ComNumberScan::NoDigits, ScanComNumber(nullptr, kPortNameMaxUnits).scan);
}

TEST(PortNames, BuiltFromIndexAndComNumber)
{
    Utf16Char buf[64];
    struct Row {
        uint32_t (*format)(Utf16Char*, uint32_t, uint32_t);
        uint32_t value;
        std::u16string expected;
    };
    const Row rows[] = {
        {FormatDeviceName, 1, u"\\DosDevices\\ptaser21"},
        {FormatDeviceName, 256, u"\\DosDevices\\ptaser2256"},
        {FormatDeviceName, 0, u"\\DosDevices\\ptaser20"},
        {FormatComName, 5, u"COM5"},
        {FormatComName, 0, u"COM0"},
        {FormatComName, 4294967295u, u"COM4294967295"},
        {FormatComLinkName, 12, u"\\DosDevices\\COM12"},
    };
    for (const Row& r : rows) {
        const uint32_t needed = r.format(nullptr, 0, r.value);
        EXPECT_EQ(r.expected.size(), needed);
        EXPECT_EQ(needed, r.format(buf, needed + 1, r.value));
        EXPECT_EQ(r.expected, std::u16string(reinterpret_cast<const char16_t*>(buf)));
    }
}

TEST(PortNames, ShortBufferGetsAnEmptyStringNotATruncatedName)
{
    Utf16Char buf[8];
    for (uint32_t capacity : {1u, 4u, 5u}) {
        for (Utf16Char& c : buf) c = u'#';
        EXPECT_EQ(5u, FormatComName(buf, capacity, 12));
        EXPECT_EQ(0, buf[0]) << capacity;
        EXPECT_EQ(u'#', buf[capacity]) << "nothing written past capacity " << capacity;
    }
    EXPECT_EQ(5u, FormatComName(buf, 6, 12));
    EXPECT_EQ(u"COM12", std::u16string(reinterpret_cast<const char16_t*>(buf)));
}

TEST(PortNames, RxQueueNameFromComName)
{
    Utf16Char buf[32];
    const Utf16Char com5[] = {u'C', u'O', u'M', u'5'};  // a counted string, no terminator
    EXPECT_EQ(8u, FormatRxQueueName(buf, 32, com5, 4));
    EXPECT_EQ(u"COM5.RxQ", std::u16string(reinterpret_cast<const char16_t*>(buf)));
    const Utf16Char com12z[] = u"COM12";
    EXPECT_EQ(9u, FormatRxQueueName(buf, 32, com12z, 64));  // stops at the terminator
    EXPECT_EQ(u"COM12.RxQ", std::u16string(reinterpret_cast<const char16_t*>(buf)));
    EXPECT_EQ(4u, FormatRxQueueName(buf, 32, nullptr, 0));
}

TEST(HardwareIds, SerialIdFollowsMultiportDevice)
{
    const struct {
        uint32_t multiport;
        std::u16string id;
    } rows[] = {{0, u"*PNP0501"}, {1, u"*PNP0502"}, {0xFFFFFFFFu, u"*PNP0502"}};
    for (const auto& r : rows)
        EXPECT_EQ(r.id, std::u16string(reinterpret_cast<const char16_t*>(
                            SerialPortHardwareId(r.multiport))));
}

TEST(HardwareIds, AppendToMultiSzList)
{
    struct Row {
        const char* what;
        bool nullList;
        std::u16string list;      // with its final terminator spelled out
        std::u16string expected;  // likewise
    };
    const Row rows[] = {
        {"no list", true, u"", std::u16string(u"*PNP0501\0\0", 10)},
        {"empty list", false, std::u16string(u"\0", 1), std::u16string(u"*PNP0501\0\0", 10)},
        {"empty multi-sz", false, std::u16string(u"\0\0", 2), std::u16string(u"*PNP0501\0\0", 10)},
        {"one entry", false, std::u16string(u"PTAMF2\\*PNP0501\0\0", 17),
         std::u16string(u"PTAMF2\\*PNP0501\0*PNP0501\0\0", 26)},
        {"two entries", false, std::u16string(u"A\0BC\0\0", 6),
         std::u16string(u"A\0BC\0*PNP0501\0\0", 15)},
        {"garbage after the end is not copied", false, std::u16string(u"A\0\0ZZ\0\0", 8),
         std::u16string(u"A\0*PNP0501\0\0", 12)},
    };
    const Utf16Char* id = SerialPortHardwareId(0);
    for (const Row& r : rows) {
        const Utf16Char* list = r.nullList ? nullptr : reinterpret_cast<const Utf16Char*>(r.list.data());
        const uint32_t needed = AppendedMultiSzUnits(list, id);
        EXPECT_EQ(r.expected.size(), needed) << r.what;
        std::u16string out(needed + 2, u'#');
        auto* outp = reinterpret_cast<Utf16Char*>(&out[0]);
        EXPECT_FALSE(AppendToMultiSz(outp, needed - 1, list, id)) << r.what;
        EXPECT_EQ(u'#', out[0]) << r.what << ": a refused edit writes nothing";
        ASSERT_TRUE(AppendToMultiSz(outp, needed, list, id)) << r.what;
        EXPECT_EQ(r.expected, out.substr(0, needed)) << r.what;
        EXPECT_EQ(u'#', out[needed]) << r.what;
    }
}

TEST(HardwareIds, ListWithoutAnEndIsRefused)
{
    std::u16string endless(kMaxMultiSzUnits + 4, u'A');
    endless[10] = 0;  // entries, but never an empty string within the bound
    endless[kMaxMultiSzUnits + 2] = 0;
    endless[kMaxMultiSzUnits + 3] = 0;
    const auto* list = reinterpret_cast<const Utf16Char*>(endless.data());
    EXPECT_EQ(0u, AppendedMultiSzUnits(list, SerialPortHardwareId(1)));
    Utf16Char out[16];
    EXPECT_FALSE(AppendToMultiSz(out, 16, list, SerialPortHardwareId(1)));
}
