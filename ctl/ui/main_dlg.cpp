#include "main_dlg.h"

#include <stdint.h>
#include <string.h>

#include <atomic>

#include "message_box.h"
#include "registry_layout.h"
#include "resource.h"

namespace pta::ui {

namespace {

std::atomic<CComMainDlg*> g_mainWindow{nullptr};

// Sent by the shell to every top-level window when the taskbar has been (re)created.
UINT TaskbarCreatedMessage()
{
    static const UINT message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}

}  // namespace

CComMainDlg* MainWindow()
{
    return g_mainWindow.load();
}

CComMainDlg::CComMainDlg(PortManagerAccess& ports) : Dialog(IDD_MAIN_DIALOG), ports_(ports), sheet_(ports)
{
    OnMessage(WM_CLOSE, &CComMainDlg::OnClose);
    OnMessage(kTrayCallbackMessage, &CComMainDlg::OnTrayNotify);
    OnMessage(kQuitRequestMessage, &CComMainDlg::OnQuitRequest);
    OnMessage(WM_QUERYENDSESSION, &CComMainDlg::OnQueryEndSession);
    OnMessage(WM_ENDSESSION, &CComMainDlg::OnEndSession);
    OnMessage(WM_WINDOWPOSCHANGING, &CComMainDlg::OnWindowPosChanging);
    OnMessage(WM_GETMINMAXINFO, &CComMainDlg::OnGetMinMaxInfo);
    OnMessage(WM_SIZE, &CComMainDlg::OnSize);
    OnMessage(WM_DESTROY, &CComMainDlg::OnDestroy);
    OnMessage(TaskbarCreatedMessage(), &CComMainDlg::OnTaskbarCreated);
    OnCommand(ID_TRAY_SHOW_WINDOW, &CComMainDlg::OnShowWindow);
    OnCommand(ID_TRAY_STOP_SERVICE, &CComMainDlg::OnStopService);
    OnCommand(IDC_REFRESH, &CComMainDlg::OnRefresh);
    OnCommand(IDC_CONTROLLER_SETUP, &CComMainDlg::OnControllerSetup);
    OnCommand(IDCANCEL, &CComMainDlg::OnCancel);
    // Enter in the window would otherwise reach IDOK, which must not end the program.
    OnCommand(IDOK, [] {});
    Bind(IDC_SHEET_FRAME, frame_);
    Bind(IDC_REFRESH, refreshButton_);
    Bind(IDC_CONTROLLER_SETUP, setupButton_);
}

CComMainDlg::~CComMainDlg()
{
    CComMainDlg* self = this;
    g_mainWindow.compare_exchange_strong(self, nullptr);
    if (icon_) DestroyIcon(icon_);
}

BOOL CComMainDlg::OnInitDialog()
{
    icon_ = static_cast<HICON>(LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDI_PORTARA), IMAGE_ICON,
                                          GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    SendMessageA(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SetMessageBoxOwner(Hwnd());

    AddTrayIcon();
    g_mainWindow = this;

    // Window handles fit in 32 bits; the value is kept for programs that ask us to quit.
    ports_.WriteSetting(PortaraHandleValue, static_cast<DWORD>(reinterpret_cast<uintptr_t>(Hwnd())));

    DWORD hide = 1;
    if (!ports_.ReadSetting(HideDialogFlagValue, &hide)) {
        hide = 1;
        ports_.WriteSetting(HideDialogFlagValue, hide);
    }
    hideAtStart_ = hide;
    if (hideAtStart_ != 0) {
        shownOnRequest_ = false;
        ShowWindow(Hwnd(), SW_HIDE);
    }

    const int portsListed = ports_.ReloadPortSettings();

    if (sheet_.CreateChild(Hwnd())) {
        HWND sheet = sheet_.Hwnd();
        SetWindowLongPtrA(sheet, GWL_EXSTYLE, GetWindowLongPtrA(sheet, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
        SetWindowLongPtrA(sheet, GWL_STYLE, GetWindowLongPtrA(sheet, GWL_STYLE) | WS_TABSTOP);
        const RECT frame = frame_.RectInParent();
        SetWindowPos(sheet, nullptr, frame.left, frame.top, frame.right - frame.left,
                     frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
        frame_.Show(true);

        // Every page window is created once, then the page that fits the configuration
        // is shown: the port list when ports exist, otherwise the page that adds them.
        for (int index = kSheetPageCount - 1; index >= 0; --index) sheet_.SetActivePage(index);
        sheet_.SetActivePage(portsListed == 1 ? kPortListPage : kPortInstallPage);
    }

    pageWidth_ = 200;
    pageHeight_ = 200;
    Layout();

    ports_.SetMainWindow(Hwnd());
    return TRUE;
}

// --- Showing and hiding ---

void CComMainDlg::ShowOnRequest()
{
    shownOnRequest_ = true;
    ShowWindow(Hwnd(), SW_SHOW);
    SetForegroundWindow(Hwnd());
}

void CComMainDlg::Hide()
{
    shownOnRequest_ = false;
    ShowWindow(Hwnd(), SW_HIDE);
}

LRESULT CComMainDlg::OnClose(WPARAM, LPARAM)
{
    Hide();
    return 0;
}

void CComMainDlg::OnCancel()
{
    // Escape hides the window like its close box; the program keeps running.
    Hide();
}

void CComMainDlg::OnShowWindow()
{
    ShowOnRequest();
}

LRESULT CComMainDlg::OnWindowPosChanging(WPARAM wParam, LPARAM lParam)
{
    Default(WM_WINDOWPOSCHANGING, wParam, lParam);
    // While the window is meant to start hidden, it shows only when the user asked for
    // it: the dialog manager's own show at start is taken out.
    if (hideAtStart_ != 0) {
        auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        if (shownOnRequest_) {
            if (!(pos->flags & SWP_HIDEWINDOW)) pos->flags |= SWP_SHOWWINDOW;
        } else {
            pos->flags &= ~SWP_SHOWWINDOW;
        }
    }
    return 0;
}

// --- Tray icon and menu ---

NOTIFYICONDATAA CComMainDlg::TrayIconData(UINT flags) const
{
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = Hwnd();
    data.uID = kTrayIconId;
    data.uFlags = flags;
    data.uCallbackMessage = kTrayCallbackMessage;
    data.hIcon = icon_;
    GetWindowTextA(Hwnd(), data.szTip, sizeof data.szTip);
    return data;
}

void CComMainDlg::AddTrayIcon()
{
    NOTIFYICONDATAA data = TrayIconData(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    // An icon the shell still shows (the message also comes on other occasions than a
    // restart of the shell) refuses a second add; it counts as added all the same.
    trayIconAdded_ = Shell_NotifyIconA(NIM_ADD, &data) || Shell_NotifyIconA(NIM_MODIFY, &data);
}

void CComMainDlg::RemoveTrayIcon()
{
    if (!trayIconAdded_) return;
    NOTIFYICONDATAA data = TrayIconData(0);
    Shell_NotifyIconA(NIM_DELETE, &data);
    trayIconAdded_ = false;
}

LRESULT CComMainDlg::OnTaskbarCreated(WPARAM, LPARAM)
{
    AddTrayIcon();
    return 0;
}

LRESULT CComMainDlg::OnTrayNotify(WPARAM, LPARAM lParam)
{
    switch (static_cast<UINT>(lParam)) {
    case WM_LBUTTONDBLCLK:
        if (!IsWindowVisible(Hwnd())) {
            shownOnRequest_ = true;
            ShowWindow(Hwnd(), SW_SHOW);
        }
        SetForegroundWindow(Hwnd());
        break;
    case WM_RBUTTONUP:
        ShowTrayMenu();
        break;
    default:
        break;
    }
    return 0;
}

void CComMainDlg::ShowTrayMenu()
{
    HMENU menu = LoadMenuA(ResourceModule(), MAKEINTRESOURCEA(IDR_TRAY_MENU));
    if (!menu) return;
    HMENU popup = GetSubMenu(menu, 0);
    if (IsWindowVisible(Hwnd())) EnableMenuItem(popup, ID_TRAY_SHOW_WINDOW, MF_BYCOMMAND | MF_GRAYED);
    SetForegroundWindow(Hwnd());
    POINT cursor{};
    GetCursorPos(&cursor);
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, Hwnd(), nullptr);
    SetForegroundWindow(Hwnd());
    // The menu closes properly when the window gets a message after it.
    PostMessageA(Hwnd(), WM_NULL, 0, 0);
    DestroyMenu(menu);
}

// --- Quitting ---

void CComMainDlg::Quit()
{
    CComMainDlg* self = this;
    g_mainWindow.compare_exchange_strong(self, nullptr);
    PostQuitMessage(0);
}

void CComMainDlg::QuitUnlessPortInUse()
{
    if (ports_.AnyPortInUse()) {
        ShowMessageBox(kPortInUseText, kProductCaption, MB_OK | MB_ICONERROR);
        return;
    }
    Quit();
}

void CComMainDlg::OnStopService()
{
    QuitUnlessPortInUse();
}

LRESULT CComMainDlg::OnQuitRequest(WPARAM wParam, LPARAM lParam)
{
    if (wParam == 1 && lParam == 1)
        Quit();
    else
        QuitUnlessPortInUse();
    return 0;
}

LRESULT CComMainDlg::OnQueryEndSession(WPARAM wParam, LPARAM lParam)
{
    if (!Default(WM_QUERYENDSESSION, wParam, lParam)) return FALSE;
    if (ports_.AnyPortInUse()) {
        ShowMessageBox(kPortInUseShutdownText, kProductCaption, MB_OK | MB_ICONERROR);
        return FALSE;
    }
    return TRUE;
}

LRESULT CComMainDlg::OnEndSession(WPARAM wParam, LPARAM lParam)
{
    Default(WM_ENDSESSION, wParam, lParam);
    // Only a session that really ends stops the ports; when the end was called off
    // (another program refused it) everything keeps running.
    if (wParam) {
        ports_.TearDown();
        Quit();
    }
    return 0;
}

LRESULT CComMainDlg::OnDestroy(WPARAM wParam, LPARAM lParam)
{
    Default(WM_DESTROY, wParam, lParam);
    RemoveTrayIcon();
    CComMainDlg* self = this;
    g_mainWindow.compare_exchange_strong(self, nullptr);
    SetMessageBoxOwner(nullptr);
    return 0;
}

// --- Buttons ---

void CComMainDlg::OnRefresh()
{
    sheet_.RefreshActivePage();
}

void CComMainDlg::OnControllerSetup()
{
    if (maintenance_) maintenance_->DoModal(Hwnd());
}

// --- Size and layout ---

LRESULT CComMainDlg::OnGetMinMaxInfo(WPARAM, LPARAM lParam)
{
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    info->ptMinTrackSize.x = kMinTrackWidth;
    info->ptMinTrackSize.y = kMinTrackHeight;
    return 0;
}

LRESULT CComMainDlg::OnSize(WPARAM wParam, LPARAM lParam)
{
    // A minimised window has no client area to arrange.
    if (wParam == SIZE_MINIMIZED) return 0;
    clientWidth_ = LOWORD(lParam);
    clientHeight_ = HIWORD(lParam);
    Layout();
    return 0;
}

void CComMainDlg::Layout()
{
    if (!frame_.Valid()) return;
    RECT client{};
    GetClientRect(Hwnd(), &client);
    const int w = client.right;
    const int h = client.bottom;
    clientWidth_ = static_cast<uint32_t>(w);
    clientHeight_ = static_cast<uint32_t>(h);

    frame_.Move(5, 5, w - 10, h - 40);
    if (HWND sheet = sheet_.Hwnd()) {
        SetWindowPos(sheet, nullptr, 5, 5, w - 10, h - 40, SWP_NOZORDER | SWP_NOACTIVATE);
        Control(sheet_.TabControl()).Move(0, 0, w - 10, h - 40);
    }
    for (Control* button : {&setupButton_, &refreshButton_}) {
        const RECT rect = button->RectInParent();
        const int height = rect.bottom - rect.top;
        button->Move(button == &setupButton_ ? 5 : 105, h - 5 - height, rect.right - rect.left, height);
    }

    pageWidth_ = static_cast<uint32_t>(w - 30);
    pageHeight_ = static_cast<uint32_t>(h - 80);
    if (sheet_.Hwnd()) {
        for (int index = 0; index < kSheetPageCount; ++index)
            sheet_.SheetPageAt(index).LayoutPage(w - 30, h - 80);
    }
}

}  // namespace pta::ui
