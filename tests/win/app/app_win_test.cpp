// The control program's application and main window under Wine, driven by messages: the
// start and end sequence, hiding and showing, the tray icon and menu, the quit rules, the
// layout and the property sheet.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "app_harness.h"
#include "resource.h"

using namespace pta;
using namespace pta::ui;
using namespace pta_test;

namespace {

// --- Registry values of the product key, put back as they were after each test ---

struct SavedValue {
    const char* name;
    bool present = false;
    DWORD value = 0;
};

bool ReadProductDword(const char* name, DWORD* value)
{
    DWORD size = sizeof *value;
    DWORD type = 0;
    return RegGetValueA(HKEY_LOCAL_MACHINE, ProductKey, name, RRF_RT_ANY, &type, value, &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD;
}

void WriteProductDword(const char* name, DWORD value)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, ProductKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

void DeleteProductValue(const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ProductKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

// --- The tray icon, asked of the shell ---

NOTIFYICONDATAA TrayData(HWND window)
{
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = kTrayIconId;
    return data;
}

// The shell knows the icon when it accepts a change of it.
bool TrayIconShown(HWND window)
{
    NOTIFYICONDATAA data = TrayData(window);
    data.uFlags = NIF_TIP;
    lstrcpynA(data.szTip, "Portara Control Ver 2.3", sizeof data.szTip);
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

std::string WindowText(HWND window)
{
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

RECT RectIn(HWND window, HWND parent)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (SavedValue& saved : saved_) saved.present = ReadProductDword(saved.name, &saved.value);
        DeleteProductValue(HideDialogFlagValue);
        DeleteProductValue(PortaraHandleValue);
    }
    void TearDown() override
    {
        run_.reset();
        for (const SavedValue& saved : saved_) {
            if (saved.present)
                WriteProductDword(saved.name, saved.value);
            else
                DeleteProductValue(saved.name);
        }
    }

    // Starts the application and waits until its main window is initialised.
    void Start()
    {
        run_ = std::make_unique<AppRun>(ports_);
        ASSERT_TRUE(ports_.WaitForMainWindow()) << "the main window did not come up";
        window_ = run_->Window();
        run_->Settle();
    }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return SendMessageA(window_, message, wParam, lParam);
    }

    TestPorts ports_;
    std::unique_ptr<AppRun> run_;
    HWND window_ = nullptr;
    SavedValue saved_[2] = {{HideDialogFlagValue}, {PortaraHandleValue}};
};

// --- Start ---

TEST_F(MainWindowTest, FirstStartWritesHideFlagAndStaysHiddenWithTrayIconOnly)
{
    Start();
    DWORD flag = 99;
    ASSERT_TRUE(ReadProductDword(HideDialogFlagValue, &flag));
    EXPECT_EQ(1u, flag);
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_TRUE(TrayIconShown(window_));
    EXPECT_TRUE(run_->Running());
    EXPECT_EQ(0u, run_->Boxes().size());
}

TEST_F(MainWindowTest, HideFlagDecidesWhetherTheWindowShowsAtStart)
{
    struct Case {
        DWORD flag;
        bool shown;
    };
    for (const Case& c : {Case{0, true}, Case{1, false}, Case{2, false}}) {
        SCOPED_TRACE(c.flag);
        WriteProductDword(HideDialogFlagValue, c.flag);
        TestPorts ports;
        ports.reloadResult = 1;
        {
            AppRun run(ports);
            ASSERT_TRUE(ports.WaitForMainWindow());
            HWND window = run.Window();
            if (c.shown) {
                // The dialog manager shows the window once its queue is first empty.
                EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }));
            } else {
                run.Settle();
                EXPECT_FALSE(IsWindowVisible(window));
            }
            DWORD flag = 99;
            ASSERT_TRUE(ReadProductDword(HideDialogFlagValue, &flag));
            EXPECT_EQ(c.flag, flag);
        }
    }
}

