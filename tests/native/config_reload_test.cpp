// The port map, COM numbers of port names, comments, and the reload rules against a table
// that stands in for the registry and the workers.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "port_reload.h"
#include "registry_layout.h"

using namespace pta;

TEST(PortConfigMap, OrderedByComNumberAndFirstInsertWins)
{
    PortConfigMap map;
    PortSettings a;
    a.PortNumber = 3;
    a.ComNumber = 9;
    PortSettings b = a;
    b.PortNumber = 7;
    PortSettings c = a;
    c.PortNumber = 8;
    c.ComNumber = 4;
    EXPECT_TRUE(InsertPortSettings(map, a));
    EXPECT_FALSE(InsertPortSettings(map, b));
    EXPECT_TRUE(InsertPortSettings(map, c));
    ASSERT_EQ(2u, map.size());
    EXPECT_EQ(4u, map.begin()->first);
    EXPECT_EQ(8u, map.begin()->second.PortNumber);
    EXPECT_EQ(3u, map.at(9).PortNumber);
    for (const auto& entry : map) EXPECT_EQ(1u, entry.second.Valid);
}

TEST(PortName, ComNumberAfterRemovingEveryCom)
{
    const struct {
        const char* name;
        uint32_t number;  // 0: no number
    } cases[] = {
        {"COM5", 5},    {"COM12", 12}, {"COM1024", 1024}, {"COM1", 1},   {"COMCOM7", 7},
        {"COM0", 0},    {"COM1025", 0}, {"COM", 0},       {"", 0},       {"COM12a", 0},
        {"com5", 0},    {"LPT1", 0},    {"COM 5", 0},     {"COM-5", 0},  {"COM99999", 0},
        {"COM0012", 12},
    };
    for (const auto& c : cases) {
        const std::optional<uint32_t> number = ComNumberFromPortName(c.name);
        EXPECT_EQ(c.number, number.value_or(0)) << c.name;
    }
}

namespace {

bool TestLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

}  // namespace

TEST(Comment, CutTo63Bytes)
{
    const std::string exact(63, 'x');
    EXPECT_EQ(exact, CutComment(exact));
    EXPECT_EQ(exact, CutComment(exact + "yz"));
    EXPECT_EQ("", CutComment(""));
    EXPECT_EQ("short", CutComment("short"));
}

TEST(Comment, CutNeverSplitsADoubleByteCharacter)
{
    // 62 single bytes then a two-byte character: the character would straddle the cut.
    const std::string text = std::string(62, 'a') + "\xB0\xA1" + "b";
    EXPECT_EQ(std::string(62, 'a'), CutComment(text, TestLeadByte));
    // Whole characters up to the limit are kept.
    const std::string pairs = std::string(61, 'a') + "\xB0\xA1" + "cd";
    EXPECT_EQ(std::string(61, 'a') + "\xB0\xA1", CutComment(pairs, TestLeadByte));
    // Without a code page every byte counts alone.
    EXPECT_EQ(63u, CutComment(text).size());
}

TEST(KeepAlive, TxFollowsThePairOfRx)
{
    EXPECT_EQ(2500u, AliveTxFor(7000));
    EXPECT_EQ(10000u, AliveTxFor(25000));
    EXPECT_EQ(2500u, AliveTxFor(12345));
    EXPECT_EQ(1u, IsShortAlive(7000));
    EXPECT_EQ(0u, IsShortAlive(25000));
}

namespace {

// One slot's registry values and its worker.
struct FakeSlot {
    std::map<std::string, uint32_t> dwords;
    std::map<std::string, std::string> strings;
    std::set<std::string> odd;  // present but unusable
    std::optional<std::string> portName;
    bool hasWorker = true;
    bool inUse = false;
    bool refreshOk = true;
    bool comPortWriteOk = true;
    std::vector<uint32_t> refreshed;
};

class FakeHost : public PortReloadHost {
public:
    std::map<uint32_t, FakeSlot> slots;
    std::vector<std::string> messages;
    std::vector<std::string> writes;  // "slot:name"

    // A slot with every value present.
    FakeSlot& Complete(uint32_t slot, uint32_t comPort)
    {
        FakeSlot& s = slots[slot];
        s.dwords = {{EncryptionValue, 1},     {IpAddressValue, 0x0A000001}, {TcpPortValue, 4001},
                    {ComPortValue, comPort},  {AliveRxTimerValue, 25000},   {AliveTxTimerValue, 10000}};
        s.strings = {{Comment1Value, "first"}, {Comment2Value, "second"}};
        return s;
    }

