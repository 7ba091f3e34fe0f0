#include "dialog.h"

#include <string.h>

#include <vector>

namespace pta::ui {

HINSTANCE ResourceModule()
{
    return GetModuleHandleA(nullptr);
}

// --- Control ---

std::string Control::Text() const
{
    const int length = GetWindowTextLengthA(hwnd_);
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    GetWindowTextA(hwnd_, buffer.data(), length + 1);
    return buffer.data();
}

void Control::SetText(const std::string& text)
{
    SetWindowTextA(hwnd_, text.c_str());
}

void Control::Enable(bool enable)
{
    EnableWindow(hwnd_, enable ? TRUE : FALSE);
}

void Control::Show(bool show)
{
    ShowWindow(hwnd_, show ? SW_SHOW : SW_HIDE);
}

LRESULT Control::Send(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return SendMessageA(hwnd_, message, wParam, lParam);
}

RECT Control::RectInParent() const
{
    RECT rect{};
    GetWindowRect(hwnd_, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(hwnd_), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void Control::Move(int x, int y, int width, int height)
{
    SetWindowPos(hwnd_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- ComboBox ---

int ComboBox::Add(const std::string& text, LPARAM number)
{
    const int index = static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    if (index >= 0) Send(CB_SETITEMDATA, static_cast<WPARAM>(index), number);
    return index;
}

std::string ComboBox::EntryText(int index) const
{
    const LRESULT length = Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length < 0) return {};
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    Send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
    return buffer.data();
}

// --- Dialog ---

namespace {

// Messages whose result is the dialog procedure's return value itself rather than
// DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message)
{
    switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return true;
    default:
        return false;
    }
}

}  // namespace

Dialog::Dialog(UINT templateId) : templateId_(templateId) {}

Dialog::~Dialog()
{
    // A modeless window must not outlive the object that answers its messages.
    if (hwnd_ && IsWindow(hwnd_)) {
        SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
        DestroyWindow(hwnd_);
    }
}

INT_PTR Dialog::DoModal(HWND owner)
{
    return DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(templateId_), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

bool Dialog::Create(HWND parent)
{
    return CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(templateId_), parent, DialogProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

void Dialog::EndDialog(INT_PTR result)
{
    ::EndDialog(hwnd_, result);
}

void Dialog::OnMessage(UINT message, MessageHandler handler)
{
    messages_[message] = std::move(handler);
}

void Dialog::OnCommand(int id, WORD code, CommandHandler handler)
{
    commands_[{id, code}] = std::move(handler);
}

void Dialog::OnNotify(UINT_PTR id, UINT code, NotifyHandler handler)
{
    notifies_[{id, code}] = std::move(handler);
}

void Dialog::Bind(int id, Control& control)
{
    boundControls_.emplace_back(id, &control);
    if (hwnd_) control.Attach(Item(id));
}

void Dialog::BindText(int id, std::string& text)
{
    boundTexts_.emplace_back(id, &text);
}

void Dialog::Exchange(bool save)
{
    for (auto& [id, text] : boundTexts_) {
        Control edit(Item(id));
        if (save)
            *text = edit.Text();
        else
            edit.SetText(*text);
    }
}

LRESULT Dialog::Default(UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}

INT_PTR Dialog::Initialise(HWND hwnd)
{
    hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(this));
    for (auto& [id, control] : boundControls_) control->Attach(Item(id));
    Exchange(false);
    return OnInitDialog();
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Dialog*>(lParam);
        return self ? self->Initialise(hwnd) : TRUE;
    }
    auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self) return FALSE;
    const INT_PTR handled = self->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        for (auto& bound : self->boundControls_) bound.second->Attach(nullptr);
        self->hwnd_ = nullptr;
    }
    return handled;
}

bool Dialog::Call(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    if (message == WM_COMMAND) {
        const int id = LOWORD(wParam);
        const WORD code = HIWORD(wParam);
        auto it = commands_.find({id, code});
        if (it == commands_.end() && code <= 1) it = commands_.find({id, kAnyClick});
        if (it != commands_.end()) {
            it->second();
            *result = 0;
            return true;
        }
    } else if (message == WM_NOTIFY) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        auto it = notifies_.find({header->idFrom, header->code});
        if (it == notifies_.end()) it = notifies_.find({kAnyControl, header->code});
        if (it != notifies_.end()) {
            *result = it->second(header);
            return true;
        }
    }
    auto it = messages_.find(message);
    if (it == messages_.end()) return false;
    *result = it->second(wParam, lParam);
    return true;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!Call(message, wParam, lParam, &result)) return FALSE;
    if (ReturnsDirectly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, result);
    return TRUE;
}

// --- PropertyPage ---

