#include "port_worker_base.h"

#include "link_channel.h"

namespace pta {

bool PortWorkerBase::RefreshNames(uint32_t comNumber)
{
    return SendRefreshNames(Device(), comNumber);
}

bool SendRefreshNames(HANDLE device, uint32_t comNumber)
{
    if (device == nullptr || device == INVALID_HANDLE_VALUE) return false;
    DWORD number = comNumber, returned = 0;
    return DeviceIoControl(device, IOCTL_LINK_REFRESH_NAMES, &number, sizeof number, nullptr, 0,
                           &returned, nullptr) != FALSE;
}

}  // namespace pta
