// The port settings dialog under Wine in its three modes, driven by messages.
#include "ui_harness.h"

#include "conf_dlg.h"
#include "resource.h"

using namespace pta_test;

namespace {

constexpr const char* kCaption = "Multiport Configuration";

class ConfDlgTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitControls(); }
    void TearDown() override { ports_.RemoveAll(); }

    // Shows the dialog modally as its caller would; `window` is set while it is up.
    std::unique_ptr<ModalRun> Show()
    {
        ports_.ReloadPortSettings();
        auto run = std::make_unique<ModalRun>([this] { return dialog_.DoModal(nullptr); });
        window_ = run->WaitForWindow(kCaption);
        EXPECT_NE(nullptr, window_) << "the dialog did not come up";
        return run;
    }
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    std::vector<std::pair<std::string, LPARAM>> StartEntries() const
    {
        std::vector<std::pair<std::string, LPARAM>> entries;
        const auto texts = ComboTexts(Item(IDC_CONF_START));
        for (size_t i = 0; i < texts.size(); ++i)
            entries.emplace_back(texts[i], ComboNumber(Item(IDC_CONF_START), static_cast<int>(i)));
        return entries;
    }
    DWORD Address() const
    {
        DWORD address = 0;
        SendMessageA(Item(IDC_CONF_ADDRESS), IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
        return address;
    }

    UiPorts ports_;
    CComInstConfDlg dialog_{ports_};
    HWND window_ = nullptr;
};

using Entries = std::vector<std::pair<std::string, LPARAM>>;

}  // namespace

TEST_F(ConfDlgTest, ConfigureListsConfiguredPortsAndGivesTheDefaults)
{
    ports_.Configure(40, 10);
    ports_.Configure(41, 3);
    ports_.Configure(42, 4);
    dialog_.SetConfigureCaller(this);
    ASSERT_EQ(ConfDlgMode::Configure, dialog_.Mode());
    auto run = Show();

    EXPECT_EQ((Entries{{"COM3", 2}, {"COM4", 3}, {"COM10", 9}}), StartEntries());
    EXPECT_EQ(0, ComboSelected(Item(IDC_CONF_START)));
    const auto runs = ComboTexts(Item(IDC_CONF_RUN));
    ASSERT_EQ(32u, runs.size());
    EXPECT_EQ("1", runs.front());
    EXPECT_EQ("32", runs.back());
    EXPECT_EQ((std::vector<std::string>{"COM", "Encryption", "Raw"}), ComboTexts(Item(IDC_CONF_PROTOCOL)));
    EXPECT_EQ((std::vector<std::string>{"25000", "7000"}), ComboTexts(Item(IDC_CONF_RX)));
    EXPECT_EQ((std::vector<std::string>{"10000", "2500"}), ComboTexts(Item(IDC_CONF_TX)));
    EXPECT_EQ("4001", TextOf(Item(IDC_CONF_TCP_PORT)));
    EXPECT_EQ(0u, Address());
    for (int id : {IDC_CONF_START, IDC_CONF_RUN, IDC_CONF_ADDRESS, IDC_CONF_TCP_PORT, IDC_CONF_PROTOCOL,
                   IDC_CONF_RX, IDC_CONF_COMMENT1, IDC_CONF_COMMENT2})
        EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_FALSE(Enabled(IDC_CONF_TX));
    EXPECT_EQ(0, GetWindowLongA(window_, GWL_STYLE) & WS_SYSMENU) << "the dialog has no system menu";
    EXPECT_EQ(kCaption, TextOf(window_));

    Click(window_, IDOK);
    EXPECT_EQ(IDOK, run->Join());
    const ConfDlgResult& r = dialog_.Result();
    EXPECT_EQ(0u, r.IpAddress);
    EXPECT_EQ(4001, r.TcpPort);
    EXPECT_EQ(0, r.Protocol);
    EXPECT_EQ(1, r.AliveRxIndex);
    EXPECT_EQ(1, r.AliveTxIndex);
    EXPECT_EQ(2, r.StartItem);
    EXPECT_EQ(1, r.Count);
    EXPECT_EQ(ConfDlgMode::None, dialog_.Mode()) << "OK clears the caller's reference";
}

