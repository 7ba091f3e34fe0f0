// The port list page under Wine: the list, a row click, Apply Settings, the forced close,
// the multiport configuration through the settings dialog, the open state from a worker's
// thread, the layout, the header guard and the about box.
#include "ui_harness.h"

#include "port_list_page.h"
#include "resource.h"

using namespace pta_test;

namespace {

class PortListTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitControls(); }
    void TearDown() override
    {
        host_.reset();
        ports_.RemoveAll();
    }

    void Show()
    {
        host_ = std::make_unique<PageHost>(page_);
        ASSERT_TRUE(host_->Created());
        Refresh();
    }
    void Refresh()
    {
        host_->Run([&] { page_.RefreshPortList(); });
    }
    HWND Item(int id) const { return GetDlgItem(page_.Hwnd(), id); }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    // A click on a row, as the list sends it to the page.
    void ClickRow(int row)
    {
        NMITEMACTIVATE click{};
        click.hdr.hwndFrom = page_.List().Hwnd();
        click.hdr.idFrom = IDC_PORT_LIST;
        click.hdr.code = NM_CLICK;
        click.iItem = row;
        SendMessageA(page_.Hwnd(), WM_NOTIFY, IDC_PORT_LIST, reinterpret_cast<LPARAM>(&click));
    }
    int RowOf(const std::string& com)
    {
        for (int row = 0; row < page_.List().RowCount(); ++row)
            if (page_.List().CellText(row, 0) == com) return row;
        return -1;
    }

    UiPorts ports_;
    BoxRecorder boxes_;
    CComPortaraDlg page_{ports_};
    std::unique_ptr<PageHost> host_;
};

}  // namespace

TEST_F(PortListTest, NoPortsEmptyListAndApplyCannotFindAPort)
{
    Show();
    EXPECT_EQ(0, page_.List().RowCount());
    EXPECT_FALSE(Enabled(IDC_FORCE_CLOSE));
    EXPECT_FALSE(Enabled(IDC_TX));
    Click(page_.Hwnd(), IDC_APPLY);
    Click(page_.Hwnd(), IDC_FORCE_CLOSE);
    const auto boxes = boxes_.Boxes();
    ASSERT_EQ(2u, boxes.size());
    for (const ShownBox& box : boxes) {
        EXPECT_EQ("Unable to query port information", box.text);
        EXPECT_EQ("ERROR", box.caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONSTOP), box.flags & MB_ICONMASK);
    }
}

