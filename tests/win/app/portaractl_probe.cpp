// Drives a running PortaraCtl.exe from outside, as another program would:
//
//   portaractl_probe wait-bus   waits until the bus control interface is present
//   portaractl_probe check      checks the first start (hidden window, tray icon,
//                               HideDialogFlag and Portara_Handle written), then asks the
//                               program to quit with WM_USER+3 and waits for its window to go
//
// Prints one line per check; the exit code is the number of failed checks.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "bus_control.h"
#include "registry_layout.h"

namespace {

int g_failed = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++g_failed;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD boundMs = 30000)
{
    for (DWORD waited = 0;; waited += 100) {
        if (condition()) return true;
        if (waited >= boundMs) return false;
        Sleep(100);
    }
}

bool ReadProductDword(const char* name, DWORD* value)
{
    DWORD size = sizeof *value;
    return RegGetValueA(HKEY_LOCAL_MACHINE, pta::ProductKey, name, RRF_RT_REG_DWORD, nullptr, value,
                        &size) == ERROR_SUCCESS;
}

bool TrayIconShown(HWND window)
{
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 128;
    data.uFlags = NIF_TIP;
    lstrcpynA(data.szTip, "Portara Control Ver 2.3", sizeof data.szTip);
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

int CheckRunningProgram()
{
    DWORD handle = 0;
    HWND window = nullptr;
    Check(WaitUntil([&] {
              if (!ReadProductDword(pta::PortaraHandleValue, &handle)) return false;
              window = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
              return IsWindow(window) != FALSE;
          }),
          "Portara_Handle names the main window");
    if (!IsWindow(window)) return g_failed;
    char title[64] = {};
    GetWindowTextA(window, title, sizeof title);
    Check(std::strcmp(title, "Portara Control Ver 2.3") == 0, "the window's title");
    Check(WaitUntil([&] { return TrayIconShown(window); }), "the tray icon is shown");
    // The window's thread has passed its first idle moment, where a dialog shows itself.
    for (int i = 0; i < 3; ++i) SendMessageA(window, WM_NULL, 0, 0);
    Check(!IsWindowVisible(window), "the window starts hidden");
    DWORD flag = 99;
    Check(ReadProductDword(pta::HideDialogFlagValue, &flag) && flag == 1, "HideDialogFlag written as 1");

    SendMessageA(window, WM_CLOSE, 0, 0);
    Check(IsWindow(window) && !IsWindowVisible(window), "the close box only hides");
    Check(SendMessageA(window, WM_QUERYENDSESSION, 0, 0) == TRUE, "the end of the session is allowed");

    PostMessageA(window, WM_USER + 3, 0, 0);
    Check(WaitUntil([&] { return !IsWindow(window); }), "the quit request ends the program");
    Check(!TrayIconShown(window), "the tray icon is gone");
    return g_failed;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "wait-bus") == 0) {
        Check(WaitUntil([] { return !pta::FindBusInterfacePath().empty(); }), "the bus interface is present");
        return g_failed;
    }
    if (argc == 2 && std::strcmp(argv[1], "check") == 0) return CheckRunningProgram();
    std::fprintf(stderr, "usage: portaractl_probe wait-bus | check\n");
    return 2;
}
