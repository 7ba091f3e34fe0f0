// The dialog layer of the control program: dialogs from templates, modal or modeless,
// property pages and a child property sheet, message maps that call member handlers, and
// controls bound to their ids.
//
// A dialog class registers its handlers in its constructor:
//
//     CMyDlg::CMyDlg() : Dialog(IDD_MY_DIALOG)
//     {
//         OnMessage(WM_SIZE, &CMyDlg::OnSize);          // LRESULT OnSize(WPARAM, LPARAM)
//         OnCommand(IDC_APPLY, &CMyDlg::OnApply);       // void OnApply()
//         OnNotify(IDC_LIST, NM_CLICK, &CMyDlg::OnListClick);  // LRESULT (NMHDR*)
//         Bind(IDC_LIST, list_);                        // list_ is a Control
//         BindText(IDC_NAME, name_);                    // name_ is a std::string
//     }
//
// and overrides OnInitDialog for its start. Bound controls are attached before
// OnInitDialog runs; Exchange moves bound texts between fields and edit boxes.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pta::ui {

// The module that holds the dialog templates, menus and icons: the program itself.
HINSTANCE ResourceModule();

// A control of a dialog, by its window handle.
class Control {
public:
    Control() = default;
    explicit Control(HWND hwnd) : hwnd_(hwnd) {}

    HWND Hwnd() const { return hwnd_; }
    void Attach(HWND hwnd) { hwnd_ = hwnd; }
    bool Valid() const { return hwnd_ != nullptr; }

    std::string Text() const;
    void SetText(const std::string& text);
    void Enable(bool enable);
    void Show(bool show);
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    // The window rectangle in the client coordinates of its parent.
    RECT RectInParent() const;
    // Moves and sizes the control without changing its z-order or activating it.
    void Move(int x, int y, int width, int height);

private:
    HWND hwnd_ = nullptr;
};

// A combo box: entries with a number attached to each.
class ComboBox : public Control {
public:
    void Clear() { Send(CB_RESETCONTENT); }
    // Adds an entry (at its sorted place in a sorted box); returns its index.
    int Add(const std::string& text, LPARAM number = 0);
    int Count() const { return static_cast<int>(Send(CB_GETCOUNT)); }
    // The selected index, or -1.
    int Selected() const { return static_cast<int>(Send(CB_GETCURSEL)); }
    void Select(int index) { Send(CB_SETCURSEL, static_cast<WPARAM>(index)); }
    LPARAM Number(int index) const { return Send(CB_GETITEMDATA, static_cast<WPARAM>(index)); }
    std::string EntryText(int index) const;
};

