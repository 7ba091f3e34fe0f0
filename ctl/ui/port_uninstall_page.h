// CComPortUninstallDlg: the remove-ports page (tab "Delete Port"): removal of configured ports.
#pragma once

#include "resource.h"
#include "sheet_page.h"

namespace pta::ui {

class CComPortUninstallDlg : public SheetPage {
public:
    CComPortUninstallDlg() : SheetPage(IDD_PORT_UNINSTALL_PAGE) {}
};

}  // namespace pta::ui
