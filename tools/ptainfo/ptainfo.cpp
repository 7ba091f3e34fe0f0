// Prints the shared definitions as a Windows program sees them: the baud table and the
// control codes of the port driver and the bus driver.
#include <cstdio>

#include "bus_contract.h"
#include "link_channel.h"
#include "registry_layout.h"

using namespace pta;

int main()
{
    std::printf("Baud table (index: rate)\n");
    for (uint32_t i = 0; i < kBaudCount; ++i)
        std::printf("  %2u: %u\n", (unsigned)i, (unsigned)BaudTable[i]);
    std::printf("  any other rate: index %u\n\n", (unsigned)BaudIndexOf(14400));

    struct Code {
        const char* name;
        uint32_t value;
    };
    const Code codes[] = {
        {"IOCTL_LINK_PROBE", IOCTL_LINK_PROBE},
        {"IOCTL_LINK_SET_NOTIFY_EVENT", IOCTL_LINK_SET_NOTIFY_EVENT},
        {"IOCTL_LINK_SET_SPARE_EVENT", IOCTL_LINK_SET_SPARE_EVENT},
        {"IOCTL_LINK_START", IOCTL_LINK_START},
        {"IOCTL_LINK_GET_NOTIFICATIONS", IOCTL_LINK_GET_NOTIFICATIONS},
        {"IOCTL_LINK_REPORT", IOCTL_LINK_REPORT},
        {"IOCTL_LINK_FETCH_TX", IOCTL_LINK_FETCH_TX},
        {"IOCTL_LINK_PUT_RX", IOCTL_LINK_PUT_RX},
        {"IOCTL_LINK_REFRESH_NAMES", IOCTL_LINK_REFRESH_NAMES},
        {"IOCTL_LINK_FORCE_CLOSE", IOCTL_LINK_FORCE_CLOSE},
        {"IOCTL_BUS_ADD_PORTS", IOCTL_BUS_ADD_PORTS},
        {"IOCTL_BUS_REMOVE_PORTS", IOCTL_BUS_REMOVE_PORTS},
        {"IOCTL_BUS_ATTACH", IOCTL_BUS_ATTACH},
        {"IOCTL_BUS_DETACH", IOCTL_BUS_DETACH},
    };
    std::printf("Control codes\n");
    for (const Code& c : codes) std::printf("  %-30s 0x%08X\n", c.name, (unsigned)c.value);

    std::printf("\nSettings key: HKLM\\%s\n", ProductKey);
    return 0;
}