TEST_F(MainWindowTest, WindowIsPublishedToOtherPrograms)
{
    Start();
    DWORD handle = 0;
    ASSERT_TRUE(ReadProductDword(PortaraHandleValue, &handle));
    EXPECT_EQ(static_cast<DWORD>(reinterpret_cast<uintptr_t>(window_)), handle);
    EXPECT_EQ(window_, ports_.mainWindow.load());
    ASSERT_NE(nullptr, MainWindow());
    EXPECT_EQ(window_, MainWindow()->Hwnd());
    EXPECT_EQ("Portara Control Ver 2.3", WindowText(window_));
    EXPECT_NE(nullptr, reinterpret_cast<HICON>(Send(WM_GETICON, ICON_BIG)));
}

TEST_F(MainWindowTest, FailedStartUpEndsWithoutWindowAndTearsDown)
{
    ports_.startUpResult = 0;
    AppRun run(ports_);
    EXPECT_FALSE(run.Join());
    EXPECT_EQ(1, ports_.startUps.load());
    EXPECT_EQ(nullptr, ports_.mainWindow.load());
    EXPECT_EQ(1, ports_.tearDowns.load());
    DWORD handle = 0;
    EXPECT_FALSE(ReadProductDword(PortaraHandleValue, &handle));
}

// --- Hiding and showing ---

TEST_F(MainWindowTest, TrayDoubleClickShowsAndCloseBoxOnlyHides)
{
    Start();
    ASSERT_FALSE(IsWindowVisible(window_));

    Send(kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_TRUE(MainWindow()->ShownOnRequest());

    Send(WM_CLOSE);
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_FALSE(MainWindow()->ShownOnRequest());
    EXPECT_TRUE(run_->Running());

    Send(WM_COMMAND, ID_TRAY_SHOW_WINDOW);
    EXPECT_TRUE(IsWindowVisible(window_));

    // A second double click on a shown window keeps it shown.
    Send(kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(0, ports_.tearDowns.load());
}

TEST_F(MainWindowTest, OtherTrayMouseMessagesChangeNothing)
{
    Start();
    for (LPARAM mouse : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, WM_RBUTTONDOWN}) {
        Send(kTrayCallbackMessage, kTrayIconId, mouse);
        EXPECT_FALSE(IsWindowVisible(window_)) << mouse;
    }
    EXPECT_TRUE(run_->Running());
}

TEST_F(MainWindowTest, HiddenStartKeepsLaterShowAttemptsOutUntilAsked)
{
    Start();
    // A show that the user did not ask for stays out while the window starts hidden.
    ShowWindow(window_, SW_SHOWNA);
    run_->Settle();
    EXPECT_FALSE(IsWindowVisible(window_));
    Send(WM_COMMAND, ID_TRAY_SHOW_WINDOW);
    EXPECT_TRUE(IsWindowVisible(window_));
}

// --- Tray icon ---

TEST_F(MainWindowTest, TrayIconComesBackWhenTheTaskbarIsCreatedAgain)
{
    Start();
    ASSERT_TRUE(TrayIconShown(window_));
    EXPECT_TRUE(MainWindow()->TrayIconAdded());
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");

    // The shell restarted and lost the icon.
    NOTIFYICONDATAA data = TrayData(window_);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
    ASSERT_FALSE(TrayIconShown(window_));
    Send(taskbarCreated);
    EXPECT_TRUE(TrayIconShown(window_));
    EXPECT_TRUE(MainWindow()->TrayIconAdded());

    // The message while the icon is still there leaves one icon, still counted as added.
    Send(taskbarCreated);
    EXPECT_TRUE(TrayIconShown(window_));
    EXPECT_TRUE(MainWindow()->TrayIconAdded());
}

TEST_F(MainWindowTest, TrayIconGoesWithTheProgram)
{
    Start();
    ASSERT_TRUE(TrayIconShown(window_));
    Send(kQuitRequestMessage, 1, 1);
    run_->Join();
    EXPECT_FALSE(TrayIconShown(window_));
}

// Opens the tray menu, reads the state of "Show Window" and closes the menu again.
UINT TrayMenuShowWindowState(HWND window)
{
    PostMessageA(window, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONUP);
    HWND menuWindow = nullptr;
    if (!WaitUntil([&] {
            menuWindow = FindWindowA("#32768", nullptr);
            return menuWindow && IsWindowVisible(menuWindow);
        }))
        return ~0u;
    auto menu = reinterpret_cast<HMENU>(SendMessageA(menuWindow, 0x01E1 /* MN_GETHMENU */, 0, 0));
    const UINT state = menu ? GetMenuState(menu, ID_TRAY_SHOW_WINDOW, MF_BYCOMMAND) : ~0u;
    char stop[64] = {};
    if (menu) GetMenuStringA(menu, ID_TRAY_STOP_SERVICE, stop, sizeof stop, MF_BYCOMMAND);
    EXPECT_STREQ("Stop Portara Service", stop);
    PostMessageA(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(menuWindow); }));
    return state;
}

