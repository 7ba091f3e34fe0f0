// What the Wine tests of the drivers share: installing both driver packages into the
// test's prefix, configuring bus slots, asking the bus for ports, and waiting for them.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "bus_contract.h"
#include "bus_control.h"
#include "driver_setup.h"
#include "link_channel.h"
#include "registry_layout.h"

namespace pta {

inline std::string PackageFolder()
{
    // The Linux path of the package folder, seen through Wine's Z: drive.
    const char* dir = std::getenv("PORTARA_PACKAGE_DIR");
    std::string path = std::string("Z:") + (dir ? dir : "");
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

inline bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 20000)
{
    for (DWORD waited = 0;; waited += 100) {
        if (condition()) return true;
        if (waited >= timeoutMs) return false;
        Sleep(100);
    }
}

// Opens a device and sends it a private request: true when the driver answered it.
inline bool Reaches(const std::string& name)
{
    HANDLE h = CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(h, IOCTL_LINK_PROBE, nullptr, 0, nullptr, 0, &returned, nullptr);
    CloseHandle(h);
    return ok != FALSE;
}

// Stages the port driver's package and installs the bus stand-in.
inline void InstallDrivers()
{
    std::string folder = PackageFolder();
    SetupResult staged = StageInf(folder + "\\" + PortInfName, "ptaser2.sys");
    ASSERT_TRUE(staged.Ok) << staged.Step << " " << staged.Error;
    SetupResult bus = InstallRootEnumeratedDriver(folder + "\\" + BusInfName, BusHardwareId);
    ASSERT_TRUE(bus.Ok) << bus.Step << " " << bus.Error;
    EXPECT_TRUE(WaitFor([] { return !FindBusInterfacePath().empty(); }));
}

inline void ConfigureSlot(int slot, DWORD comPort)
{
    char key[64];
    std::snprintf(key, sizeof key, SlotSubkeyFormat, slot);
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &h, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, ComPortValue, 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&comPort), 4));
    RegCloseKey(h);
}

inline void UnconfigureSlot(int slot)
{
    char key[64];
    std::snprintf(key, sizeof key, SlotSubkeyFormat, slot);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, key));
}

inline void AskBus(bool add, DWORD count = 0)
{
    HANDLE bus = OpenBusInterface();
    ASSERT_NE(INVALID_HANDLE_VALUE, bus) << "bus control interface";
    EXPECT_TRUE(add ? BusAddPorts(bus, count) : BusRemovePorts(bus)) << GetLastError();
    CloseHandle(bus);
}

}  // namespace pta