TEST_F(ConfDlgTest, LongRxChoiceMovesTheTxList)
{
    ports_.Configure(40, 3);
    dialog_.SetConfigureCaller(this);
    auto run = Show();
    Choose(window_, IDC_CONF_RX, 0);
    EXPECT_EQ(0, ComboSelected(Item(IDC_CONF_TX)));
    EXPECT_EQ("10000", TextOf(Item(IDC_CONF_TX)));
    Choose(window_, IDC_CONF_RX, 1);
    EXPECT_EQ("2500", TextOf(Item(IDC_CONF_TX)));
    Choose(window_, IDC_CONF_RX, 0);
    SendMessageA(Item(IDC_CONF_ADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 0, 0, 5));
    SetWindowTextA(Item(IDC_CONF_TCP_PORT), "5000");
    SetWindowTextA(Item(IDC_CONF_COMMENT1), "line A");
    Choose(window_, IDC_CONF_PROTOCOL, 2);
    Click(window_, IDOK);
    ASSERT_EQ(IDOK, run->Join());
    EXPECT_EQ(0, dialog_.Result().AliveRxIndex);
    EXPECT_EQ(0, dialog_.Result().AliveTxIndex);
    EXPECT_EQ(0x0A000005u, dialog_.Result().IpAddress);
    EXPECT_EQ(5000, dialog_.Result().TcpPort);
    EXPECT_EQ(2, dialog_.Result().Protocol);
    EXPECT_EQ("line A", dialog_.Result().Comment1);
}

TEST_F(ConfDlgTest, AddModeOffersFreeUnclaimedNumbersFromTheCallersFirst)
{
    ports_.Configure(40, 6);
    ports_.usage.assign(1024, 0);
    ports_.usage[7 - 1] = 1;
    ports_.usageKnown = true;
    ConfDlgSettings record;
    record.IpAddress = 0xC0A80001;
    record.TcpPort = 950;
    record.Protocol = 1;
    record.AliveRxIndex = record.AliveTxIndex = 0;
    record.Comment1 = "one";
    record.Comment2 = "two";
    record.RangeFlag = 1;
    dialog_.SetAddCaller(&record, 5);
    auto run = Show();

    const Entries entries = StartEntries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ((Entries{{"COM5", 0}, {"COM8", 3}}), Entries(entries.begin(), entries.begin() + 2));
    EXPECT_EQ(0xC0A80001u, Address());
    EXPECT_EQ("950", TextOf(Item(IDC_CONF_TCP_PORT)));
    EXPECT_EQ(1, ComboSelected(Item(IDC_CONF_PROTOCOL)));
    EXPECT_EQ(0, ComboSelected(Item(IDC_CONF_RX)));
    EXPECT_EQ(0, ComboSelected(Item(IDC_CONF_TX)));
    EXPECT_EQ("one", TextOf(Item(IDC_CONF_COMMENT1)));

    // A count typed into the run length box counts in add mode.
    SetWindowTextA(Item(IDC_CONF_RUN), "12");
    Choose(window_, IDC_CONF_RX, 1);
    SetWindowTextA(Item(IDC_CONF_COMMENT2), "changed");
    Click(window_, IDOK);
    ASSERT_EQ(IDOK, run->Join());
    EXPECT_EQ(12, dialog_.Result().Count);
    EXPECT_EQ(0, dialog_.Result().StartItem);
    EXPECT_EQ(1u, record.AliveRxIndex);
    EXPECT_EQ(1u, record.AliveTxIndex);
    EXPECT_EQ("changed", record.Comment2);
    EXPECT_EQ(950u, record.TcpPort);
}

TEST_F(ConfDlgTest, AddModeWithoutTheRangeDisablesBothLists)
{
    ConfDlgSettings record;
    record.RangeFlag = 0;
    record.TcpPort = 4001;
    dialog_.SetAddCaller(&record, 5);
    auto run = Show();
    EXPECT_FALSE(Enabled(IDC_CONF_START));
    EXPECT_FALSE(Enabled(IDC_CONF_RUN));
    EXPECT_TRUE(ComboTexts(Item(IDC_CONF_START)).empty());
    EXPECT_TRUE(ComboTexts(Item(IDC_CONF_RUN)).empty());
    EXPECT_TRUE(Enabled(IDC_CONF_ADDRESS));
    Click(window_, IDOK);
    ASSERT_EQ(IDOK, run->Join());
    EXPECT_EQ(-1, dialog_.Result().StartItem);
    EXPECT_EQ(0, dialog_.Result().Count);
}

