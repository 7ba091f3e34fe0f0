// The bus driver's control interface as user mode sees it: finding and opening it, and
// its requests.
#pragma once

#include <windows.h>

#include <string>

namespace pta {

// Path of the first present control interface of the bus; empty when there is none, with
// the failing step and error in the out parameters.
std::string FindBusInterfacePath(const char** failedStep = nullptr, DWORD* error = nullptr);

// Opens the bus's control interface for reading and writing; INVALID_HANDLE_VALUE if absent.
HANDLE OpenBusInterface();

// IOCTL_BUS_ADD_PORTS with the number of ports added (0: report what is configured).
bool BusAddPorts(HANDLE bus, DWORD count);
// IOCTL_BUS_REMOVE_PORTS, after slots were removed from the configuration.
bool BusRemovePorts(HANDLE bus);

}  // namespace pta
