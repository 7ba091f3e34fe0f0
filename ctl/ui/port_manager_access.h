// What the application, its main window and the pages ask of the port manager. The program
// uses the process-wide CCommonControl; a test may answer in its place.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <vector>

#include "port_config.h"

namespace pta {
class CCommonControl;
}

namespace pta::ui {

// The ten indicator values of a port worker, in the monitor's column order.
using IndicatorValues = uint32_t[10];

class PortManagerAccess {
public:
    virtual ~PortManagerAccess() = default;

    // Start-up of the port manager: 1 = run, 0 = end the program.
    virtual int StartUp() = 0;
    // Stops every port and releases the manager's resources; later calls do nothing.
    virtual void TearDown() = 0;
    // 1 if an application holds any virtual port open.
    virtual int AnyPortInUse() = 0;
    // Rebuilds the map of configured ports: 1 if any port is listed.
    virtual int ReloadPortSettings() = 0;
    // Publishes the main window to a later copy of the program.
    virtual void SetMainWindow(HWND window) = 0;
    // Values of the product key; 1 on success, 0 on failure (a missing value too).
    virtual int ReadSetting(const char* name, DWORD* value) = 0;
    virtual int WriteSetting(const char* name, DWORD value) = 0;

    // --- What the pages use ---

    // The configured ports as the last reload left them (the user interface thread reads
    // them; a reload replaces them on that thread).
    virtual const PortConfigMap& Ports() = 0;
    // The table mutex that keeps workers from going away while they are read.
    virtual HANDLE TableMutex() = 0;
    // Values of any subkey of the root; 1 on success, 0 on failure.
    virtual int ReadDword(const char* subkey, const char* name, DWORD* value) = 0;
    virtual int WriteDword(const char* subkey, const char* name, DWORD value) = 0;
    virtual int WriteString(const char* subkey, const char* name, const char* text) = 0;
    // 1 if the slot's worker exists and an application has its port open.
    virtual int IsPortInUse(int slot) = 0;
    // Ends the application's hold on the port ("COM5" names it); 1 on success.
    virtual int ForceClosePort(int slot, const char* comName) = 0;
    // The indicators of the slot's worker, false when it has none; and the reset of TX and
    // RX after the monitor looked. Both under the table mutex.
    virtual bool WorkerIndicators(uint32_t slot, IndicatorValues& values) = 0;
    virtual void ResetActivity(uint32_t slot) = 0;
    // The COM port database's usage, one byte per COM number 1..1024 (non-zero: claimed);
    // false when the database cannot be read.
    virtual bool ComPortUsage(std::vector<uint8_t>* usage) = 0;
    // Told on a worker's thread when an application opens or closes a slot's port; set
    // before the workers start.
    using SlotOpenCallback = std::function<void(uint32_t slot, bool open)>;
    virtual void SetSlotOpenCallback(SlotOpenCallback callback) = 0;
};

// The access through a port manager object.
class CommonControlAccess : public PortManagerAccess {
public:
    explicit CommonControlAccess(CCommonControl& control) : control_(control) {}

    int StartUp() override;
    void TearDown() override;
    int AnyPortInUse() override;
    int ReloadPortSettings() override;
    void SetMainWindow(HWND window) override;
    int ReadSetting(const char* name, DWORD* value) override;
    int WriteSetting(const char* name, DWORD value) override;

    const PortConfigMap& Ports() override;
    HANDLE TableMutex() override;
    int ReadDword(const char* subkey, const char* name, DWORD* value) override;
    int WriteDword(const char* subkey, const char* name, DWORD value) override;
    int WriteString(const char* subkey, const char* name, const char* text) override;
    int IsPortInUse(int slot) override;
    int ForceClosePort(int slot, const char* comName) override;
    bool WorkerIndicators(uint32_t slot, IndicatorValues& values) override;
    void ResetActivity(uint32_t slot) override;
    bool ComPortUsage(std::vector<uint8_t>* usage) override;
    void SetSlotOpenCallback(SlotOpenCallback callback) override;

protected:
    CCommonControl& control_;
};

}  // namespace pta::ui