TEST_F(PortListTest, ColumnsAndRowsInComNumberOrder)
{
    ports_.Configure(90, 12, 1, 0x0A000005, 4005);
    ports_.Configure(91, 3, 7, 0xC0A80001, 950);
    ports_.Fake(90)->inUse = true;
    Show();
    const char* headings[] = {"COM Port", "IP Address", "Port", "Protocol", "Act", "Comment #1", "Comment #2"};
    for (int i = 0; i < 7; ++i) {
        char text[64] = {};
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT;
        column.pszText = text;
        column.cchTextMax = sizeof text;
        page_.List().Send(LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
        EXPECT_STREQ(headings[i], text);
    }
    EXPECT_EQ(0x23u, static_cast<DWORD>(page_.List().Send(LVM_GETEXTENDEDLISTVIEWSTYLE)));
    ASSERT_EQ(2, page_.List().RowCount());
    const std::vector<std::string> first = {"COM3", "192.168.0.1", "950", "UNKNOWN", "Closed", "", ""};
    const std::vector<std::string> second = {"COM12", "10.0.0.5", "4005", "Encryption", "Open", "", ""};
    for (int c = 0; c < 7; ++c) {
        EXPECT_EQ(first[c], page_.List().CellText(0, c)) << c;
        EXPECT_EQ(second[c], page_.List().CellText(1, c)) << c;
    }
    EXPECT_EQ(3, page_.List().RowParameter(0)) << "an unknown protocol is kept as code 3";
    EXPECT_EQ(1, page_.List().RowParameter(1));
    EXPECT_EQ(91, page_.RowPort(0));
    EXPECT_EQ(90, page_.RowPort(1));
    EXPECT_EQ(-1, page_.RowPort(2));

    const int w = page_.List().ClientWidth();
    const int expected[] = {w / 8, w / 5, w / 9, w / 8, w / 9, w / 6, w / 6};
    for (int c = 0; c < 7; ++c) EXPECT_EQ(expected[c], page_.List().ColumnWidth(c)) << c;
}

TEST_F(PortListTest, RowClickFillsTheStripAndAnUnknownProtocolSelectsNothing)
{
    ports_.Configure(90, 5, 7, 0x0A000001, 4001);
    ports_.WriteString(SlotSubkey(90).c_str(), Comment1Value, "left");
    ports_.WriteString(SlotSubkey(90).c_str(), Comment2Value, "right");
    Show();
    ClickRow(0);
    EXPECT_EQ("COM5", TextOf(Item(IDC_COM_EDIT)));
    EXPECT_EQ("10.0.0.1", TextOf(Item(IDC_IP_EDIT)));
    EXPECT_EQ("4001", TextOf(Item(IDC_PORT_EDIT)));
    EXPECT_EQ("left", TextOf(Item(IDC_COMMENT1)));
    EXPECT_EQ("right", TextOf(Item(IDC_COMMENT2)));
    EXPECT_EQ(-1, ComboSelected(Item(IDC_PROTOCOL)));
    EXPECT_EQ(1, ComboSelected(Item(IDC_RX))) << "7000 is the short choice";
    EXPECT_EQ(1, ComboSelected(Item(IDC_TX)));
    EXPECT_FALSE(Enabled(IDC_FORCE_CLOSE)) << "the port is not open";
    EXPECT_EQ(LVIS_SELECTED, page_.List().Send(LVM_GETITEMSTATE, 0, LVIS_SELECTED));
}

TEST_F(PortListTest, MissingKeepAliveIsWrittenAsTheShortPair)
{
    ports_.Configure(90, 5);
    ports_.DeleteSlotValue(90, AliveRxTimerValue);
    ports_.DeleteSlotValue(90, AliveTxTimerValue);
    Show();
    ClickRow(0);
    EXPECT_EQ(7000u, ports_.SlotValue(90, AliveRxTimerValue));
    EXPECT_EQ(2500u, ports_.SlotValue(90, AliveTxTimerValue));
    EXPECT_EQ(1, ComboSelected(Item(IDC_RX)));
}

TEST_F(PortListTest, RxNineThousandShowsTheLongPairAndApplyWritesIt)
{
    ports_.Configure(90, 5, 0, 0x0A000001, 4001, 9000);
    Show();
    ClickRow(0);
    EXPECT_EQ("25000", TextOf(Item(IDC_RX)));
    EXPECT_EQ("10000", TextOf(Item(IDC_TX)));
    Click(page_.Hwnd(), IDC_APPLY);
    EXPECT_EQ(25000u, ports_.SlotValue(90, AliveRxTimerValue));
    EXPECT_EQ(10000u, ports_.SlotValue(90, AliveTxTimerValue));
    EXPECT_TRUE(boxes_.Boxes().empty());
}

TEST_F(PortListTest, RxChoiceMovesTheTxListAtOnce)
{
    Show();
    Choose(page_.Hwnd(), IDC_RX, 0);
    EXPECT_EQ("10000", TextOf(Item(IDC_TX)));
    Choose(page_.Hwnd(), IDC_RX, 1);
    EXPECT_EQ("2500", TextOf(Item(IDC_TX)));
}

TEST_F(PortListTest, ApplyWritesTheStripToThePortAndRefreshes)
{
    ports_.Configure(90, 5, 0, 0x0A000001, 4001);
    Show();
    ClickRow(0);
    SetWindowTextA(Item(IDC_IP_EDIT), "192.168.7.20");
    SetWindowTextA(Item(IDC_PORT_EDIT), "4100");
    SetWindowTextA(Item(IDC_COMMENT1), "bench rack");
    SetWindowTextA(Item(IDC_COMMENT2), std::string(70, 'z').c_str());
    Choose(page_.Hwnd(), IDC_PROTOCOL, 2);
    Choose(page_.Hwnd(), IDC_RX, 0);
    Click(page_.Hwnd(), IDC_APPLY);
    EXPECT_EQ(2u, ports_.SlotValue(90, EncryptionValue));
    EXPECT_EQ(0xC0A80714u, ports_.SlotValue(90, IpAddressValue));
    EXPECT_EQ(4100u, ports_.SlotValue(90, TcpPortValue));
    EXPECT_EQ(25000u, ports_.SlotValue(90, AliveRxTimerValue));
    EXPECT_EQ(10000u, ports_.SlotValue(90, AliveTxTimerValue));
    EXPECT_EQ("bench rack", ports_.SlotText(90, Comment1Value));
    EXPECT_EQ(63u, ports_.SlotText(90, Comment2Value).size());
    EXPECT_EQ("192.168.7.20", page_.List().CellText(0, 1));
    EXPECT_EQ("4100", page_.List().CellText(0, 2));
    EXPECT_EQ("Raw", page_.List().CellText(0, 3));
    EXPECT_TRUE(boxes_.Boxes().empty());
}

TEST_F(PortListTest, ApplyRefusesABadAddressOrPortAndWritesNothing)
{
    ports_.Configure(90, 5, 1, 0x0A000001, 4001);
    Show();
    const struct {
        const char* address;
        const char* port;
        const char* message;
    } cases[] = {
        {"10.0.0", "4001", "Invalid IP address"},
        {"10.0.0.300", "4001", "Invalid IP address"},
        {"", "4001", "Invalid IP address"},
        {"10.0.0.9", "0", "Invalid TCP port (1-65535)"},
        {"10.0.0.9", "70000", "Invalid TCP port (1-65535)"},
        {"10.0.0.9", "", "Invalid TCP port (1-65535)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " " + c.port);
        ClickRow(0);
        boxes_.Clear();
        SetWindowTextA(Item(IDC_IP_EDIT), c.address);
        SetWindowTextA(Item(IDC_PORT_EDIT), c.port);
        Choose(page_.Hwnd(), IDC_PROTOCOL, 2);
        Click(page_.Hwnd(), IDC_APPLY);
        const auto boxes = boxes_.Boxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(c.message, boxes[0].text);
        EXPECT_EQ("ERROR", boxes[0].caption);
        EXPECT_EQ(0x0A000001u, ports_.SlotValue(90, IpAddressValue));
        EXPECT_EQ(4001u, ports_.SlotValue(90, TcpPortValue));
        EXPECT_EQ(1u, ports_.SlotValue(90, EncryptionValue));
    }
}

TEST_F(PortListTest, AFailedWriteIsReported)
{
    ports_.Configure(90, 5);
    Show();
    ClickRow(0);
    ports_.failWrites = true;
    Click(page_.Hwnd(), IDC_APPLY);
    ports_.failWrites = false;
    const auto boxes = boxes_.Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Failed to save port settings", boxes[0].text);
    EXPECT_EQ("ERROR", boxes[0].caption);
}

TEST_F(PortListTest, ForceCloseAsksAndClosesAnOpenPort)
{
    FakeWorker& worker = ports_.Configure(90, 5);
    worker.inUse = true;
    Show();
    ClickRow(0);
    EXPECT_TRUE(Enabled(IDC_FORCE_CLOSE));

    boxes_.answer = IDCANCEL;
    Click(page_.Hwnd(), IDC_FORCE_CLOSE);
    ASSERT_EQ(1u, boxes_.Boxes().size());
    EXPECT_EQ("This operation may cause unexpected errors. Are you sure?", boxes_.Boxes()[0].text);
    EXPECT_EQ("WARNING", boxes_.Boxes()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OKCANCEL | MB_ICONEXCLAMATION), boxes_.Boxes()[0].flags);
    EXPECT_TRUE(ports_.forceCloses.empty()) << "Cancel closes nothing";

    boxes_.Clear();
    boxes_.answer = IDOK;
    Click(page_.Hwnd(), IDC_FORCE_CLOSE);
    ASSERT_EQ(1u, ports_.forceCloses.size());
    EXPECT_EQ(90, ports_.forceCloses[0].first);
    EXPECT_EQ("COM5", ports_.forceCloses[0].second);
    auto boxes = boxes_.Boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("Port Closed", boxes[1].text);
    EXPECT_EQ(kAppTitle, boxes[1].caption);
    EXPECT_EQ(0u, boxes[1].flags & MB_ICONMASK);
    EXPECT_FALSE(Enabled(IDC_FORCE_CLOSE)) << "the refresh disables it again";

    boxes_.Clear();
    ports_.forceCloseResult = 0;
    Click(page_.Hwnd(), IDC_FORCE_CLOSE);
    boxes = boxes_.Boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("Failed to close port", boxes[1].text);

    boxes_.Clear();
    worker.inUse = false;
    Click(page_.Hwnd(), IDC_FORCE_CLOSE);
    boxes = boxes_.Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Port not open", boxes[0].text);
    EXPECT_EQ(2u, ports_.forceCloses.size());
}

namespace {

// The multiport button: the settings dialog comes up modally over the page; fill runs in
// it, then OK; returns once the page has finished its walk.
void RunMultiport(PageHost& host, CComPortaraDlg& page, const std::function<void(HWND)>& fill)
{
    PostMessageA(page.Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_MULTIPORT, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(page.Hwnd(), IDC_MULTIPORT)));
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        dialog = FindWindowA(nullptr, "Multiport Configuration");
        return dialog && IsWindowVisible(dialog);
    }));
    SendMessageA(dialog, WM_NULL, 0, 0);
    fill(dialog);
    Click(dialog, IDOK);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
    host.Run([] {});
}