TEST_F(ConfDlgTest, AddModeWithoutTheDatabaseOffersEveryUnconfiguredNumber)
{
    ports_.Configure(40, 6);
    ports_.usageKnown = false;
    ConfDlgSettings record;
    record.RangeFlag = 1;
    dialog_.SetAddCaller(&record, 5);
    auto run = Show();
    const Entries entries = StartEntries();
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ((Entries{{"COM5", 0}, {"COM7", 2}, {"COM8", 3}}), Entries(entries.begin(), entries.begin() + 3));
    Click(window_, IDCANCEL);
    EXPECT_EQ(IDCANCEL, run->Join());
}

TEST_F(ConfDlgTest, TypedRunLengthDoesNotCountInConfigureOrRemoveMode)
{
    ports_.Configure(40, 5);
    ports_.Configure(41, 9);
    for (bool remove : {false, true}) {
        SCOPED_TRACE(remove ? "remove" : "configure");
        if (remove)
            dialog_.SetRemoveCaller(5);
        else
            dialog_.SetConfigureCaller(this);
        auto run = Show();
        if (remove) {
            EXPECT_EQ((Entries{{"COM5", 0}, {"COM9", 4}}), StartEntries());
            for (int id : {IDC_CONF_ADDRESS, IDC_CONF_TCP_PORT, IDC_CONF_PROTOCOL, IDC_CONF_RX, IDC_CONF_TX,
                           IDC_CONF_COMMENT1, IDC_CONF_COMMENT2})
                EXPECT_FALSE(Enabled(id)) << id;
        }
        Choose(window_, IDC_CONF_RUN, 2);  // "3"
        SetWindowTextA(Item(IDC_CONF_RUN), "12");
        Click(window_, IDOK);
        ASSERT_EQ(IDOK, run->Join());
        EXPECT_NE(12, dialog_.Result().Count);
    }
}

TEST_F(ConfDlgTest, CancelChangesNothing)
{
    ports_.Configure(40, 3);
    ConfDlgSettings record;
    record.RangeFlag = 1;
    record.TcpPort = 777;
    record.Comment1 = "keep";
    dialog_.SetAddCaller(&record, 1);
    {
        auto run = Show();
        Click(window_, IDOK);
        ASSERT_EQ(IDOK, run->Join());
    }
    const ConfDlgResult before = dialog_.Result();

    for (int mode = 0; mode < 3; ++mode) {
        if (mode == 0) dialog_.SetAddCaller(&record, 1);
        if (mode == 1) dialog_.SetRemoveCaller(1);
        if (mode == 2) dialog_.SetConfigureCaller(this);
        auto run = Show();
        SetWindowTextA(Item(IDC_CONF_TCP_PORT), "9999");
        SetWindowTextA(Item(IDC_CONF_COMMENT1), "lost");
        Choose(window_, IDC_CONF_RUN, 5);
        Click(window_, IDCANCEL);
        ASSERT_EQ(IDCANCEL, run->Join());
        EXPECT_EQ(before.TcpPort, dialog_.Result().TcpPort);
        EXPECT_EQ(before.Comment1, dialog_.Result().Comment1);
        EXPECT_EQ(before.Count, dialog_.Result().Count);
        EXPECT_EQ(before.StartItem, dialog_.Result().StartItem);
        EXPECT_EQ(777u, record.TcpPort);
        EXPECT_EQ("keep", record.Comment1);
    }
}

TEST_F(ConfDlgTest, CommentsAreLimitedTo63Characters)
{
    ports_.Configure(40, 3);
    dialog_.SetConfigureCaller(this);
    auto run = Show();
    const std::string longText(100, 'x');
    for (int id : {IDC_CONF_COMMENT1, IDC_CONF_COMMENT2}) {
        SendMessageA(Item(id), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(longText.c_str()));
        EXPECT_EQ(63u, TextOf(Item(id)).size()) << id;
    }
    Click(window_, IDOK);
    ASSERT_EQ(IDOK, run->Join());
    EXPECT_EQ(63u, dialog_.Result().Comment1.size());
}
