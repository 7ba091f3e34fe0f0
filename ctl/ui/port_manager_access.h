// What the application and its main window ask of the port manager. The program uses the
// process-wide CCommonControl; a test may answer in its place.
#pragma once

#include <windows.h>

namespace pta {
class CCommonControl;
}

namespace pta::ui {

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

protected:
    CCommonControl& control_;
};

}  // namespace pta::ui
