// Runs the control program's application on a thread of its own, with a port manager
// that answers from the test (start-up, ports in use, teardowns) while the settings go to
// the real registry. The test thread drives the main window by messages.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common_control.h"
#include "main_dlg.h"
#include "message_box.h"
#include "portara_app.h"
#include "registry_layout.h"

namespace pta_test {

// Waits for a condition, checking every 50 ms; false if it did not come within the bound.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD boundMs = 20000)
{
    for (DWORD waited = 0;; waited += 50) {
        if (condition()) return true;
        if (waited >= boundMs) return false;
        Sleep(50);
    }
}

// The settings store of a port manager, kept apart so that it exists before the access.
struct SettingsStore {
    pta::CCommonControl control;
};

// The port manager as the test wants it; settings are read and written for real.
class TestPorts : private SettingsStore, public pta::ui::CommonControlAccess {
public:
    TestPorts() : CommonControlAccess(SettingsStore::control) {}
    ~TestPorts() override { CloseHandle(windowSet_); }

    std::atomic<int> startUpResult{1};
    std::atomic<int> reloadResult{1};
    std::atomic<int> portInUse{0};
    std::atomic<int> startUps{0};
    std::atomic<int> tearDowns{0};
    std::atomic<HWND> mainWindow{nullptr};

    int StartUp() override
    {
        ++startUps;
        return startUpResult;
    }
    void TearDown() override { ++tearDowns; }
    int AnyPortInUse() override { return portInUse; }
    int ReloadPortSettings() override { return reloadResult; }
    void SetMainWindow(HWND window) override
    {
        mainWindow = window;
        SetEvent(windowSet_);
    }

    // Waits until the main window has finished its initialisation.
    bool WaitForMainWindow(DWORD boundMs = 20000) const
    {
        return WaitForSingleObject(windowSet_, boundMs) == WAIT_OBJECT_0;
    }

private:
    HANDLE windowSet_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

// A message box as the program asked for it.
struct ShownBox {
    std::string text;
    std::string caption;
    UINT flags;
};

// The application on its own thread, from start to end.
class AppRun {
public:
    explicit AppRun(TestPorts& ports)
        : ports_(ports),
          hook_([this](const std::string& text, const std::string& caption, UINT flags) {
              std::lock_guard<std::mutex> lock(boxLock_);
              boxes_.push_back({text, caption, flags});
              return IDOK;
          })
    {
        thread_ = std::thread([this] {
            pta::CComPortaraApp app(ports_);
            result_ = app.InitInstance();
            ended_ = true;
        });
    }
    ~AppRun()
    {
        if (thread_.joinable()) {
            if (HWND window = ports_.mainWindow.load(); window && IsWindow(window))
                PostMessageA(window, pta::ui::kQuitRequestMessage, 1, 1);
            thread_.join();
        }
    }
    AppRun(const AppRun&) = delete;
    AppRun& operator=(const AppRun&) = delete;

    HWND Window() const { return ports_.mainWindow; }

    // Lets the window's thread take every message queued so far: each sent message is
    // answered only from the message loop, after the posted ones before it were handled.
    void Settle() const
    {
        for (int i = 0; i < 3; ++i) SendMessageA(Window(), WM_NULL, 0, 0);
    }
    bool Running()
    {
        Settle();
        return IsWindow(Window()) && !ended_;
    }
    // Waits for the application to end (the test's time-out bounds it).
    bool Join()
    {
        thread_.join();
        return result_;
    }
    bool Ended() const { return ended_; }

    std::vector<ShownBox> Boxes()
    {
        std::lock_guard<std::mutex> lock(boxLock_);
        return boxes_;
    }

private:
    TestPorts& ports_;
    pta::ScopedMessageBoxHook hook_;
    std::mutex boxLock_;
    std::vector<ShownBox> boxes_;
    std::atomic<bool> ended_{false};
    bool result_ = true;
    std::thread thread_;
};

}  // namespace pta_test
