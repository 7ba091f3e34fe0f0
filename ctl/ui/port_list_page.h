// CComPortaraDlg: the port list page (tab "Port Info"): every configured virtual port and its settings.
#pragma once

#include "resource.h"
#include "sheet_page.h"

namespace pta::ui {

class CComPortaraDlg : public SheetPage {
public:
    CComPortaraDlg() : SheetPage(IDD_PORT_LIST_PAGE) {}
};

}  // namespace pta::ui