class Dialog {
public:
    explicit Dialog(UINT templateId);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog modally; returns the code given to EndDialog (0 when the dialog
    // ended because the thread's quit message arrived, -1 when it could not be created).
    INT_PTR DoModal(HWND owner = nullptr);
    // Creates the dialog modelessly; false if it could not be created.
    bool Create(HWND parent);
    void EndDialog(INT_PTR result);

    HWND Hwnd() const { return hwnd_; }
    UINT TemplateId() const { return templateId_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

    // Copies the bound texts from the edit boxes into their fields (save) or back.
    void Exchange(bool save);

protected:
    using MessageHandler = std::function<LRESULT(WPARAM, LPARAM)>;
    using CommandHandler = std::function<void()>;
    using NotifyHandler = std::function<LRESULT(NMHDR*)>;

    // Command notification codes that OnCommand(id, handler) answers: button clicks,
    // menu commands (both 0) and accelerators (1).
    static constexpr WORD kAnyClick = 0xFFFF;
    // The control id that OnNotify matches for notifications from any control.
    static constexpr UINT_PTR kAnyControl = ~static_cast<UINT_PTR>(0);

    // The message map. A handler's result is the message's result.
    void OnMessage(UINT message, MessageHandler handler);
    void OnCommand(int id, CommandHandler handler) { OnCommand(id, kAnyClick, std::move(handler)); }
    void OnCommand(int id, WORD code, CommandHandler handler);
    void OnNotify(UINT_PTR id, UINT code, NotifyHandler handler);

    // The same with member functions of the derived dialog.
    template <class T>
    void OnMessage(UINT message, LRESULT (T::*fn)(WPARAM, LPARAM))
    {
        OnMessage(message, [this, fn](WPARAM w, LPARAM l) { return (static_cast<T*>(this)->*fn)(w, l); });
    }
    template <class T>
    void OnCommand(int id, void (T::*fn)())
    {
        OnCommand(id, [this, fn] { (static_cast<T*>(this)->*fn)(); });
    }
    template <class T>
    void OnCommand(int id, WORD code, void (T::*fn)())
    {
        OnCommand(id, code, [this, fn] { (static_cast<T*>(this)->*fn)(); });
    }
    template <class T>
    void OnNotify(UINT_PTR id, UINT code, LRESULT (T::*fn)(NMHDR*))
    {
        OnNotify(id, code, [this, fn](NMHDR* h) { return (static_cast<T*>(this)->*fn)(h); });
    }

    // Control binding: attached when the dialog window exists.
    void Bind(int id, Control& control);
    void BindText(int id, std::string& text);

    // Runs after the window and its bound controls exist. TRUE: the dialog manager sets
    // the focus to the first control.
    virtual BOOL OnInitDialog() { return TRUE; }

    // The default handling of a message by the window manager, for handlers that let it
    // run first.
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

    // The dialog procedure of every dialog; lParam of WM_INITDIALOG is the Dialog.
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Initialise(HWND hwnd);
    bool Call(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    UINT templateId_;
    HWND hwnd_ = nullptr;
    std::map<UINT, MessageHandler> messages_;
    std::map<std::pair<int, WORD>, CommandHandler> commands_;
    std::map<std::pair<UINT_PTR, UINT>, NotifyHandler> notifies_;
    std::vector<std::pair<int, Control*>> boundControls_;
    std::vector<std::pair<int, std::string*>> boundTexts_;
};

// A page of a property sheet: a dialog whose window the sheet creates.
class PropertyPage : public Dialog {
public:
    explicit PropertyPage(UINT templateId);

    // The page description the sheet is created from.
    PROPSHEETPAGEA Description();

protected:
    // The page becomes the active page; 0 accepts, -1 refuses.
    virtual LRESULT OnSetActive() { return 0; }
    // The page stops being the active page; FALSE lets it go.
    virtual LRESULT OnKillActive() { return FALSE; }

private:
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// A modeless property sheet created as a child window of a dialog, without the OK,
// Cancel and Apply buttons.
class ChildSheet {
public:
    ChildSheet() = default;
    virtual ~ChildSheet();
    ChildSheet(const ChildSheet&) = delete;
    ChildSheet& operator=(const ChildSheet&) = delete;

    // Pages are added before the sheet is created, in tab order.
    void AddPage(PropertyPage& page) { pages_.push_back(&page); }
    // Creates the sheet as a visible child of parent (WS_CHILD | DS_CONTROL, tab stop,
    // WS_EX_CONTROLPARENT); false if it could not be created.
    bool CreateChild(HWND parent);

    HWND Hwnd() const { return hwnd_; }
    HWND TabControl() const;
    size_t PageCount() const { return pages_.size(); }
    PropertyPage& Page(size_t index) const { return *pages_[index]; }
    // The index of the active page, or -1.
    int ActiveIndex() const;
    void SetActivePage(int index);
    // Destroys the sheet window with its page windows; the destructor does it too.
    void DestroySheet();

protected:
    // Messages of the sheet window; the default hands them to the sheet's own procedure.
    virtual LRESULT SheetMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultSheetMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    static int CALLBACK SheetCallback(HWND hwnd, UINT message, LPARAM lParam);

    std::vector<PropertyPage*> pages_;
    HWND hwnd_ = nullptr;
};

}  // namespace pta::ui
