#include "port_list_core.h"

namespace pta::ui {

std::array<int, kPortListColumns> PortListColumnWidths(int w)
{
    return {w / 8, w / 5, w / 9, w / 8, w / 9, w / 6, w / 6};
}

int32_t StripPortNumber(const PortConfigMap& ports, const std::string& comField)
{
    const auto com = ComNumberFromPortName(comField);
    if (!com) return -1;
    const auto it = ports.find(*com);
    return it == ports.end() ? -1 : static_cast<int32_t>(it->second.PortNumber);
}

std::vector<MultiportTarget> MultiportWalk(const PortConfigMap& ports, int64_t startCom, int32_t count,
                                           uint32_t firstTcpPort)
{
    std::vector<MultiportTarget> targets;
    if (count <= 0 || startCom > kMaxComNumber) return targets;
    uint32_t tcpPort = firstTcpPort;
    for (auto it = ports.lower_bound(static_cast<uint32_t>(startCom < 1 ? 1 : startCom));
         it != ports.end() && it->first <= kMaxComNumber; ++it) {
        if (tcpPort > 65535) break;
        targets.push_back({it->second.PortNumber, it->first, tcpPort});
        ++tcpPort;
        if (static_cast<int32_t>(targets.size()) >= count) break;
    }
    return targets;
}

int StripFieldWidth(int initialWidth, int pageWidth, int baseWidth)
{
    const int unit = (initialWidth + 4) / 4;
    const int quarter = baseWidth / 4;
    const int step = quarter > 0 ? (pageWidth - 60) / quarter : 0;
    if (step <= 2) return unit;
    if (step <= 6) return step * unit;
    return 7 * unit;
}

}  // namespace pta::ui