    bool SlotListed(uint32_t slot) override
    {
        auto it = slots.find(slot);
        return it != slots.end() && it->second.hasWorker;
    }
    std::optional<std::string> PortName(uint32_t slot) override { return slots[slot].portName; }

    ValueRead ReadSlotDword(uint32_t slot, const char* name, uint32_t& value) override
    {
        value = 0;
        FakeSlot& s = slots[slot];
        if (s.odd.count(name)) return ValueRead::Unusable;
        auto it = s.dwords.find(name);
        if (it == s.dwords.end()) return ValueRead::Missing;
        value = it->second;
        return ValueRead::Present;
    }
    bool WriteSlotDword(uint32_t slot, const char* name, uint32_t value) override
    {
        writes.push_back(std::to_string(slot) + ":" + name);
        FakeSlot& s = slots[slot];
        if (name == std::string(ComPortValue) && !s.comPortWriteOk) return false;
        s.dwords[name] = value;
        s.odd.erase(name);
        return true;
    }
    ValueRead ReadSlotString(uint32_t slot, const char* name, std::string& text) override
    {
        text.clear();
        FakeSlot& s = slots[slot];
        auto it = s.strings.find(name);
        if (s.odd.count(name)) {
            // What a reader gets of an unusable text: its bytes, uncut.
            if (it != s.strings.end()) text = it->second;
            return ValueRead::Unusable;
        }
        if (it == s.strings.end()) return ValueRead::Missing;
        text = it->second;
        return ValueRead::Present;
    }
    bool WriteSlotString(uint32_t slot, const char* name, const std::string& text) override
    {
        writes.push_back(std::to_string(slot) + ":" + name);
        slots[slot].strings[name] = text;
        slots[slot].odd.erase(name);
        return true;
    }
    bool PortInUse(uint32_t slot) override { return slots[slot].inUse; }
    bool RefreshPortNames(uint32_t slot, uint32_t comNumber) override
    {
        slots[slot].refreshed.push_back(comNumber);
        return slots[slot].refreshOk;
    }
    void ShowError(const std::string& text) override { messages.push_back(text); }
};

}  // namespace

TEST(Reload, NothingConfiguredGivesAnEmptyMap)
{
    FakeHost host;
    PortConfigMap map;
    InsertPortSettings(map, PortSettings{});  // a previous map's entry goes away
    EXPECT_EQ(0, BuildPortConfigMap(host, map));
    EXPECT_TRUE(map.empty());
}

TEST(Reload, ACompleteSlotIsListedAsStored)
{
    FakeHost host;
    host.Complete(4, 7).portName = "COM7";
    PortConfigMap map;
    EXPECT_EQ(1, BuildPortConfigMap(host, map));
    ASSERT_EQ(1u, map.count(7));
    const PortSettings& s = map.at(7);
    EXPECT_EQ(4u, s.PortNumber);
    EXPECT_EQ(7u, s.ComNumber);
    EXPECT_EQ(0x0A000001u, s.IpAddress);
    EXPECT_EQ(4001u, s.TcpPort);
    EXPECT_EQ(1u, s.Protocol);
    EXPECT_EQ(0u, s.AliveRxShort);
    EXPECT_EQ(0u, s.AliveTxShort);
    EXPECT_EQ("first", s.Comment1);
    EXPECT_EQ("second", s.Comment2);
    EXPECT_EQ(1u, s.Valid);
    EXPECT_TRUE(host.writes.empty());
    EXPECT_TRUE(host.messages.empty());
}

TEST(Reload, ASlotWithoutWorkerIsLeftOut)
{
    FakeHost host;
    host.Complete(1, 3).hasWorker = false;
    PortConfigMap map;
    EXPECT_EQ(0, BuildPortConfigMap(host, map));
}

TEST(Reload, SameComPortKeepsTheLowerSlot)
{
    FakeHost host;
    host.Complete(9, 5);
    host.Complete(2, 5);
    host.Complete(0, 6);
    PortConfigMap map;
    EXPECT_EQ(1, BuildPortConfigMap(host, map));
    ASSERT_EQ(2u, map.size());
    EXPECT_EQ(2u, map.at(5).PortNumber);
    EXPECT_EQ(0u, map.at(6).PortNumber);
}

