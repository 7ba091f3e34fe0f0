#include "property_sheet.h"

namespace pta::ui {

CComPropertySheet::CComPropertySheet(PortManagerAccess& ports) : portList_(ports), monitor_(ports)
{
    AddPage(portList_);
    AddPage(monitor_);
    AddPage(install_);
    AddPage(uninstall_);
}

SheetPage& CComPropertySheet::SheetPageAt(int index) const
{
    return static_cast<SheetPage&>(Page(static_cast<size_t>(index)));
}

void CComPropertySheet::RefreshActivePage()
{
    const int active = ActiveIndex();
    if (active >= 0 && active < kSheetPageCount) SheetPageAt(active).RefreshPage();
}

LRESULT CComPropertySheet::SheetMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    // Every repaint of the sheet brings its active page up to date.
    if (message == WM_PAINT) {
        const LRESULT result = DefaultSheetMessage(message, wParam, lParam);
        RefreshActivePage();
        return result;
    }
    return DefaultSheetMessage(message, wParam, lParam);
}

}  // namespace pta::ui