TEST_F(MainWindowTest, TrayMenuGreysShowWindowWhileTheWindowIsVisible)
{
    Start();
    struct Case {
        bool visible;
        bool greyed;
    };
    for (const Case& c : {Case{false, false}, Case{true, true}, Case{false, false}}) {
        SCOPED_TRACE(c.visible);
        Send(c.visible ? WM_COMMAND : WM_CLOSE, c.visible ? ID_TRAY_SHOW_WINDOW : 0);
        ASSERT_EQ(c.visible, IsWindowVisible(window_) != FALSE);
        const UINT state = TrayMenuShowWindowState(window_);
        ASSERT_NE(~0u, state);
        EXPECT_EQ(c.greyed, (state & MF_GRAYED) != 0);
        EXPECT_TRUE(run_->Running());
    }
}

// --- Quitting ---

struct QuitCase {
    const char* what;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int portInUse;
    bool quits;
    const char* box;  // the text of the one box shown, or none
};

const QuitCase kQuitCases[] = {
    {"Stop Portara Service, a port in use", WM_COMMAND, ID_TRAY_STOP_SERVICE, 0, 1, false, kPortInUseText},
    {"Stop Portara Service, no port in use", WM_COMMAND, ID_TRAY_STOP_SERVICE, 0, 0, true, nullptr},
    {"quit request, a port in use", kQuitRequestMessage, 0, 0, 1, false, kPortInUseText},
    {"quit request 1/0, a port in use", kQuitRequestMessage, 1, 0, 1, false, kPortInUseText},
    {"quit request 0/1, a port in use", kQuitRequestMessage, 0, 1, 1, false, kPortInUseText},
    {"quit request 1/1, a port in use", kQuitRequestMessage, 1, 1, 1, true, nullptr},
    {"quit request, no port in use", kQuitRequestMessage, 0, 0, 0, true, nullptr},
    {"session ends, a port in use", WM_ENDSESSION, TRUE, 0, 1, true, nullptr},
    {"session ends, no port in use", WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, 0, true, nullptr},
    {"session end called off", WM_ENDSESSION, FALSE, 0, 0, false, nullptr},
    {"close box", WM_CLOSE, 0, 0, 0, false, nullptr},
    {"Escape", WM_COMMAND, IDCANCEL, 0, 0, false, nullptr},
    {"Enter", WM_COMMAND, IDOK, 0, 0, false, nullptr},
};

TEST_F(MainWindowTest, QuitRules)
{
    for (const QuitCase& c : kQuitCases) {
        SCOPED_TRACE(c.what);
        TestPorts ports;
        ports.portInUse = c.portInUse;
        AppRun run(ports);
        ASSERT_TRUE(ports.WaitForMainWindow());
        HWND window = run.Window();
        run.Settle();

        SendMessageA(window, c.message, c.wParam, c.lParam);
        if (c.message == WM_ENDSESSION && c.wParam) {
            // The ports stop while the message is handled: the process may end after it.
            EXPECT_GE(ports.tearDowns.load(), 1);
        }
        if (c.quits) {
            EXPECT_FALSE(run.Join());
            EXPECT_FALSE(IsWindow(window));
            EXPECT_EQ(nullptr, MainWindow());
            EXPECT_GE(ports.tearDowns.load(), 1);
        } else {
            EXPECT_TRUE(run.Running());
            EXPECT_EQ(0, ports.tearDowns.load());
            EXPECT_NE(nullptr, MainWindow());
        }
        const std::vector<ShownBox> boxes = run.Boxes();
        if (c.box) {
            ASSERT_EQ(1u, boxes.size());
            EXPECT_EQ(c.box, boxes[0].text);
            EXPECT_EQ("Kelvor Portara", boxes[0].caption);
            EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes[0].flags & MB_ICONMASK);
        } else {
            EXPECT_EQ(0u, boxes.size());
        }
    }
}

