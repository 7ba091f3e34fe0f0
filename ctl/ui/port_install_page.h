// CComPortInstallDlg: the add-ports page (tab "Add Port"): new virtual ports on free COM numbers.
#pragma once

#include "resource.h"
#include "sheet_page.h"

namespace pta::ui {

class CComPortInstallDlg : public SheetPage {
public:
    CComPortInstallDlg() : SheetPage(IDD_PORT_INSTALL_PAGE) {}
};

}  // namespace pta::ui