PropertyPage::PropertyPage(UINT templateId) : Dialog(templateId)
{
    OnNotify(kAnyControl, PSN_SETACTIVE, [this](NMHDR*) { return OnSetActive(); });
    OnNotify(kAnyControl, PSN_KILLACTIVE, [this](NMHDR*) { return OnKillActive(); });
}

PROPSHEETPAGEA PropertyPage::Description()
{
    PROPSHEETPAGEA page{};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_DEFAULT;
    page.hInstance = ResourceModule();
    page.pszTemplate = MAKEINTRESOURCEA(TemplateId());
    page.pfnDlgProc = PageProc;
    page.lParam = reinterpret_cast<LPARAM>(this);
    return page;
}

INT_PTR CALLBACK PropertyPage::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    // A page gets its description at initialisation; the Dialog is in its lParam.
    if (message == WM_INITDIALOG && lParam)
        lParam = reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam;
    return DialogProc(hwnd, message, wParam, lParam);
}

// --- ChildSheet ---

ChildSheet::~ChildSheet()
{
    DestroySheet();
}

void ChildSheet::DestroySheet()
{
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
}

int CALLBACK ChildSheet::SheetCallback(HWND, UINT message, LPARAM lParam)
{
    if (message != PSCB_PRECREATE || !lParam) return 0;
    // The sheet template becomes a child control: no caption, frame or system menu.
    constexpr DWORD kRemoved = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME |
                               WS_DLGFRAME | WS_BORDER | DS_CONTEXTHELP;
    constexpr DWORD kAdded = WS_CHILD | WS_VISIBLE | DS_CONTROL | WS_TABSTOP;
    auto* words = reinterpret_cast<WORD*>(lParam);
    const bool extended = words[0] == 1 && words[1] == 0xFFFF;  // DLGTEMPLATEEX
    if (extended) {
        // dlgVer, signature, helpID, exStyle, style: the styles are at bytes 8 and 12.
        auto* bytes = reinterpret_cast<BYTE*>(lParam);
        DWORD exStyle, style;
        memcpy(&exStyle, bytes + 8, sizeof exStyle);
        memcpy(&style, bytes + 12, sizeof style);
        style = (style & ~kRemoved) | kAdded;
        exStyle |= WS_EX_CONTROLPARENT;
        memcpy(bytes + 8, &exStyle, sizeof exStyle);
        memcpy(bytes + 12, &style, sizeof style);
    } else {
        auto* tmpl = reinterpret_cast<DLGTEMPLATE*>(lParam);
        tmpl->style = (tmpl->style & ~kRemoved) | kAdded;
        tmpl->dwExtendedStyle |= WS_EX_CONTROLPARENT;
    }
    return 0;
}

bool ChildSheet::CreateChild(HWND parent)
{
    std::vector<PROPSHEETPAGEA> descriptions;
    for (PropertyPage* page : pages_) descriptions.push_back(page->Description());

    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_USECALLBACK | PSH_NOAPPLYNOW;
    header.hwndParent = parent;
    header.hInstance = ResourceModule();
    header.nPages = static_cast<UINT>(descriptions.size());
    header.ppsp = descriptions.data();
    header.pfnCallback = SheetCallback;
    const INT_PTR created = PropertySheetA(&header);
    if (created <= 0) return false;
    hwnd_ = reinterpret_cast<HWND>(created);

    // A sheet inside a window has no buttons of its own.
    for (int id : {IDOK, IDCANCEL, IDHELP, 0x3021 /* Apply */}) {
        if (HWND button = GetDlgItem(hwnd_, id)) {
            ShowWindow(button, SW_HIDE);
            EnableWindow(button, FALSE);
        }
    }
    SetWindowSubclass(hwnd_, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this));
    return true;
}

HWND ChildSheet::TabControl() const
{
    return hwnd_ ? reinterpret_cast<HWND>(SendMessageA(hwnd_, PSM_GETTABCONTROL, 0, 0)) : nullptr;
}

int ChildSheet::ActiveIndex() const
{
    HWND tab = TabControl();
    return tab ? static_cast<int>(SendMessageA(tab, TCM_GETCURSEL, 0, 0)) : -1;
}

void ChildSheet::SetActivePage(int index)
{
    SendMessageA(hwnd_, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
}

LRESULT ChildSheet::SheetMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefaultSheetMessage(message, wParam, lParam);
}

LRESULT ChildSheet::DefaultSheetMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefSubclassProc(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK ChildSheet::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR, DWORD_PTR self)
{
    auto* sheet = reinterpret_cast<ChildSheet*>(self);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, SubclassProc, 0);
        sheet->hwnd_ = nullptr;
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }
    return sheet->SheetMessage(message, wParam, lParam);
}

}  // namespace pta::ui