TEST_F(MainWindowTest, RefusedQuitLeavesTheProgramAsItWas)
{
    ports_.portInUse = 1;
    Start();
    Send(WM_COMMAND, ID_TRAY_STOP_SERVICE);
    EXPECT_TRUE(run_->Running());
    EXPECT_TRUE(TrayIconShown(window_));
    EXPECT_FALSE(IsWindowVisible(window_));
    // Once the application has let go of the port, the same request ends the program.
    ports_.portInUse = 0;
    Send(WM_COMMAND, ID_TRAY_STOP_SERVICE);
    run_->Join();
    EXPECT_EQ(1u, run_->Boxes().size());
}

TEST_F(MainWindowTest, EndOfSessionQuery)
{
    struct Case {
        int portInUse;
        LRESULT allowed;
        const char* box;
    };
    for (const Case& c : {Case{1, FALSE, kPortInUseShutdownText}, Case{0, TRUE, nullptr}}) {
        SCOPED_TRACE(c.portInUse);
        TestPorts ports;
        ports.portInUse = c.portInUse;
        AppRun run(ports);
        ASSERT_TRUE(ports.WaitForMainWindow());
        for (LPARAM reason : {LPARAM{0}, LPARAM{ENDSESSION_LOGOFF}}) {
            EXPECT_EQ(c.allowed, SendMessageA(run.Window(), WM_QUERYENDSESSION, 0, reason));
        }
        // The query alone never ends the program.
        EXPECT_TRUE(run.Running());
        EXPECT_EQ(0, ports.tearDowns.load());
        const std::vector<ShownBox> boxes = run.Boxes();
        if (c.box) {
            ASSERT_EQ(2u, boxes.size());
            EXPECT_EQ(c.box, boxes[0].text);
            EXPECT_EQ("Kelvor Portara", boxes[0].caption);
            EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes[0].flags & MB_ICONMASK);
        } else {
            EXPECT_EQ(0u, boxes.size());
        }
    }
}

// --- Layout and sheet ---

TEST_F(MainWindowTest, LayoutFollowsTheClientSize)
{
    Start();
    CComMainDlg* dialog = MainWindow();
    ASSERT_NE(nullptr, dialog);
    for (SIZE size : {SIZE{760, 480}, SIZE{1000, 700}, SIZE{600, 360}}) {
        SCOPED_TRACE(size.cx);
        SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
        run_->Settle();
        RECT client{};
        GetClientRect(window_, &client);
        const int w = client.right, h = client.bottom;

        const RECT frame = RectIn(GetDlgItem(window_, IDC_SHEET_FRAME), window_);
        EXPECT_EQ(5, frame.left);
        EXPECT_EQ(5, frame.top);
        EXPECT_EQ(w - 10, frame.right - frame.left);
        EXPECT_EQ(h - 40, frame.bottom - frame.top);

        HWND sheet = dialog->Sheet().Hwnd();
        const RECT sheetRect = RectIn(sheet, window_);
        EXPECT_EQ(frame.left, sheetRect.left);
        EXPECT_EQ(frame.top, sheetRect.top);
        EXPECT_EQ(w - 10, sheetRect.right - sheetRect.left);
        EXPECT_EQ(h - 40, sheetRect.bottom - sheetRect.top);
        const RECT tab = RectIn(dialog->Sheet().TabControl(), sheet);
        EXPECT_EQ(0, tab.left);
        EXPECT_EQ(0, tab.top);
        EXPECT_EQ(w - 10, tab.right - tab.left);
        EXPECT_EQ(h - 40, tab.bottom - tab.top);

        const RECT setup = RectIn(GetDlgItem(window_, IDC_CONTROLLER_SETUP), window_);
        const RECT refresh = RectIn(GetDlgItem(window_, IDC_REFRESH), window_);
        EXPECT_EQ(5, setup.left);
        EXPECT_EQ(h - 5, setup.bottom);
        EXPECT_EQ(105, refresh.left);
        EXPECT_EQ(h - 5, refresh.bottom);
        EXPECT_GT(setup.bottom - setup.top, 0);

        EXPECT_EQ(w - 30, dialog->PageSize().cx);
        EXPECT_EQ(h - 80, dialog->PageSize().cy);
        for (int index = 0; index < kSheetPageCount; ++index) {
            const RECT page = RectIn(dialog->Sheet().Page(static_cast<size_t>(index)).Hwnd(), sheet);
            EXPECT_EQ(10, page.left) << index;
            EXPECT_EQ(30, page.top) << index;
            EXPECT_EQ(w - 30, page.right - page.left) << index;
            EXPECT_EQ(h - 80, page.bottom - page.top) << index;
        }
    }
}

