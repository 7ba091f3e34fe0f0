// The user interface's portable rules: the settings dialog's lists and results, the port
// list's strip, walk and layout, the monitor's widths and indicator cache, the stripes.
#include <gtest/gtest.h>

#include <vector>

#include "conf_dlg_core.h"
#include "monitor_core.h"
#include "port_list_core.h"

using namespace pta;
using namespace pta::ui;

namespace {

// A map of configured ports: COM number -> slot (slots far from the COM numbers).
PortConfigMap Ports(std::initializer_list<std::pair<uint32_t, uint32_t>> comToSlot)
{
    PortConfigMap map;
    for (auto [com, slot] : comToSlot) {
        PortSettings s;
        s.ComNumber = com;
        s.PortNumber = slot;
        InsertPortSettings(map, s);
    }
    return map;
}

std::vector<std::pair<std::string, int32_t>> Entries(const std::vector<ConfListEntry>& list)
{
    std::vector<std::pair<std::string, int32_t>> out;
    for (const auto& e : list) out.emplace_back(e.Text, e.Number);
    return out;
}

using EntryList = std::vector<std::pair<std::string, int32_t>>;

}  // namespace

// --- Settings dialog lists ---

TEST(ConfDlgLists, ConfigureListsConfiguredPortsCarryingComMinusOne)
{
    const auto ports = Ports({{10, 7}, {3, 0}, {4, 200}});
    EXPECT_EQ((EntryList{{"COM3", 2}, {"COM4", 3}, {"COM10", 9}}), Entries(ConfigureStartList(ports)));
    EXPECT_TRUE(ConfigureStartList({}).empty());
}

TEST(ConfDlgLists, AddSkipsConfiguredAndClaimedNumbers)
{
    const auto ports = Ports({{6, 1}});
    std::vector<uint8_t> usage(1024, 0);
    usage[7 - 1] = 1;  // COM7 claimed
    const auto list = AddStartList(ports, 5, &usage);
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ((EntryList{{"COM5", 0}, {"COM8", 3}}), Entries({list[0], list[1]}));
    // Without the database's usage only the configured number is left out.
    const auto wide = AddStartList(ports, 5, nullptr);
    EXPECT_EQ((EntryList{{"COM5", 0}, {"COM7", 2}, {"COM8", 3}}), Entries({wide[0], wide[1], wide[2]}));
    EXPECT_EQ(255u, wide.size());
}

TEST(ConfDlgLists, OffsetListsStopAtCom1024)
{
    const auto add = AddStartList({}, 1000, nullptr);
    ASSERT_EQ(25u, add.size());
    EXPECT_EQ("COM1024", add.back().Text);
    EXPECT_EQ(24, add.back().Number);
    EXPECT_EQ(256u, AddStartList({}, 1, nullptr).size());
    EXPECT_TRUE(AddStartList({}, 0, nullptr).empty());
}

TEST(ConfDlgLists, RemoveListsConfiguredNumbersFromTheFirst)
{
    const auto ports = Ports({{2, 0}, {5, 1}, {9, 2}, {300, 3}});
    EXPECT_EQ((EntryList{{"COM5", 0}, {"COM9", 4}}), Entries(RemoveStartList(ports, 5)));
}

TEST(ConfDlgLists, RunLengthIsOneToThirtyTwo)
{
    const auto list = RunLengthList();
    ASSERT_EQ(32u, list.size());
    EXPECT_EQ("1", list.front().Text);
    EXPECT_EQ(1, list.front().Number);
    EXPECT_EQ("32", list.back().Text);
    EXPECT_EQ(32, list.back().Number);
}

TEST(ConfDlgLists, DecimalTextReadsLeadingDigits)
{
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {{"", 0}, {"12", 12}, {"4001", 4001}, {"12abc", 12}, {"x1", 0},
                 {"2147483647", 2147483647}, {"99999999999", 2147483647}, {"-5", 0}};
    for (const auto& c : cases) EXPECT_EQ(c.value, DecimalOf(c.text)) << c.text;
}

// --- Settings dialog OK ---

namespace {

ConfDlgInputs Inputs()
{
    ConfDlgInputs in;
    in.IpAddress = 0x0A000005;
    in.TcpPortText = "4001";
    in.ProtocolIndex = 2;
    in.RxIndex = 0;
    in.StartNumber = 3;
    in.RunNumber = 4;
    in.RunText = "12";
    in.Comment1 = "first";
    in.Comment2 = std::string(80, 'c');
    return in;
}

}  // namespace

