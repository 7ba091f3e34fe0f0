// The pages and dialogs of the control program under Wine, driven by messages from the
// test thread: configured ports in the registry, stand-in workers in the port manager's
// table, modal dialogs run on a thread of their own, and every message box answered.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bus_contract.h"
#include "common_control.h"
#include "dialog.h"
#include "message_box.h"
#include "port_manager_access.h"
#include "registry_layout.h"

namespace pta_test {

using namespace pta;
using namespace pta::ui;

// Waits for a condition, checking every 20 ms; false if it did not come within the bound.
inline bool WaitFor(const std::function<bool()>& condition, DWORD boundMs = 10000)
{
    for (DWORD waited = 0;; waited += 20) {
        if (condition()) return true;
        if (waited >= boundMs) return false;
        Sleep(20);
    }
}

// A worker in the table: an open flag and ten indicators the test sets.
class FakeWorker : public PortWorkerBase {
public:
    std::atomic<bool> inUse{false};
    std::atomic<uint32_t> values[10];
    std::atomic<int> resets{0};

    FakeWorker()
    {
        for (auto& v : values) v = 1;
    }
    bool IsInUse() const override { return inUse; }
    HANDLE Device() const override { return INVALID_HANDLE_VALUE; }
};

struct ControlStore {
    CCommonControl control;
};

// The port manager: the real registry and map, stand-in workers, a COM port database usage
// and forced closes that the test decides.
class UiPorts : private ControlStore, public CommonControlAccess {
public:
    UiPorts() : CommonControlAccess(ControlStore::control) {}
    ~UiPorts() override { RemoveAll(); }

    std::vector<uint8_t> usage;
    bool usageKnown = false;
    std::atomic<int> forceCloseResult{1};
    std::vector<std::pair<int, std::string>> forceCloses;

    // A configured port: its subkey with every value, its PortName, and a worker.
    FakeWorker& Configure(uint32_t slot, uint32_t com, uint32_t protocol = 0, uint32_t ip = 0x7F000001,
                          uint32_t tcpPort = 4001, uint32_t aliveRx = 7000)
    {
        const std::string key = SlotSubkey(slot);
        SetDword(key, EncryptionValue, protocol);
        SetDword(key, IpAddressValue, ip);
        SetDword(key, TcpPortValue, tcpPort);
        SetDword(key, ComPortValue, com);
        SetDword(key, AliveRxTimerValue, aliveRx);
        SetDword(key, AliveTxTimerValue, AliveTxFor(aliveRx));
        ControlStore::control.WriteString(key.c_str(), Comment1Value, "");
        ControlStore::control.WriteString(key.c_str(), Comment2Value, "");
        const std::string name = "COM" + std::to_string(com);
        HKEY h;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, ChildParametersKey(slot).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &h, nullptr);
        RegSetValueExA(h, PTA_PORT_NAME_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                       static_cast<DWORD>(name.size() + 1));
        RegCloseKey(h);
        auto* worker = new FakeWorker;
        {
            TableLock lock(ControlStore::control.TableMutex());
            ControlStore::control.SetWorker(slot, std::unique_ptr<PortWorkerBase>(worker));
        }
        slots_.push_back(slot);
        return *worker;
    }

    // A value of a slot's subkey; ~0 when it cannot be read.
    DWORD SlotValue(uint32_t slot, const char* name)
    {
        DWORD value = 0;
        return ControlStore::control.ReadDword(SlotSubkey(slot).c_str(), name, &value) ? value : ~0u;
    }
    std::string SlotText(uint32_t slot, const char* name)
    {
        std::string text;
        ControlStore::control.ReadString(SlotSubkey(slot).c_str(), name, &text);
        return text;
    }
    void SetSlotValue(uint32_t slot, const char* name, DWORD value) { SetDword(SlotSubkey(slot), name, value); }
    void DeleteSlotValue(uint32_t slot, const char* name)
    {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SlotSubkey(slot).c_str(), 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS)
            return;
        RegDeleteValueA(h, name);
        RegCloseKey(h);
    }

    FakeWorker* Fake(uint32_t slot) { return dynamic_cast<FakeWorker*>(ControlStore::control.Worker(slot)); }

    void RemoveAll()
    {
        TableLock lock(ControlStore::control.TableMutex());
        for (uint32_t slot : slots_) {
            ControlStore::control.SetWorker(slot, nullptr);
            SHDeleteKeyA(HKEY_LOCAL_MACHINE, SlotSubkey(slot).c_str());
            SHDeleteKeyA(HKEY_LOCAL_MACHINE, ChildParametersKey(slot).c_str());
        }
        slots_.clear();
    }

    bool WorkerIndicators(uint32_t slot, IndicatorValues& values) override
    {
        FakeWorker* worker = Fake(slot);
        if (!worker) return false;
        for (int i = 0; i < 10; ++i) values[i] = worker->values[i];
        return true;
    }
    void ResetActivity(uint32_t slot) override
    {
        if (FakeWorker* worker = Fake(slot)) {
            worker->values[3] = 1;
            worker->values[4] = 1;
            ++worker->resets;
        }
    }
    bool ComPortUsage(std::vector<uint8_t>* out) override
    {
        if (!usageKnown) return false;
        *out = usage;
        return true;
    }
    // Writes of the pages fail while failWrites is set.
    std::atomic<bool> failWrites{false};
    int WriteDword(const char* subkey, const char* name, DWORD value) override
    {
        return failWrites ? 0 : CommonControlAccess::WriteDword(subkey, name, value);
    }
    int WriteString(const char* subkey, const char* name, const char* text) override
    {
        return failWrites ? 0 : CommonControlAccess::WriteString(subkey, name, text);
    }
    int ForceClosePort(int slot, const char* comName) override
    {
        forceCloses.emplace_back(slot, comName);
        return forceCloseResult;
    }