TEST(Reload, MissingKeepAliveTimesAreStoredAsAPair)
{
    const struct {
        std::optional<uint32_t> rx, tx;
        uint32_t storedRx, storedTx, shortFlag;
    } cases[] = {
        {std::nullopt, std::nullopt, 7000, 2500, 1},
        {std::nullopt, 10000, 7000, 10000, 1},  // a present value is never replaced
        {25000, std::nullopt, 25000, 10000, 0},
        {7000, std::nullopt, 7000, 2500, 1},
        {9000, std::nullopt, 9000, 2500, 0},
    };
    for (const auto& c : cases) {
        FakeHost host;
        FakeSlot& s = host.Complete(0, 5);
        s.dwords.erase(AliveRxTimerValue);
        s.dwords.erase(AliveTxTimerValue);
        if (c.rx) s.dwords[AliveRxTimerValue] = *c.rx;
        if (c.tx) s.dwords[AliveTxTimerValue] = *c.tx;
        PortConfigMap map;
        EXPECT_EQ(1, BuildPortConfigMap(host, map));
        EXPECT_EQ(c.storedRx, s.dwords[AliveRxTimerValue]);
        EXPECT_EQ(c.storedTx, s.dwords[AliveTxTimerValue]);
        EXPECT_EQ(c.shortFlag, map.at(5).AliveRxShort);
        EXPECT_EQ(c.shortFlag, map.at(5).AliveTxShort);
    }
}

TEST(Reload, MissingRequiredValuesLeaveTheSlotOutAndWriteNothing)
{
    const char* required[] = {EncryptionValue, IpAddressValue, TcpPortValue, ComPortValue};
    for (const char* name : required) {
        FakeHost host;
        FakeSlot& s = host.Complete(0, 5);
        s.portName = "COM8";  // a pending change must not be applied either
        s.dwords.erase(name);
        PortConfigMap map;
        EXPECT_EQ(0, BuildPortConfigMap(host, map)) << name;
        EXPECT_TRUE(host.writes.empty()) << name;
        EXPECT_TRUE(s.refreshed.empty()) << name;
    }
}

