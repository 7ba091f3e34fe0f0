// CComPortMonitorDlg: the port status monitor page (tab "Monitor"): live line and activity indicators.
#pragma once

#include "resource.h"
#include "sheet_page.h"

namespace pta::ui {

class CComPortMonitorDlg : public SheetPage {
public:
    CComPortMonitorDlg() : SheetPage(IDD_PORT_MONITOR_PAGE) {}
};

}  // namespace pta::ui
