// CColorListCtrl: a report list with alternating row colours by row index, drawn through
// custom draw and its own background, and a header whose columns cannot be dragged
// narrower than a few pixels. Also the two image lists the list pages share.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <stdint.h>

#include <string>

#include "dialog.h"

namespace pta::ui {

class CColorListCtrl : public Control {
public:
    CColorListCtrl() = default;
    ~CColorListCtrl();
    CColorListCtrl(const CColorListCtrl&) = delete;
    CColorListCtrl& operator=(const CColorListCtrl&) = delete;

    void SetColours(COLORREF even, COLORREF odd)
    {
        even_ = even;
        odd_ = odd;
    }
    COLORREF EvenColour() const { return even_; }
    COLORREF OddColour() const { return odd_; }

    // Takes over the list's background and header guard; call once the window exists.
    void Subclass();

    // The answer to the list's NM_CUSTOMDRAW, which reaches its parent.
    LRESULT OnCustomDraw(NMHDR* header);

    // Report view helpers.
    void InsertColumn(int index, const char* heading, int format);
    void SetColumnWidth(int index, int width);
    int ColumnWidth(int index) const;
    int RowCount() const;
    void DeleteAllRows();
    // Appends a row with its first column's text and item parameter; its index.
    int AppendRow(const std::string& text, LPARAM parameter);
    void SetCellText(int row, int column, const std::string& text);
    std::string CellText(int row, int column) const;
    void SetCellImage(int row, int column, int image);
    int CellImage(int row, int column) const;
    LPARAM RowParameter(int row) const;
    int ClientWidth() const;

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);
    void EraseBackground(HDC dc);

    COLORREF even_ = RGB(255, 255, 255);
    COLORREF odd_ = RGB(255, 255, 255);
    bool subclassed_ = false;
};

// The list pages' colours.
constexpr COLORREF kEvenRowColour = 0xFFFFFF;
constexpr COLORREF kOddRowColour = 0xF7F7F7;

// The shared image lists: check boxes (empty, grey tick, black tick) and status balls
// (empty, grey, blue, green, orange, red), 16 x 14 each. Created once; null until then.
void CreateSharedImageLists();
HIMAGELIST CheckImageList();
HIMAGELIST StatusImageList();

// The header guard of both list pages: a column may not become narrower than 5 pixels.
bool RefusesColumnWidth(const NMHDR* header);

}  // namespace pta::ui