// A value that is there but cannot be used never hides the port: what has a default is
// stored again, what has none is shown as the worker uses it (0) and left to the user.
TEST(Reload, UnusableValuesNeverHideThePort)
{
    const struct {
        const char* name;
        std::vector<std::string> writes;
        uint32_t protocol, ip, tcpPort, aliveShort;
    } cases[] = {
        {EncryptionValue, {}, 0, 0x0A000001, 4001, 0},
        {IpAddressValue, {}, 1, 0, 4001, 0},
        {TcpPortValue, {}, 1, 0x0A000001, 0, 0},
        {AliveRxTimerValue, {"0:AliveRxTimer"}, 1, 0x0A000001, 4001, 1},
        {AliveTxTimerValue, {"0:AliveTxTimer"}, 1, 0x0A000001, 4001, 0},
        {Comment1Value, {"0:Comment_1"}, 1, 0x0A000001, 4001, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost host;
        FakeSlot& s = host.Complete(0, 5);
        s.odd.insert(c.name);
        PortConfigMap map;
        EXPECT_EQ(1, BuildPortConfigMap(host, map));
        ASSERT_EQ(1u, map.count(5));
        const PortSettings& p = map.at(5);
        EXPECT_EQ(c.protocol, p.Protocol);
        EXPECT_EQ(c.ip, p.IpAddress);
        EXPECT_EQ(c.tcpPort, p.TcpPort);
        EXPECT_EQ(c.aliveShort, p.AliveRxShort);
        EXPECT_EQ("first", p.Comment1);
        EXPECT_EQ(c.writes, host.writes);
        EXPECT_TRUE(host.messages.empty());
        // A repaired value needs nothing more at the next reload.
        host.writes.clear();
        EXPECT_EQ(1, BuildPortConfigMap(host, map));
        EXPECT_TRUE(host.writes.empty());
    }
    // Repaired keep-alive times are the default pair.
    FakeHost host;
    FakeSlot& s = host.Complete(0, 5);
    s.odd = {AliveRxTimerValue, AliveTxTimerValue};
    PortConfigMap map;
    EXPECT_EQ(1, BuildPortConfigMap(host, map));
    EXPECT_EQ(7000u, s.dwords[AliveRxTimerValue]);
    EXPECT_EQ(2500u, s.dwords[AliveTxTimerValue]);
}

TEST(Reload, UnusableComPortIsTakenFromThePortName)
{
    FakeHost host;
    FakeSlot& s = host.Complete(2, 5);
    s.odd.insert(ComPortValue);
    s.portName = "COM9";
    PortConfigMap map;
    EXPECT_EQ(1, BuildPortConfigMap(host, map));
    ASSERT_EQ(1u, map.count(9));
    EXPECT_EQ(9u, s.dwords[ComPortValue]);
    EXPECT_TRUE(s.refreshed.empty());  // the port already goes by that name
    EXPECT_TRUE(host.messages.empty());

    // Without a name the port cannot be named: left out, as with a missing number.
    FakeHost nameless;
    nameless.Complete(2, 5).odd.insert(ComPortValue);
    EXPECT_EQ(0, BuildPortConfigMap(nameless, map));
    EXPECT_TRUE(nameless.writes.empty());
}

TEST(Reload, UnusableCommentKeepsWhatCouldBeReadOfIt)
{
    FakeHost host;
    FakeSlot& s = host.Complete(0, 5);
    s.odd.insert(Comment2Value);
    s.strings[Comment2Value] = std::string(70, 'c');  // what the reader got of it
    PortConfigMap map;
    EXPECT_EQ(1, BuildPortConfigMap(host, map));
    EXPECT_EQ(std::string(63, 'c'), map.at(5).Comment2);
    EXPECT_EQ(std::string(63, 'c'), s.strings[Comment2Value]);
    EXPECT_EQ("first", map.at(5).Comment1);
}

TEST(Reload, MissingCommentsAreCreatedAndListedNextTime)
{
    const struct {
        bool keep1, keep2;
    } cases[] = {{false, true}, {true, false}, {false, false}};
    for (const auto& c : cases) {
        FakeHost host;
        FakeSlot& s = host.Complete(0, 5);
        if (!c.keep1) s.strings.erase(Comment1Value);
        if (!c.keep2) s.strings.erase(Comment2Value);
        PortConfigMap map;
        EXPECT_EQ(0, BuildPortConfigMap(host, map));
        EXPECT_EQ(1u, s.strings.count(Comment1Value));
        EXPECT_EQ(1u, s.strings.count(Comment2Value));
        EXPECT_EQ(1, BuildPortConfigMap(host, map));
        EXPECT_EQ(c.keep1 ? "first" : "", map.at(5).Comment1);
        EXPECT_EQ(c.keep2 ? "second" : "", map.at(5).Comment2);
    }
}

TEST(Reload, ComNumberChangedInDeviceManager)
{
    const struct {
        const char* what;
        std::optional<std::string> portName;
        bool inUse, refreshOk, writeOk;
        uint32_t key, stored;
        size_t refreshes;
        const char* message;
    } cases[] = {
        {"applied", "COM12", false, true, true, 12, 12, 1, nullptr},
        {"in use", "COM12", true, true, true, 5, 5, 0,
         "COM port number of COM5 has changed to COM12 while in use.\nCannot apply now"},
        {"driver refuses", "COM12", false, false, true, 5, 5, 1,
         "Failed to apply change of COM port number (COM5 -> COM12)"},
        {"cannot store", "COM12", false, true, false, 5, 5, 1,
         "Failed to apply change of COM port number (COM5 -> COM12)"},
        {"unchanged", "COM5", false, true, true, 5, 5, 0, nullptr},
        {"no name", std::nullopt, false, true, true, 5, 5, 0, nullptr},
        {"damaged name", "COMx", false, true, true, 5, 5, 0, nullptr},
        {"out of range", "COM0", false, true, true, 5, 5, 0, nullptr},
    };
    for (const auto& c : cases) {
        FakeHost host;
        FakeSlot& s = host.Complete(3, 5);
        s.portName = c.portName;
        s.inUse = c.inUse;
        s.refreshOk = c.refreshOk;
        s.comPortWriteOk = c.writeOk;
        PortConfigMap map;
        EXPECT_EQ(1, BuildPortConfigMap(host, map)) << c.what;
        ASSERT_EQ(1u, map.count(c.key)) << c.what;
        EXPECT_EQ(c.key, map.at(c.key).ComNumber) << c.what;
        EXPECT_EQ(c.stored, s.dwords[ComPortValue]) << c.what;
        ASSERT_EQ(c.refreshes, s.refreshed.size()) << c.what;
        if (c.refreshes) {
            EXPECT_EQ(12u, s.refreshed[0]) << c.what;
        }
        if (c.message) {
            EXPECT_EQ(std::vector<std::string>{c.message}, host.messages) << c.what;
        } else {
            EXPECT_TRUE(host.messages.empty()) << c.what;
        }
    }
}

TEST(Reload, AChangeOntoATakenNumberKeepsTheLowerSlot)
{
    // Slot 1 moves to COM5, which slot 0 holds already: the lower slot keeps the number.
    FakeHost host;
    host.Complete(0, 5);
    host.Complete(1, 9).portName = "COM5";
    PortConfigMap map;
    EXPECT_EQ(1, BuildPortConfigMap(host, map));
    EXPECT_EQ(1u, map.size());
    EXPECT_EQ(0u, map.at(5).PortNumber);
}
