#include "sheet_page.h"

namespace pta::ui {

void SheetPage::LayoutPage(int width, int height)
{
    if (!Hwnd()) return;
    Control(Hwnd()).Move(10, 30, width, height);
}

}  // namespace pta::ui
