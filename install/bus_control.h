// The bus driver's control interface as user mode sees it: finding and opening it, and
// its requests.
#pragma once

#include <windows.h>

#include <string>

namespace pta {

// Path of the first present control interface of the bus; empty when there is none, with
// the failing step and error in the out parameters.
std::string FindBusInterfacePath(const char** failedStep = nullptr, DWORD* error = nullptr);

// Opens the bus's control interface for reading and writing, shared; INVALID_HANDLE_VALUE
// if absent (GetLastError tells why). `overlapped` opens it for overlapped requests; the
// requests below work on either kind of handle.
HANDLE OpenBusInterface(bool overlapped = false);

// One request to the bus, waited for to its end whichever way the handle was opened.
bool BusRequest(HANDLE bus, DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength);

// IOCTL_BUS_ADD_PORTS with the number of ports added (0: report what is configured).
bool BusAddPorts(HANDLE bus, DWORD count);
// IOCTL_BUS_REMOVE_PORTS, after slots were removed from the configuration.
bool BusRemovePorts(HANDLE bus);
// IOCTL_BUS_ATTACH and IOCTL_BUS_DETACH, each with the event handle's 8 bytes as input.
bool BusAttachEvent(HANDLE bus, HANDLE event);
bool BusDetachEvent(HANDLE bus, HANDLE event);

}  // namespace pta
