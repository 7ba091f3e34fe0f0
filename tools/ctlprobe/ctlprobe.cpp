// ctlprobe: drives a running PortaraCtl.exe from outside, the way a user or another
// program would, for the demonstration and the end-to-end tests:
//
//   ctlprobe wait [SECONDS]             waits until the main window is up (Portara_Handle),
//                                       30 s unless told
//   ctlprobe show PAGE                  shows the window with sheet page 0..3 active
//   ctlprobe hide                       hides the window (its close box)
//   ctlprobe cell LIST ROW COLUMN       prints a cell's text (LIST 1000: port list, 1007: monitor)
//   ctlprobe image ROW COLUMN           prints a monitor cell's image index
//   ctlprobe row COMn                   prints the port list row of COMn (-1: none)
//   ctlprobe wait-cell COMn COLUMN TEXT waits until the port list row of COMn shows TEXT
//   ctlprobe click COMn                 clicks the port list row of COMn
//   ctlprobe set ID TEXT                sets the text of a port list page control
//   ctlprobe press ID                   clicks a button of the port list page (posted)
//   ctlprobe answer CAPTION BUTTON      waits for a box or dialog with CAPTION, clicks BUTTON
//   ctlprobe shot FILE.bmp              saves the screen as a 24-bit BMP
//   ctlprobe quit                       sends the quit request and waits for the window to go
//
// The list view's messages carry pointers, so they are sent with buffers in the program's
// own memory. Exit code 0 on success, 1 on failure, 2 on a usage error.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "registry_layout.h"
#include "screen_shot.h"

namespace {

constexpr int kPortList = 1000;
constexpr int kMonitorList = 1007;
constexpr UINT kQuitRequest = WM_USER + 3;
constexpr UINT kShowWindowCommand = 32771;

bool WaitUntil(const std::function<bool()>& condition, DWORD boundMs = 30000)
{
    for (DWORD waited = 0;; waited += 50) {
        if (condition()) return true;
        if (waited >= boundMs) return false;
        Sleep(50);
    }
}

HWND MainWindow()
{
    DWORD handle = 0, size = sizeof handle;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, pta::ProductKey, pta::PortaraHandleValue, RRF_RT_REG_DWORD, nullptr,
                     &handle, &size) != ERROR_SUCCESS)
        return nullptr;
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
    return IsWindow(window) ? window : nullptr;
}

// A control anywhere below the main window, by its id and class.
HWND FindControl(HWND main, int id, const char* className)
{
    struct Search {
        int id;
        const char* className;
        HWND found;
    } search{id, className, nullptr};
    EnumChildWindows(
        main,
        [](HWND child, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            char name[64] = {};
            GetClassNameA(child, name, sizeof name);
            if (GetDlgCtrlID(child) == s->id && _stricmp(name, s->className) == 0) {
                s->found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND List(int id)
{
    HWND main = MainWindow();
    return main ? FindControl(main, id, WC_LISTVIEWA) : nullptr;
}

// A buffer in the memory of the process that owns a window.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, size_t size) : size_(size)
    {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteBuffer()
    {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool Valid() const { return address_ != nullptr; }
    char* At(size_t offset) const { return static_cast<char*>(address_) + offset; }
    bool Write(size_t offset, const void* data, size_t length)
    {
        return offset + length <= size_ && WriteProcessMemory(process_, At(offset), data, length, nullptr);
    }
    bool Read(size_t offset, void* data, size_t length)
    {
        return offset + length <= size_ && ReadProcessMemory(process_, At(offset), data, length, nullptr);
    }

private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
    size_t size_;
};

bool CellText(HWND list, int row, int column, std::string* text)
{
    RemoteBuffer remote(list, sizeof(LVITEMA) + 512);
    if (!remote.Valid()) return false;
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = remote.At(sizeof item);
    item.cchTextMax = 511;
    char empty = 0;
    if (!remote.Write(0, &item, sizeof item) || !remote.Write(sizeof item, &empty, 1)) return false;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)));
    char buffer[512] = {};
    if (!remote.Read(sizeof item, buffer, 511)) return false;
    *text = buffer;
    return true;
}

int CellImage(HWND list, int row, int column)
{
    RemoteBuffer remote(list, sizeof(LVITEMA));
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iSubItem = column;
    item.iImage = -1;
    if (!remote.Valid() || !remote.Write(0, &item, sizeof item)) return -1;
    SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote.At(0)));
    remote.Read(0, &item, sizeof item);
    return item.iImage;
}

int RowOf(HWND list, const std::string& com)
{
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        std::string text;
        if (CellText(list, row, 0, &text) && text == com) return row;
    }
    return -1;
}

// A click of the left button on a row, as the mouse gives it: the list itself then tells
// its page (notifications cannot be sent across processes).
bool ClickRow(HWND list, int row)
{
    RemoteBuffer remote(list, sizeof(RECT));
    RECT rect{};
    rect.left = LVIR_LABEL;
    if (!remote.Valid() || !remote.Write(0, &rect, sizeof rect)) return false;
    if (!SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0))))
        return false;
    remote.Read(0, &rect, sizeof rect);
    const LPARAM point = MAKELPARAM(rect.left + 4, (rect.top + rect.bottom) / 2);
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageA(list, WM_LBUTTONUP, 0, point);
    SendMessageA(list, WM_NULL, 0, 0);
    return true;
}

