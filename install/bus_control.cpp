#include "bus_control.h"

#include <setupapi.h>

#include <vector>

#include "bus_contract.h"

namespace pta {

std::string FindBusInterfacePath(const char** failedStep, DWORD* error)
{
    auto fail = [&](const char* step) {
        if (failedStep) *failedStep = step;
        if (error) *error = GetLastError();
        return std::string();
    };
    const GUID& guid = AsGuid(PtaBusInterfaceGuid);
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return fail("SetupDiGetClassDevs");

    std::string path;
    SP_DEVICE_INTERFACE_DATA iface = {};
    iface.cbSize = sizeof iface;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &iface)) {
        fail("SetupDiEnumDeviceInterfaces");
    } else {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &needed, nullptr);
        std::vector<BYTE> buf(needed > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                                  ? needed
                                  : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buf.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, (DWORD)buf.size(), nullptr,
                                             nullptr))
            path = detail->DevicePath;
        else
            fail("SetupDiGetDeviceInterfaceDetail");
    }
    SetupDiDestroyDeviceInfoList(set);
    return path;
}

HANDLE OpenBusInterface(bool overlapped)
{
    DWORD error = 0;
    std::string path = FindBusInterfacePath(nullptr, &error);
    if (path.empty()) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
}

bool BusRequest(HANDLE bus, DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength)
{
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ov.hEvent) return false;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(bus, code, const_cast<void*>(in), inLength, out, outLength,
                              &returned, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        ok = GetOverlappedResult(bus, &ov, &returned, TRUE);
    const DWORD error = GetLastError();
    CloseHandle(ov.hEvent);
    SetLastError(error);
    return ok != FALSE;
}

bool BusAddPorts(HANDLE bus, DWORD count)
{
    BusAddRequest request = {sizeof(BusAddRequest), count};
    return BusRequest(bus, IOCTL_BUS_ADD_PORTS, &request, sizeof request, &request, sizeof request);
}

bool BusRemovePorts(HANDLE bus)
{
    return BusRequest(bus, IOCTL_BUS_REMOVE_PORTS, nullptr, 0, nullptr, 0);
}

bool BusAttachEvent(HANDLE bus, HANDLE event)
{
    uint64_t value = reinterpret_cast<uintptr_t>(event);
    return BusRequest(bus, IOCTL_BUS_ATTACH, &value, sizeof value, nullptr, 0);
}

bool BusDetachEvent(HANDLE bus, HANDLE event)
{
    uint64_t value = reinterpret_cast<uintptr_t>(event);
    return BusRequest(bus, IOCTL_BUS_DETACH, &value, sizeof value, nullptr, 0);
}

}  // namespace pta
