// What the port manager's own code needs from a port worker: whether an application has
// the port open, the worker's driver device, and the request that renames the port.
#pragma once

#include <windows.h>

#include <stdint.h>

namespace pta {

class PortWorkerBase {
public:
    virtual ~PortWorkerBase() = default;

    // An application has the COM port open. Read without the worker's lock.
    virtual bool IsInUse() const = 0;

    // The worker's driver device \\.\ptaser2N, or INVALID_HANDLE_VALUE while it is not open.
    virtual HANDLE Device() const = 0;

    // Tells the driver to take the port's names again after its PortName changed. False
    // when the device is not open or the driver refuses.
    virtual bool RefreshNames(uint32_t comNumber);
};

// IOCTL_LINK_REFRESH_NAMES on a driver device, with the new COM number as 4 bytes of input.
bool SendRefreshNames(HANDLE device, uint32_t comNumber);

}  // namespace pta
