// The port driver and the bus stand-in loaded for real under Wine. The run is split in
// phases (gtest filters) by run_driver_test.sh, with a wineserver restart between them:
//   Install.*   install the packages, configure slots 0 and 1, ask the bus for 2 ports
//   Restart.*   after the restart the ports are back by themselves; then removal and
//               a COM name collision
#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>

#include "bus_contract.h"
#include "driver_fixture.h"

using namespace pta;

namespace {

bool Exists(const std::string& name)
{
    char target[512];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

std::string LinkTarget(const std::string& name)
{
    char target[512] = {};
    if (!QueryDosDeviceA(name.c_str(), target, sizeof target)) return "";
    return target;
}

// The SERIALCOMM values: device name -> COM name.
std::map<std::string, std::string> SerialComm()
{
    std::map<std::string, std::string> values;
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &h))
        return values;
    for (DWORD i = 0;; ++i) {
        char name[256], data[256] = {};
        DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
        if (RegEnumValueA(h, i, name, &nameLen, nullptr, &type, (BYTE*)data, &dataLen)) break;
        if (type == REG_SZ) values[name] = data;
    }
    RegCloseKey(h);
    return values;
}

// Instance ids of the devices with a present COM port interface.
std::map<std::string, std::string> ComPortInterfaces()
{
    std::map<std::string, std::string> found;  // instance id -> friendly name
    const GUID& guid = AsGuid(ComPortInterfaceGuid);
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return found;
    SP_DEVICE_INTERFACE_DATA iface = {};
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &iface); ++i) {
        SP_DEVINFO_DATA dev = {};
        dev.cbSize = sizeof dev;
        SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, nullptr, &dev);
        char id[256] = {}, friendly[256] = {};
        SetupDiGetDeviceInstanceIdA(set, &dev, id, sizeof id, nullptr);
        SetupDiGetDeviceRegistryPropertyA(set, &dev, SPDRP_FRIENDLYNAME, nullptr,
                                          (BYTE*)friendly, sizeof friendly - 1, nullptr);
        found[id] = friendly;
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

const char* const kChild0 = "PTAMF2\\*PNP0501\\00000000";
const char* const kChild1 = "PTAMF2\\*PNP0501\\00000001";

void ExpectBothPorts()
{
    ASSERT_TRUE(WaitFor([] { return Reaches("ptaser21") && Reaches("ptaser22"); }));
    EXPECT_TRUE(Reaches("COM5"));
    EXPECT_TRUE(Reaches("COM12"));
    auto comm = SerialComm();
    EXPECT_EQ("COM5", comm["\\DosDevices\\ptaser21"]);
    EXPECT_EQ("COM12", comm["\\DosDevices\\ptaser22"]);
    auto ifaces = ComPortInterfaces();
    ASSERT_EQ(1u, ifaces.count(kChild0));
    ASSERT_EQ(1u, ifaces.count(kChild1));
    EXPECT_EQ("PORTARA SERIAL PORT (COM5)", ifaces[kChild0]);
    EXPECT_EQ("PORTARA SERIAL PORT (COM12)", ifaces[kChild1]);
}

}  // namespace

TEST(Install, DriversInstallAndTheBusAppears) { InstallDrivers(); }

TEST(Install, BusRejectsMalformedRequests)
{
    HANDLE bus = OpenBusInterface();
    ASSERT_NE(INVALID_HANDLE_VALUE, bus);
    DWORD returned = 0;
    BusAddRequest wrongSize = {7, 1};
    uint32_t shortInput = 8;
    EXPECT_FALSE(DeviceIoControl(bus, IOCTL_BUS_ADD_PORTS, &wrongSize, sizeof wrongSize, nullptr,
                                 0, &returned, nullptr));
    EXPECT_FALSE(DeviceIoControl(bus, IOCTL_BUS_ADD_PORTS, &shortInput, sizeof shortInput,
                                 nullptr, 0, &returned, nullptr));
    EXPECT_FALSE(DeviceIoControl(bus, IOCTL_BUS_ATTACH, &shortInput, sizeof shortInput, nullptr,
                                 0, &returned, nullptr));

    // One registration at a time: attach, attach again refused, detach, attach again.
    uint64_t event = (uint64_t)(ULONG_PTR)CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_TRUE(DeviceIoControl(bus, IOCTL_BUS_ATTACH, &event, 8, nullptr, 0, &returned, nullptr));
    EXPECT_FALSE(DeviceIoControl(bus, IOCTL_BUS_ATTACH, &event, 8, nullptr, 0, &returned, nullptr));
    EXPECT_TRUE(DeviceIoControl(bus, IOCTL_BUS_DETACH, &event, 8, nullptr, 0, &returned, nullptr));
    EXPECT_TRUE(DeviceIoControl(bus, IOCTL_BUS_ATTACH, &event, 8, nullptr, 0, &returned, nullptr));
    EXPECT_TRUE(DeviceIoControl(bus, IOCTL_BUS_DETACH, &event, 8, nullptr, 0, &returned, nullptr));
    CloseHandle((HANDLE)(ULONG_PTR)event);
    CloseHandle(bus);
}

TEST(Install, TwoConfiguredSlotsBecomeTwoPorts)
{
    ConfigureSlot(0, 5);
    ConfigureSlot(1, 12);
    AskBus(true, 2);
    ExpectBothPorts();
}

TEST(Restart, PortsComeBackByThemselves) { ExpectBothPorts(); }

TEST(Restart, RemovingASlotRemovesItsDeviceOnly)
{
    UnconfigureSlot(1);
    AskBus(false);
    ASSERT_TRUE(WaitFor([] { return !Exists("ptaser22"); }));
    EXPECT_FALSE(Exists("COM12"));
    EXPECT_EQ(0u, SerialComm().count("\\DosDevices\\ptaser22"));
    EXPECT_EQ(0u, ComPortInterfaces().count(kChild1));

    EXPECT_TRUE(Reaches("ptaser21"));
    EXPECT_TRUE(Reaches("COM5"));
    EXPECT_EQ("COM5", SerialComm()["\\DosDevices\\ptaser21"]);
    EXPECT_EQ(1u, ComPortInterfaces().count(kChild0));
}

TEST(Restart, ASecondDeviceOnATakenComNameTakesTheLink)
{
    ConfigureSlot(2, 5);
    AskBus(true, 1);
    ASSERT_TRUE(WaitFor([] { return Reaches("ptaser23"); }));
    EXPECT_NE(std::string::npos, LinkTarget("COM5").find("ptaser23")) << LinkTarget("COM5");
    EXPECT_TRUE(Reaches("COM5"));
    EXPECT_TRUE(Reaches("ptaser21"));
}
