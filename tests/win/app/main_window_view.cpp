// Shows the control program's main window with a stand-in port manager (no drivers
// needed) and saves a picture of the whole screen as a 24-bit BMP, to look at.
//
//   main_window_view OUTPUT.bmp [menu]
//
// With "menu" the tray menu is open in the picture.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "app_harness.h"
#include "resource.h"

using namespace pta_test;

namespace {

bool SaveScreen(const char* path)
{
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    std::vector<BYTE> pixels(stride * static_cast<DWORD>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path, "wb");
    if (!out) return false;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info, sizeof info, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: main_window_view OUTPUT.bmp [menu]\n");
        return 2;
    }
    const bool withMenu = argc > 2 && std::strcmp(argv[2], "menu") == 0;

    TestPorts ports;
    AppRun run(ports);
    if (!ports.WaitForMainWindow()) {
        std::fprintf(stderr, "main_window_view: the main window did not come up\n");
        return 1;
    }
    HWND window = run.Window();
    SendMessageA(window, WM_COMMAND, ID_TRAY_SHOW_WINDOW, 0);
    SetWindowPos(window, HWND_TOP, 40, 30, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    HWND menu = nullptr;
    if (withMenu) {
        RECT rect{};
        GetWindowRect(window, &rect);
        SetCursorPos(rect.right - 120, rect.bottom - 60);
        PostMessageA(window, pta::ui::kTrayCallbackMessage, pta::ui::kTrayIconId, WM_RBUTTONUP);
        WaitUntil([&] {
            menu = FindWindowA("#32768", nullptr);
            return menu && IsWindowVisible(menu);
        });
    } else {
        run.Settle();
    }
    // Give the X server time to draw everything before the picture is taken.
    Sleep(1500);
    const bool saved = SaveScreen(argv[1]);
    if (menu) PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    run.Settle();
    PostMessageA(window, pta::ui::kQuitRequestMessage, 1, 1);
    run.Join();
    std::printf("main_window_view: %s %s\n", saved ? "saved" : "could not save", argv[1]);
    return saved ? 0 : 1;
}