// A top-level window of this desktop with the caption, visible.
HWND FindCaption(const char* caption)
{
    HWND window = FindWindowA(nullptr, caption);
    return window && IsWindowVisible(window) ? window : nullptr;
}

int Fail(const char* what)
{
    fprintf(stderr, "ctlprobe: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string verb = argc > 1 ? argv[1] : "";
    HWND main = nullptr;
    if (verb != "shot" && verb != "answer") {
        const DWORD boundMs = verb == "wait" && argc == 3 ? static_cast<DWORD>(atoi(argv[2])) * 1000 : 30000;
        if (!WaitUntil([&] { return (main = MainWindow()) != nullptr; }, boundMs)) return Fail("no PortaraCtl window");
    }
    if (verb == "wait" && (argc == 2 || argc == 3)) {
        printf("ctlprobe: PortaraCtl's window is up\n");
        return 0;
    }
    if (verb == "show" && argc == 3) {
        SendMessageA(main, WM_COMMAND, kShowWindowCommand, 0);
        SetWindowPos(main, HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        HWND list = List(kPortList);
        if (!list) return Fail("no port list");
        HWND sheet = GetParent(GetParent(list));
        SendMessageA(sheet, PSM_SETCURSEL, static_cast<WPARAM>(atoi(argv[2])), 0);
        for (int i = 0; i < 3; ++i) SendMessageA(main, WM_NULL, 0, 0);
        return 0;
    }
    if (verb == "hide" && argc == 2) {
        SendMessageA(main, WM_CLOSE, 0, 0);
        return 0;
    }
    if (verb == "cell" && argc == 5) {
        HWND list = List(atoi(argv[2]));
        std::string text;
        if (!list || !CellText(list, atoi(argv[3]), atoi(argv[4]), &text)) return Fail("no such list");
        printf("%s\n", text.c_str());
        return 0;
    }
    if (verb == "image" && argc == 4) {
        HWND list = List(kMonitorList);
        if (!list) return Fail("no monitor list");
        printf("%d\n", CellImage(list, atoi(argv[2]), atoi(argv[3])));
        return 0;
    }
    if (verb == "row" && argc == 3) {
        HWND list = List(kPortList);
        if (!list) return Fail("no port list");
        printf("%d\n", RowOf(list, argv[2]));
        return 0;
    }
    if (verb == "wait-cell" && argc == 5) {
        HWND list = List(kPortList);
        if (!list) return Fail("no port list");
        std::string text;
        const bool shown = WaitUntil([&] {
            const int row = RowOf(list, argv[2]);
            return row >= 0 && CellText(list, row, atoi(argv[3]), &text) && text == argv[4];
        });
        printf("ctlprobe: %s column %s shows \"%s\"\n", argv[2], argv[3], text.c_str());
        return shown ? 0 : 1;
    }
    if (verb == "click" && argc == 3) {
        HWND list = List(kPortList);
        const int row = list ? RowOf(list, argv[2]) : -1;
        if (row < 0 || !ClickRow(list, row)) return Fail("no such row");
        return 0;
    }
    if ((verb == "set" && argc == 4) || (verb == "press" && argc == 3)) {
        HWND list = List(kPortList);
        if (!list) return Fail("no port list");
        HWND page = GetParent(list);
        HWND control = GetDlgItem(page, atoi(argv[2]));
        if (!control) return Fail("no such control");
        if (verb == "set")
            SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
        else
            PostMessageA(page, WM_COMMAND, MAKEWPARAM(atoi(argv[2]), BN_CLICKED), reinterpret_cast<LPARAM>(control));
        return 0;
    }
    if (verb == "answer" && argc == 4) {
        HWND box = nullptr;
        if (!WaitUntil([&] { return (box = FindCaption(argv[2])) != nullptr; }, 20000))
            return Fail("no such box");
        SendMessageA(box, WM_NULL, 0, 0);
        Sleep(300);
        // A message box's text is its static control 0xFFFF.
        char text[256] = {};
        if (HWND message = GetDlgItem(box, 0xFFFF)) GetWindowTextA(message, text, sizeof text);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(atoi(argv[3]), BN_CLICKED), 0);
        if (!WaitUntil([&] { return !IsWindow(box); }, 10000)) return Fail("the box stayed");
        printf("ctlprobe: answered \"%s\"%s%s\n", argv[2], text[0] ? ": " : "", text);
        return 0;
    }
    if (verb == "shot" && argc == 3) {
        Sleep(1000);  // the X server draws everything first
        return SaveScreen(argv[2]) ? 0 : Fail("could not save the picture");
    }
    if (verb == "quit" && argc == 2) {
        PostMessageA(main, kQuitRequest, 0, 0);
        if (!WaitUntil([&] { return !IsWindow(main); })) return Fail("the window stayed after the quit request");
        printf("ctlprobe: PortaraCtl's window is gone after the quit request\n");
        return 0;
    }
    fprintf(stderr, "usage: ctlprobe wait [SECONDS] | show PAGE | hide | cell LIST ROW COLUMN | image ROW COLUMN | row COMn |\n"
                    "       wait-cell COMn COLUMN TEXT | click COMn | set ID TEXT | press ID |\n"
                    "       answer CAPTION BUTTON | shot FILE.bmp | quit\n");
    return 2;
}