int IndexOf(HWND combo, const std::string& text)
{
    const auto texts = ComboTexts(combo);
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i] == text) return static_cast<int>(i);
    return -1;
}

}  // namespace

TEST_F(PortListTest, MultiportGivesConsecutiveTcpPortsToTheConfiguredRun)
{
    const uint32_t coms[] = {3, 4, 9, 10, 11};
    for (uint32_t i = 0; i < 5; ++i) ports_.Configure(80 + i, coms[i], 0, 0x01010101, 7);
    Show();
    RunMultiport(*host_, page_, [](HWND dialog) {
        Choose(dialog, IDC_CONF_START, 0);
        Choose(dialog, IDC_CONF_RUN, 3);  // "4"
        SetWindowTextA(GetDlgItem(dialog, IDC_CONF_TCP_PORT), "5000");
        SendMessageA(GetDlgItem(dialog, IDC_CONF_ADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 1, 2, 3));
        Choose(dialog, IDC_CONF_PROTOCOL, 1);
        Choose(dialog, IDC_CONF_RX, 0);
        SetWindowTextA(GetDlgItem(dialog, IDC_CONF_COMMENT1), "run");
    });
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(coms[i]);
        EXPECT_EQ(5000 + i, ports_.SlotValue(80 + i, TcpPortValue));
        EXPECT_EQ(0x0A010203u, ports_.SlotValue(80 + i, IpAddressValue));
        EXPECT_EQ(1u, ports_.SlotValue(80 + i, EncryptionValue));
        EXPECT_EQ(25000u, ports_.SlotValue(80 + i, AliveRxTimerValue));
        EXPECT_EQ(10000u, ports_.SlotValue(80 + i, AliveTxTimerValue));
        EXPECT_EQ("run", ports_.SlotText(80 + i, Comment1Value));
    }
    EXPECT_EQ(7u, ports_.SlotValue(84, TcpPortValue)) << "COM11 is beyond the count";
    EXPECT_EQ(0x01010101u, ports_.SlotValue(84, IpAddressValue));
    EXPECT_EQ("5003", page_.List().CellText(RowOf("COM10"), 2)) << "the list is refreshed";
}

