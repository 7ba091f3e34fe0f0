// SheetPage: a page of the main window's property sheet. The main window lays out every
// page with the page size it computes and refreshes the active one.
#pragma once

#include "dialog.h"

namespace pta::ui {

class SheetPage : public PropertyPage {
public:
    explicit SheetPage(UINT templateId) : PropertyPage(templateId) {}

    // Brings the page's contents up to date (the "Refresh" button, the sheet's repaint).
    virtual void RefreshPage() {}
    // Places the page in the sheet at (10, 30) with the given size; pages that arrange
    // their controls extend this.
    virtual void LayoutPage(int width, int height);
};

}  // namespace pta::ui
