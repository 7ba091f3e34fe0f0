#include "color_list.h"

#include <vector>

#include "monitor_core.h"
#include "port_list_core.h"
#include "resource.h"

namespace pta::ui {

namespace {

HIMAGELIST g_checkImages = nullptr;
HIMAGELIST g_statusImages = nullptr;

constexpr int kImageWidth = 16;
constexpr int kImageHeight = 14;
constexpr UINT kCheckImageFlags = 0x11;
constexpr UINT kStatusImageFlags = 0xFF;

HIMAGELIST CreateFromBitmap(UINT flags, UINT bitmapId)
{
    HIMAGELIST list = ImageList_Create(kImageWidth, kImageHeight, flags, 0, 0);
    if (!list) return nullptr;
    HBITMAP bitmap = LoadBitmapA(ResourceModule(), MAKEINTRESOURCEA(bitmapId));
    if (bitmap) {
        ImageList_AddMasked(list, bitmap, RGB(255, 255, 255));
        DeleteObject(bitmap);
    }
    return list;
}

}  // namespace

void CreateSharedImageLists()
{
    if (!g_checkImages) g_checkImages = CreateFromBitmap(kCheckImageFlags, IDB_CHECK_IMAGES);
    if (!g_statusImages) g_statusImages = CreateFromBitmap(kStatusImageFlags, IDB_STATUS_IMAGES);
}

HIMAGELIST CheckImageList()
{
    return g_checkImages;
}

HIMAGELIST StatusImageList()
{
    return g_statusImages;
}

bool RefusesColumnWidth(const NMHDR* header)
{
    if (header->code != HDN_ITEMCHANGINGA && header->code != HDN_ITEMCHANGINGW) return false;
    const auto* change = reinterpret_cast<const NMHEADERA*>(header);
    return change->pitem && (change->pitem->mask & HDI_WIDTH) && change->pitem->cxy < kMinColumnWidth;
}

// --- CColorListCtrl ---

CColorListCtrl::~CColorListCtrl()
{
    if (subclassed_ && Hwnd() && IsWindow(Hwnd())) RemoveWindowSubclass(Hwnd(), SubclassProc, 0);
}

void CColorListCtrl::Subclass()
{
    if (subclassed_ || !Hwnd()) return;
    subclassed_ = SetWindowSubclass(Hwnd(), SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this)) != FALSE;
}

LRESULT CALLBACK CColorListCtrl::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                               DWORD_PTR self)
{
    auto* list = reinterpret_cast<CColorListCtrl*>(self);
    switch (message) {
    case WM_ERASEBKGND:
        list->EraseBackground(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_NOTIFY:
        // The header tells its list first: a too narrow column is refused here.
        if (RefusesColumnWidth(reinterpret_cast<NMHDR*>(lParam))) return TRUE;
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, SubclassProc, 0);
        list->subclassed_ = false;
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

void CColorListCtrl::EraseBackground(HDC dc)
{
    RECT client{};
    GetClientRect(Hwnd(), &client);
    HBRUSH evenBrush = CreateSolidBrush(even_);
    HBRUSH oddBrush = CreateSolidBrush(odd_);
    FillRect(dc, &client, evenBrush);
    const int top = static_cast<int>(Send(LVM_GETTOPINDEX));
    const int visible = static_cast<int>(Send(LVM_GETCOUNTPERPAGE));
    for (int i = 0; i <= visible; ++i) {
        RECT row{}, next{};
        row.left = next.left = LVIR_BOUNDS;
        if (!Send(LVM_GETITEMRECT, static_cast<WPARAM>(top + i), reinterpret_cast<LPARAM>(&row))) break;
        int bottom = row.bottom;
        if (Send(LVM_GETITEMRECT, static_cast<WPARAM>(top + i + 1), reinterpret_cast<LPARAM>(&next)))
            bottom = next.top;
        RECT band{client.left, row.top, client.right, bottom};
        FillRect(dc, &band, (top + i) % 2 == 0 ? evenBrush : oddBrush);
    }
    DeleteObject(evenBrush);
    DeleteObject(oddBrush);
}

LRESULT CColorListCtrl::OnCustomDraw(NMHDR* header)
{
    auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
    const CustomDrawAnswer answer = CustomDrawFor(draw->nmcd.dwDrawStage);
    if (answer.setTextColours) {
        draw->clrText = RGB(0, 0, 0);
        if (draw->nmcd.dwDrawStage & CDDS_SUBITEM)
            draw->clrTextBk = StripeColour(static_cast<int>(draw->nmcd.dwItemSpec), even_, odd_);
    }
    return answer.result;
}

void CColorListCtrl::InsertColumn(int index, const char* heading, int format)
{
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = format;
    column.pszText = const_cast<char*>(heading);
    column.iSubItem = index;
    Send(LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
}

void CColorListCtrl::SetColumnWidth(int index, int width)
{
    Send(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(index), MAKELPARAM(width, 0));
}

int CColorListCtrl::ColumnWidth(int index) const
{
    return static_cast<int>(Send(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(index)));
}

int CColorListCtrl::RowCount() const
{
    return static_cast<int>(Send(LVM_GETITEMCOUNT));
}

void CColorListCtrl::DeleteAllRows()
{
    Send(LVM_DELETEALLITEMS);
}

int CColorListCtrl::AppendRow(const std::string& text, LPARAM parameter)
{
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = RowCount();
    item.pszText = const_cast<char*>(text.c_str());
    item.lParam = parameter;
    return static_cast<int>(Send(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

void CColorListCtrl::SetCellText(int row, int column, const std::string& text)
{
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    Send(LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::string CColorListCtrl::CellText(int row, int column) const
{
    char text[260] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    Send(LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

void CColorListCtrl::SetCellImage(int row, int column, int image)
{
    LVITEMA item{};
    item.mask = LVIF_IMAGE | LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.iImage = image;
    item.pszText = const_cast<char*>("");
    Send(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

int CColorListCtrl::CellImage(int row, int column) const
{
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iSubItem = column;
    Send(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}

LPARAM CColorListCtrl::RowParameter(int row) const
{
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    Send(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

int CColorListCtrl::ClientWidth() const
{
    RECT client{};
    GetClientRect(Hwnd(), &client);
    return client.right - client.left;
}

}  // namespace pta::ui