private:
    static void SetDword(const std::string& key, const char* name, DWORD value)
    {
        HKEY h;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &h, nullptr));
        RegSetValueExA(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        RegCloseKey(h);
    }

    std::vector<uint32_t> slots_;
};

// A message box as the program asked for it, answered with `answer`.
struct ShownBox {
    std::string text;
    std::string caption;
    UINT flags;
};

class BoxRecorder {
public:
    BoxRecorder()
        : hook_([this](const std::string& text, const std::string& caption, UINT flags) {
              std::lock_guard<std::mutex> lock(lock_);
              boxes_.push_back({text, caption, flags});
              return answer.load();
          })
    {
    }
    std::atomic<int> answer{IDOK};
    std::vector<ShownBox> Boxes()
    {
        std::lock_guard<std::mutex> lock(lock_);
        return boxes_;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(lock_);
        boxes_.clear();
    }

private:
    std::mutex lock_;
    std::vector<ShownBox> boxes_;
    ScopedMessageBoxHook hook_;
};

// --- Controls, read and driven from the test thread ---

inline std::string TextOf(HWND window)
{
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

inline RECT RectOf(HWND window, HWND parent)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

inline std::vector<std::string> ComboTexts(HWND combo)
{
    std::vector<std::string> texts;
    const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
    }
    return texts;
}

inline int ComboSelected(HWND combo)
{
    return static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
}

inline LPARAM ComboNumber(HWND combo, int index)
{
    return SendMessageA(combo, CB_GETITEMDATA, index, 0);
}

// A click on a button of a dialog, as the button sends it.
inline void Click(HWND dialog, int id)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// The user picks an entry of a combo box.
inline void Choose(HWND dialog, int id, int index)
{
    HWND combo = GetDlgItem(dialog, id);
    SendMessageA(combo, CB_SETCURSEL, index, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

// A dialog shown modally on a thread of its own, as a caller shows it.
class ModalRun {
public:
    template <typename Show>
    explicit ModalRun(Show show)
    {
        thread_ = std::thread([this, show] {
            result_ = show();
            done_ = true;
        });
    }
    ~ModalRun()
    {
        if (thread_.joinable()) {
            if (HWND window = window_.load()) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            thread_.join();
        }
    }
    ModalRun(const ModalRun&) = delete;
    ModalRun& operator=(const ModalRun&) = delete;

    // Waits until the dialog with this caption is up and initialised on the run's thread.
    HWND WaitForWindow(const char* caption)
    {
        WaitFor([&] {
            HWND found = FindWindowA(nullptr, caption);
            if (found && IsWindowVisible(found)) window_ = found;
            return window_.load() != nullptr;
        });
        if (HWND window = window_.load()) SendMessageA(window, WM_NULL, 0, 0);
        return window_;
    }
    // Waits for the dialog to end; its result.
    INT_PTR Join()
    {
        thread_.join();
        return result_;
    }

private:
    std::atomic<HWND> window_{nullptr};
    std::atomic<bool> done_{false};
    INT_PTR result_ = 0;
    std::thread thread_;
};

// Common controls for the dialogs, once.
inline void InitControls()
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
}

}  // namespace pta_test

namespace pta_test {

// One page of the sheet, in a child sheet of a window of its own, on a thread with its
// message loop: the way the main window hosts it. Run() executes code on that thread.
class PageHost {
public:
    explicit PageHost(pta::ui::PropertyPage& page) : sheet_(page)
    {
        ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this] { Loop(); });
        WaitForSingleObject(ready_, 20000);
    }
    ~PageHost()
    {
        if (parent_) PostMessageA(parent_, WM_CLOSE, 0, 0);
        thread_.join();
        CloseHandle(ready_);
    }
    PageHost(const PageHost&) = delete;
    PageHost& operator=(const PageHost&) = delete;

    HWND Parent() const { return parent_; }
    HWND Sheet() { return sheet_.Hwnd(); }
    bool Created() const { return created_; }

    // Runs fn on the page's thread and waits for it.
    void Run(const std::function<void()>& fn)
    {
        SendMessageA(parent_, kRunMessage, 0, reinterpret_cast<LPARAM>(&fn));
    }

private:
    static constexpr UINT kRunMessage = WM_APP + 77;

    class OnePageSheet : public pta::ui::ChildSheet {
    public:
        explicit OnePageSheet(pta::ui::PropertyPage& page) { AddPage(page); }
        ~OnePageSheet() override { DestroySheet(); }
    };

    static LRESULT CALLBACK ParentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR)
    {
        if (message == kRunMessage) {
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return 0;
        }
        if (message == WM_CLOSE) {
            PostQuitMessage(0);
            return 0;
        }
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }

    void Loop()
    {
        parent_ = CreateWindowExA(WS_EX_CONTROLPARENT, "STATIC", "page host", WS_POPUP | WS_VISIBLE | WS_CAPTION,
                                  0, 0, 1000, 700, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        SetWindowSubclass(parent_, ParentProc, 0, 0);
        created_ = sheet_.CreateChild(parent_);
        if (created_) SetWindowPos(sheet_.Hwnd(), nullptr, 0, 0, 980, 660, SWP_NOZORDER);
        SetEvent(ready_);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (!IsDialogMessageA(sheet_.Hwnd(), &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        sheet_.DestroySheet();
        DestroyWindow(parent_);
    }

    OnePageSheet sheet_;
    HWND parent_ = nullptr;
    bool created_ = false;
    HANDLE ready_ = nullptr;
    std::thread thread_;
};

}  // namespace pta_test