TEST_F(MainWindowTest, MinimumTrackingSize)
{
    Start();
    MINMAXINFO info{};
    Send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(550, info.ptMinTrackSize.x);
    EXPECT_EQ(300, info.ptMinTrackSize.y);
}

TEST_F(MainWindowTest, SheetHoldsFourPagesAndOpensOnTheFittingOne)
{
    struct Case {
        int reload;
        int activePage;
    };
    for (const Case& c : {Case{1, kPortListPage}, Case{0, kPortInstallPage}}) {
        SCOPED_TRACE(c.reload);
        TestPorts ports;
        ports.reloadResult = c.reload;
        AppRun run(ports);
        ASSERT_TRUE(ports.WaitForMainWindow());
        run.Settle();
        CComMainDlg* dialog = MainWindow();
        ASSERT_NE(nullptr, dialog);
        CComPropertySheet& sheet = dialog->Sheet();
        ASSERT_NE(nullptr, sheet.Hwnd());
        EXPECT_EQ(run.Window(), GetParent(sheet.Hwnd()));
        EXPECT_TRUE(GetWindowLongA(sheet.Hwnd(), GWL_STYLE) & WS_CHILD);
        EXPECT_TRUE(GetWindowLongA(sheet.Hwnd(), GWL_STYLE) & WS_TABSTOP);
        EXPECT_TRUE(GetWindowLongA(sheet.Hwnd(), GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
        EXPECT_EQ(c.activePage, sheet.ActiveIndex());

        HWND tab = sheet.TabControl();
        ASSERT_EQ(4, SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
        const char* captions[] = {"Port Info", "Monitor", "Add Port", "Delete Port"};
        for (int index = 0; index < 4; ++index) {
            char text[64] = {};
            TCITEMA item{};
            item.mask = TCIF_TEXT;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(tab, TCM_GETITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
            EXPECT_STREQ(captions[index], text);
            // Every page window was created at start.
            EXPECT_TRUE(IsWindow(sheet.Page(static_cast<size_t>(index)).Hwnd())) << index;
        }
        // The sheet brings no buttons of its own.
        for (int id : {IDOK, IDCANCEL}) {
            HWND button = GetDlgItem(sheet.Hwnd(), id);
            EXPECT_TRUE(!button || !IsWindowVisible(button)) << id;
        }
    }
}

TEST_F(MainWindowTest, RefreshAndControllerSetupKeepTheProgramRunning)
{
    Start();
    Send(WM_COMMAND, IDC_REFRESH);
    Send(WM_COMMAND, IDC_CONTROLLER_SETUP);
    EXPECT_TRUE(run_->Running());
    EXPECT_EQ(0u, run_->Boxes().size());
}

}  // namespace
