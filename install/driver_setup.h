// Installing the driver packages with setupapi: staging an INF in the system's INF store
// and installing a root-enumerated device from an INF. Shared by the installer and tools.
#pragma once

#include <windows.h>

#include <string>

namespace pta {

// The outcome of a setup operation; on failure, the step that failed and its error code.
struct SetupResult {
    bool Ok = true;
    const char* Step = "";
    DWORD Error = 0;

    static SetupResult Failed(const char* step, DWORD error) { return {false, step, error}; }
};

// Copies an INF into the system's INF store. Wine installs a device from the copied INF
// and looks for the driver files beside it, so the driver file named sysName (found
// beside the source INF) is copied there too.
SetupResult StageInf(const std::string& infPath, const char* sysName);

// Creates a root-enumerated device with the given hardware id and installs its driver
// from the INF. A device that was registered but could not be given its driver is removed.
SetupResult InstallRootEnumeratedDriver(const std::string& infPath, const char* hardwareId);

// True when running under Wine (ntdll exports wine_get_version).
bool RunningUnderWine();

}  // namespace pta