TEST(ConfDlgOkRules, EachModeTakesItsFields)
{
    ConfDlgResult previous;
    previous.IpAddress = 1;
    previous.TcpPort = 2;
    previous.Protocol = 1;
    previous.AliveRxIndex = previous.AliveTxIndex = 1;
    previous.Comment1 = "old";

    const ConfDlgResult configure = ConfDlgOk(ConfDlgMode::Configure, Inputs(), previous, nullptr);
    EXPECT_EQ(0x0A000005u, configure.IpAddress);
    EXPECT_EQ(4001, configure.TcpPort);
    EXPECT_EQ(2, configure.Protocol);
    EXPECT_EQ(0, configure.AliveRxIndex);
    EXPECT_EQ(0, configure.AliveTxIndex);
    EXPECT_EQ(3, configure.StartItem);
    EXPECT_EQ(4, configure.Count) << "typed text does not count in configure mode";
    EXPECT_EQ("first", configure.Comment1);
    EXPECT_EQ(63u, configure.Comment2.size());

    const ConfDlgResult remove = ConfDlgOk(ConfDlgMode::Remove, Inputs(), previous, nullptr);
    EXPECT_EQ(1u, remove.IpAddress) << "remove mode keeps the settings as they were";
    EXPECT_EQ("old", remove.Comment1);
    EXPECT_EQ(3, remove.StartItem);
    EXPECT_EQ(4, remove.Count);

    ConfDlgSettings record;
    const ConfDlgResult add = ConfDlgOk(ConfDlgMode::Add, Inputs(), previous, &record);
    EXPECT_EQ(12, add.Count) << "typed text counts in add mode";
    EXPECT_EQ(0x0A000005u, record.IpAddress);
    EXPECT_EQ(4001u, record.TcpPort);
    EXPECT_EQ(2u, record.Protocol);
    EXPECT_EQ(0u, record.AliveRxIndex);
    EXPECT_EQ(0u, record.AliveTxIndex);
    EXPECT_EQ("first", record.Comment1);
}

TEST(ConfDlgOkRules, NothingSelectedGivesMinusOneAndAnEmptyRunZero)
{
    ConfDlgInputs in = Inputs();
    in.StartNumber.reset();
    in.RunNumber.reset();
    in.RunText.clear();
    for (ConfDlgMode mode : {ConfDlgMode::Add, ConfDlgMode::Remove, ConfDlgMode::Configure}) {
        const ConfDlgResult r = ConfDlgOk(mode, in, {}, nullptr);
        EXPECT_EQ(-1, r.StartItem);
        EXPECT_EQ(0, r.Count);
    }
}

// --- Port list page ---

TEST(PortListRules, ColumnWidthsDivideTheClientWidth)
{
    EXPECT_EQ((std::array<int, 7>{90, 144, 80, 90, 80, 120, 120}), PortListColumnWidths(720));
    EXPECT_EQ((std::array<int, 7>{0, 0, 0, 0, 0, 0, 0}), PortListColumnWidths(4));
}

TEST(PortListRules, StripFieldNamesAConfiguredPort)
{
    const auto ports = Ports({{5, 40}, {1024, 255}});
    const struct {
        const char* field;
        int32_t slot;
    } cases[] = {{"COM5", 40}, {"5", 40}, {"COM1024", 255}, {"", -1}, {"COM6", -1},
                 {"COM5x", -1}, {"COM", -1}, {"COM0", -1}};
    for (const auto& c : cases) EXPECT_EQ(c.slot, StripPortNumber(ports, c.field)) << c.field;
}

TEST(PortListRules, KeepAliveChoice)
{
    EXPECT_EQ(25000u, KeepAliveOfIndex(0).RxMs);
    EXPECT_EQ(10000u, KeepAliveOfIndex(0).TxMs);
    for (int32_t index : {1, -1, 2}) {
        EXPECT_EQ(7000u, KeepAliveOfIndex(index).RxMs);
        EXPECT_EQ(2500u, KeepAliveOfIndex(index).TxMs);
    }
    EXPECT_EQ(1, RxIndexOf(7000));
    for (uint32_t rx : {25000u, 9000u, 0u}) EXPECT_EQ(0, RxIndexOf(rx)) << rx;
}

TEST(PortListRules, MultiportWalkSkipsUnconfiguredNumbers)
{
    const auto ports = Ports({{3, 10}, {4, 11}, {9, 12}, {10, 13}, {11, 14}});
    const auto walk = MultiportWalk(ports, 3, 4, 5000);
    ASSERT_EQ(4u, walk.size());
    const uint32_t coms[] = {3, 4, 9, 10};
    for (size_t i = 0; i < walk.size(); ++i) {
        EXPECT_EQ(coms[i], walk[i].ComNumber);
        EXPECT_EQ(10 + i, walk[i].PortNumber);
        EXPECT_EQ(5000 + i, walk[i].TcpPort);
    }
}

TEST(PortListRules, MultiportWalkEndsAtCom1024AndAtTheLastTcpPort)
{
    const auto ports = Ports({{5, 0}, {6, 1}, {1000, 2}, {1024, 3}});
    const auto walk = MultiportWalk(ports, 6, 32, 4001);
    ASSERT_EQ(3u, walk.size());
    EXPECT_EQ(1024u, walk.back().ComNumber);
    EXPECT_EQ(4003u, walk.back().TcpPort);

    const auto high = MultiportWalk(ports, 5, 4, 65534);
    ASSERT_EQ(2u, high.size()) << "no port is given a TCP port above 65535";
    EXPECT_EQ(65535u, high.back().TcpPort);

    EXPECT_TRUE(MultiportWalk(ports, 5, 0, 4001).empty());
    EXPECT_TRUE(MultiportWalk(ports, 1025, 4, 4001).empty());
    EXPECT_EQ(1u, MultiportWalk(ports, 1024, 4, 4001).size());
}

