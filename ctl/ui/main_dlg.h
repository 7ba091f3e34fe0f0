// CComMainDlg: the main window of the control program. It lives hidden behind its tray
// icon, hosts the property sheet with the four pages, and is the one place where the
// program is asked to quit.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <stdint.h>

#include "dialog.h"
#include "port_manager_access.h"
#include "property_sheet.h"

namespace pta::ui {

// The tray icon's identifier and the message it sends the main window.
constexpr UINT kTrayIconId = 128;
constexpr UINT kTrayCallbackMessage = WM_USER + 1;
// The quit request: wParam 1 and lParam 1 quit even while ports are in use.
constexpr UINT kQuitRequestMessage = WM_USER + 3;
// The smallest size the user can drag the window to, in pixels.
constexpr int kMinTrackWidth = 550;
constexpr int kMinTrackHeight = 300;

// Texts and caption of the refused quits.
constexpr const char* kProductCaption = "Kelvor Portara";
constexpr const char* kPortInUseText = "Portara COM port is in-use. Close it.";
constexpr const char* kPortInUseShutdownText =
    "Portara COM port is in-use. Close it before shutting down the system.";

class CComMainDlg : public Dialog {
public:
    explicit CComMainDlg(PortManagerAccess& ports);
    ~CComMainDlg() override;

    CComPropertySheet& Sheet() { return sheet_; }
    bool TrayIconAdded() const { return trayIconAdded_; }
    DWORD HideAtStart() const { return hideAtStart_; }
    bool ShownOnRequest() const { return shownOnRequest_; }
    SIZE PageSize() const { return {static_cast<LONG>(pageWidth_), static_cast<LONG>(pageHeight_)}; }

    // The maintenance dialog that "Controller Setup" shows modally; none: the button does
    // nothing.
    void SetMaintenanceDialog(Dialog* dialog) { maintenance_ = dialog; }

protected:
    BOOL OnInitDialog() override;

private:
    LRESULT OnClose(WPARAM, LPARAM);
    LRESULT OnTrayNotify(WPARAM, LPARAM);
    LRESULT OnQuitRequest(WPARAM, LPARAM);
    LRESULT OnQueryEndSession(WPARAM, LPARAM);
    LRESULT OnEndSession(WPARAM, LPARAM);
    LRESULT OnWindowPosChanging(WPARAM, LPARAM);
    LRESULT OnGetMinMaxInfo(WPARAM, LPARAM);
    LRESULT OnSize(WPARAM, LPARAM);
    LRESULT OnDestroy(WPARAM, LPARAM);
    LRESULT OnTaskbarCreated(WPARAM, LPARAM);
    void OnShowWindow();
    void OnStopService();
    void OnRefresh();
    void OnControllerSetup();
    void OnCancel();

    // Shows the window at the user's request and brings it to the front.
    void ShowOnRequest();
    void Hide();
    void ShowTrayMenu();
    void AddTrayIcon();
    void RemoveTrayIcon();
    NOTIFYICONDATAA TrayIconData(UINT flags) const;
    // Quits unless a port is in use, in which case the box says so.
    void QuitUnlessPortInUse();
    // Ends the program's dialog: the global pointer is cleared and the quit message posted.
    void Quit();
    void Layout();

    PortManagerAccess& ports_;
    CComPropertySheet sheet_;
    Dialog* maintenance_ = nullptr;
    Control frame_;
    Control refreshButton_;
    Control setupButton_;
    HICON icon_ = nullptr;
    bool trayIconAdded_ = false;
    DWORD hideAtStart_ = 1;
    bool shownOnRequest_ = false;
    uint32_t clientWidth_ = 0;
    uint32_t clientHeight_ = 0;
    uint32_t pageWidth_ = 200;
    uint32_t pageHeight_ = 200;
};

// The main window while it exists and has not quit; pages reach the sheet through it.
CComMainDlg* MainWindow();

}  // namespace pta::ui