TEST_F(PortListTest, MultiportBeyondTheConfiguredPortsEndsAtCom1024)
{
    ports_.Configure(80, 5, 0, 0, 7);
    ports_.Configure(81, 1020, 0, 0, 7);
    ports_.Configure(82, 1024, 0, 0, 7);
    ports_.Configure(83, 2, 0, 0, 7);
    Show();
    RunMultiport(*host_, page_, [](HWND dialog) {
        Choose(dialog, IDC_CONF_START, IndexOf(GetDlgItem(dialog, IDC_CONF_START), "COM5"));
        Choose(dialog, IDC_CONF_RUN, 31);  // "32"
    });
    EXPECT_EQ(7u, ports_.SlotValue(83, TcpPortValue)) << "COM2 is below the start";
    EXPECT_EQ(4001u, ports_.SlotValue(80, TcpPortValue));
    EXPECT_EQ(4002u, ports_.SlotValue(81, TcpPortValue));
    EXPECT_EQ(4003u, ports_.SlotValue(82, TcpPortValue));
    EXPECT_EQ(7000u, ports_.SlotValue(82, AliveRxTimerValue));
}

TEST_F(PortListTest, ActCellFollowsAWorkersThreadWithoutARefresh)
{
    ports_.Configure(90, 5);
    ports_.Configure(91, 6);
    Show();
    ASSERT_EQ("Closed", page_.List().CellText(1, 4));
    std::thread worker([] { NotifyPortActState(91, true); });
    worker.join();
    EXPECT_TRUE(WaitFor([&] { return page_.List().CellText(1, 4) == "Open"; }));
    EXPECT_EQ("Closed", page_.List().CellText(0, 4));
    std::thread([] { NotifyPortActState(91, false); }).join();
    EXPECT_TRUE(WaitFor([&] { return page_.List().CellText(1, 4) == "Closed"; }));
    // A slot that is not listed changes nothing.
    std::thread([] { NotifyPortActState(200, true); }).join();
    host_->Run([] {});
    EXPECT_EQ("Closed", page_.List().CellText(0, 4));
    EXPECT_EQ("Closed", page_.List().CellText(1, 4));
}

TEST_F(PortListTest, WorkersReachNoPageAfterItIsGone)
{
    ports_.Configure(90, 5);
    {
        auto page = std::make_unique<CComPortaraDlg>(ports_);
        PageHost host(*page);
        host.Run([&] { page->RefreshPortList(); });
    }
    // The page and its window are gone: a worker's report goes nowhere.
    std::thread([] { NotifyPortActState(90, true); }).join();
    SUCCEED();
}

