// CComPropertySheet: the sheet of the main window with its four pages, and SheetPage, the
// operations every one of those pages offers to the main window.
#pragma once

#include "dialog.h"
#include "port_manager_access.h"
#include "port_install_page.h"
#include "port_list_page.h"
#include "port_monitor_page.h"
#include "port_uninstall_page.h"

namespace pta::ui {

// Page indexes: the tab order.
enum SheetPageIndex : int {
    kPortListPage = 0,
    kPortMonitorPage = 1,
    kPortInstallPage = 2,
    kPortUninstallPage = 3,
    kSheetPageCount = 4,
};

class CComPropertySheet : public ChildSheet {
public:
    explicit CComPropertySheet(PortManagerAccess& ports);
    // The sheet window goes before the pages that answer its page windows.
    ~CComPropertySheet() override { DestroySheet(); }

    SheetPage& SheetPageAt(int index) const;
    CComPortaraDlg& PortListPage() { return portList_; }
    CComPortMonitorDlg& MonitorPage() { return monitor_; }
    CComPortInstallDlg& InstallPage() { return install_; }
    CComPortUninstallDlg& UninstallPage() { return uninstall_; }

    // Refreshes the page that is active now.
    void RefreshActivePage();

protected:
    LRESULT SheetMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    CComPortaraDlg portList_;
    CComPortMonitorDlg monitor_;
    CComPortInstallDlg install_;
    CComPortUninstallDlg uninstall_;
};

}  // namespace pta::ui
