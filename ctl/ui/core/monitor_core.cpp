#include "monitor_core.h"

#include <stdio.h>

#include "conversions.h"

namespace pta::ui {

namespace {
// The custom draw stages and results of the common controls.
constexpr uint32_t kPrepaint = 0x1, kItem = 0x10000, kSubItem = 0x20000;
constexpr uint32_t kDoDefault = 0x0, kNotifyItemDraw = 0x20, kNotifySubItemDraw = 0x20;
}  // namespace

std::array<int, kMonitorColumns> MonitorColumnWidths(int w)
{
    const int u = (w - 20) / 17;
    std::array<int, kMonitorColumns> widths{};
    widths[0] = 2 * u;
    widths[1] = w - 14 * u;
    widths[2] = 2 * u;
    for (int i = kFirstIndicatorColumn; i < kMonitorColumns; ++i) widths[i] = u;
    return widths;
}

std::string AddressWithPort(uint32_t ipAddress, uint32_t tcpPort)
{
    char port[16];
    snprintf(port, sizeof port, " (%u)", tcpPort);
    return IpToText(ipAddress) + port;
}

void IndicatorCache::Invalidate(int rows)
{
    for (int r = 0; r < rows && r < kMonitorRows; ++r)
        for (uint32_t& cell : cells_[r]) cell = kUndrawn;
}

CustomDrawAnswer CustomDrawFor(uint32_t stage)
{
    if (stage == kPrepaint) return {kNotifyItemDraw, false};
    if (stage == (kItem | kPrepaint)) return {kNotifySubItemDraw, true};
    if (stage == (kItem | kSubItem | kPrepaint)) return {kDoDefault, true};
    return {kDoDefault, false};
}

}  // namespace pta::ui