TEST(PortListRules, StripFieldWidthSteps)
{
    // Initial width 76 gives the unit 20; a base width of 400 gives steps of 100 pixels.
    const struct {
        int pageWidth;
        int width;
    } cases[] = {{460, 80}, {260, 20}, {360, 60}, {459, 60}, {660, 120}, {760, 140}, {2000, 140}, {0, 20}};
    for (const auto& c : cases) EXPECT_EQ(c.width, StripFieldWidth(76, c.pageWidth, 400)) << c.pageWidth;
    EXPECT_EQ(20, StripFieldWidth(76, 900, 0)) << "no base width yet";
}

// --- Monitor ---

TEST(MonitorRules, ColumnWidthsFromTheUnit)
{
    const auto w = MonitorColumnWidths(190);
    EXPECT_EQ(20, w[0]);
    EXPECT_EQ(50, w[1]);
    EXPECT_EQ(20, w[2]);
    for (int i = 3; i < 13; ++i) EXPECT_EQ(10, w[i]) << i;
    const auto wide = MonitorColumnWidths(1000);  // U = 57
    EXPECT_EQ(114, wide[0]);
    EXPECT_EQ(1000 - 14 * 57, wide[1]);
}

TEST(MonitorRules, AddressWithPort)
{
    EXPECT_EQ("10.0.0.5 (4001)", AddressWithPort(0x0A000005, 4001));
    EXPECT_EQ("0.0.0.0 (0)", AddressWithPort(0, 0));
}

TEST(MonitorRules, ClosedPortShowsLinesAndTrafficGrey)
{
    IndicatorCache cache;
    cache.Invalidate(1);
    const uint32_t closed[10] = {1, 2, 5, 3, 4, 2, 2, 2, 2, 2};
    std::vector<std::pair<int, uint32_t>> sent;
    cache.UpdateRow(0, closed, [&](int column, uint32_t image) { sent.emplace_back(column, image); });
    const std::vector<std::pair<int, uint32_t>> expected = {{3, 1}, {4, 2}, {5, 5}, {6, 1}, {7, 1},
                                                            {8, 1}, {9, 1}, {10, 1}, {11, 1}, {12, 1}};
    EXPECT_EQ(expected, sent);
}

TEST(MonitorRules, OnlyChangedCellsAreSentAndARebuildSendsAll)
{
    IndicatorCache cache;
    cache.Invalidate(2);
    uint32_t open[10] = {2, 2, 1, 3, 1, 2, 2, 2, 2, 2};
    int calls = 0;
    auto count = [&](int, uint32_t) { ++calls; };
    EXPECT_EQ(10, cache.UpdateRow(1, open, count));
    EXPECT_EQ(0, cache.UpdateRow(1, open, count)) << "a tick that changes nothing sends nothing";
    open[3] = 1;  // TX back to grey
    open[6] = 1;  // CTS off
    EXPECT_EQ(2, cache.UpdateRow(1, open, count));
    EXPECT_EQ(1u, cache.Cell(1, 3));
    cache.Invalidate(2);
    EXPECT_EQ(10, cache.UpdateRow(1, open, count)) << "after a rebuild every cell is drawn once";
    const uint32_t empty[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    cache.Invalidate(1);
    EXPECT_EQ(10, cache.UpdateRow(0, empty, count)) << "even the empty image is drawn after a rebuild";
    EXPECT_EQ(0, cache.UpdateRow(256, open, count));
    EXPECT_EQ(0, cache.UpdateRow(-1, open, count));
}

TEST(MonitorRules, StripesFollowTheRowIndex)
{
    for (int row : {0, 2, 100, 254}) EXPECT_EQ(0xFFFFFFu, StripeColour(row, 0xFFFFFF, 0xF7F7F7));
    for (int row : {1, 3, 101, 255}) EXPECT_EQ(0xF7F7F7u, StripeColour(row, 0xFFFFFF, 0xF7F7F7));
}

TEST(MonitorRules, CustomDrawAnswers)
{
    const struct {
        uint32_t stage;
        uint32_t result;
        bool colours;
    } cases[] = {
        {0x1, 0x20, false},      // prepaint: item notifications
        {0x10001, 0x20, true},   // item prepaint: black text, sub-item notifications
        {0x30001, 0x0, true},    // sub-item prepaint: stripe background, default drawing
        {0x2, 0x0, false},       // postpaint
        {0x10002, 0x0, false},   // item postpaint
    };
    for (const auto& c : cases) {
        const CustomDrawAnswer answer = CustomDrawFor(c.stage);
        EXPECT_EQ(c.result, answer.result) << std::hex << c.stage;
        EXPECT_EQ(c.colours, answer.setTextColours) << std::hex << c.stage;
    }
}