TEST_F(PortListTest, LayoutPlacesTheListAndTheStrip)
{
    Show();
    // The main window's first call comes with a preliminary size.
    host_->Run([&] { page_.LayoutPage(200, 200); });
    host_->Run([&] { page_.LayoutPage(700, 400); });
    host_->Run([&] { page_.LayoutPage(900, 500); });
    const RECT group = RectOf(Item(IDC_STRIP_GROUP), page_.Hwnd());
    const int g = group.bottom - group.top;
    EXPECT_EQ(5, group.left);
    EXPECT_EQ(500 - g - 5, group.top);
    EXPECT_EQ(890, group.right - group.left);
    const RECT list = RectOf(page_.List().Hwnd(), page_.Hwnd());
    EXPECT_EQ(5, list.left);
    EXPECT_EQ(5, list.top);
    EXPECT_EQ(890, list.right - list.left);
    EXPECT_EQ(500 - g - 15, list.bottom - list.top);
    // Columns left to right, 3 pixels apart; the strip keeps to the group's rows.
    const int order[] = {IDC_COM_LABEL, IDC_COM_EDIT, IDC_PROTOCOL_LABEL, IDC_PROTOCOL, IDC_RX_LABEL,
                         IDC_RX,        IDC_TX_LABEL, IDC_TX,           IDC_APPLY,    IDC_MULTIPORT};
    for (size_t i = 1; i < sizeof order / sizeof order[0]; ++i) {
        const RECT before = RectOf(Item(order[i - 1]), page_.Hwnd());
        const RECT after = RectOf(Item(order[i]), page_.Hwnd());
        EXPECT_EQ(before.right + 3, after.left) << order[i];
        EXPECT_GE(after.top, group.top) << order[i];
        EXPECT_LE(after.bottom, group.bottom) << order[i];
    }
    EXPECT_EQ(RectOf(Item(IDC_COM_EDIT), page_.Hwnd()).left, RectOf(Item(IDC_IP_EDIT), page_.Hwnd()).left);
    EXPECT_LE(RectOf(Item(IDC_MULTIPORT), page_.Hwnd()).right, group.right) << "the strip fits in its frame";
    const int w = page_.List().ClientWidth();
    EXPECT_EQ(w / 5, page_.List().ColumnWidth(1));
}

TEST_F(PortListTest, AColumnCannotBeDraggedBelowFivePixels)
{
    Show();
    HWND header = reinterpret_cast<HWND>(page_.List().Send(LVM_GETHEADER));
    HDITEMA item{};
    item.mask = HDI_WIDTH;
    NMHEADERA change{};
    change.hdr.hwndFrom = header;
    change.hdr.code = HDN_ITEMCHANGINGA;
    change.pitem = &item;
    item.cxy = 4;
    EXPECT_EQ(1, SendMessageA(page_.List().Hwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&change)));
    item.cxy = 5;
    EXPECT_EQ(0, SendMessageA(page_.List().Hwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&change)));
}

TEST_F(PortListTest, AboutBoxFromItsSystemCommand)
{
    Show();
    PostMessageA(page_.Hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        about = nullptr;
        EnumThreadWindows(GetWindowThreadProcessId(page_.Hwnd(), nullptr),
                          [](HWND w, LPARAM found) -> BOOL {
                              wchar_t title[64] = {};
                              InternalGetWindowText(w, title, 64);
                              if (wcsncmp(title, L"PortaraCtl ", 11) == 0 && IsWindowVisible(w)) {
                                  *reinterpret_cast<HWND*>(found) = w;
                                  return FALSE;
                              }
                              return TRUE;
                          },
                          reinterpret_cast<LPARAM>(&about));
        return about != nullptr;
    }));
    wchar_t title[64] = {};
    InternalGetWindowText(about, title, 64);
    EXPECT_STREQ(kAboutTitle, title);
    bool versionShown = false;
    EnumChildWindows(about,
                     [](HWND child, LPARAM shown) -> BOOL {
                         if (TextOf(child) == "PortaraCtl Version 2.3") *reinterpret_cast<bool*>(shown) = true;
                         return TRUE;
                     },
                     reinterpret_cast<LPARAM>(&versionShown));
    EXPECT_TRUE(versionShown);
    Click(about, IDOK);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));
    EXPECT_EQ(reinterpret_cast<LRESULT>(nullptr) != SendMessageA(page_.Hwnd(), WM_QUERYDRAGICON, 0, 0), true);
}
