// Shows the control program's main window with a stand-in port manager (no drivers
// needed) and saves a picture of the whole screen as a 24-bit BMP, to look at.
//
//   main_window_view OUTPUT.bmp [menu]
//   main_window_view OUTPUT.bmp conf add|remove|configure
//
// With "menu" the tray menu is open in the picture; with "conf" the port settings dialog
// is shown in one of its modes over a few configured ports.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include <thread>

#include "app_harness.h"
#include "conf_dlg.h"
#include "resource.h"
#include "screen_shot.h"

using namespace pta_test;

namespace {

// A port manager whose configured ports are a fixed list, and whose COM port database
// has COM7 claimed.
class ViewPorts : public TestPorts {
public:
    ViewPorts()
    {
        const uint32_t coms[] = {5, 6, 9, 12};
        for (uint32_t i = 0; i < 4; ++i) {
            pta::PortSettings settings;
            settings.PortNumber = i;
            settings.ComNumber = coms[i];
            pta::InsertPortSettings(map_, settings);
        }
    }
    const pta::PortConfigMap& Ports() override { return map_; }
    bool ComPortUsage(std::vector<uint8_t>* usage) override
    {
        usage->assign(1024, 0);
        (*usage)[7 - 1] = 1;
        return true;
    }

private:
    pta::PortConfigMap map_;
};

int ShowSettingsDialog(const char* path, const std::string& mode)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    ViewPorts ports;
    pta::ui::CComInstConfDlg dialog(ports);
    pta::ui::ConfDlgSettings record;
    record.IpAddress = 0xC0A80A14;  // 192.168.10.20
    record.TcpPort = 4001;
    record.Protocol = 1;
    record.Comment1 = "line 1";
    record.RangeFlag = 1;
    if (mode == "add")
        dialog.SetAddCaller(&record, 5);
    else if (mode == "remove")
        dialog.SetRemoveCaller(5);
    else
        dialog.SetConfigureCaller(&ports);
    std::thread shown([&] { dialog.DoModal(nullptr); });
    HWND window = nullptr;
    WaitUntil([&] {
        window = FindWindowA(nullptr, "Multiport Configuration");
        return window && IsWindowVisible(window);
    });
    bool saved = false;
    if (window) {
        SetWindowPos(window, HWND_TOP, 40, 30, 0, 0, SWP_NOSIZE);
        Sleep(1500);
        saved = SaveScreen(path);
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    }
    shown.join();
    std::printf("main_window_view: %s %s\n", saved ? "saved" : "could not save", path);
    return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 3 && std::strcmp(argv[2], "conf") == 0) return ShowSettingsDialog(argv[1], argv[3]);
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
