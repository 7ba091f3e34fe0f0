// The port list page's rules: its column widths, what the editing strip's COM field names,
// the keep-alive choice, the multiport walk and the strip's layout steps.
#pragma once

#include <stdint.h>

#include <array>
#include <string>
#include <vector>

#include "port_config.h"
#include "registry_layout.h"

namespace pta::ui {

constexpr int kPortListColumns = 7;
// The widths of the seven columns for a list client width.
std::array<int, kPortListColumns> PortListColumnWidths(int clientWidth);

// The protocol code kept with a row: 0..2 as stored, 3 for any other value.
inline uint32_t RowProtocolCode(uint32_t stored) { return stored < kProtocolCount ? stored : kProtocolCount; }

// The slot the editing strip's COM field names ("COM5"), or -1 when it names no configured
// port.
int32_t StripPortNumber(const PortConfigMap& ports, const std::string& comField);

// The keep-alive pair of an index of the Rx list (0: the long pair, any other: the short),
// and the index that shows a stored AliveRxTimer (only 7000 is the short pair's).
inline KeepAlivePair KeepAliveOfIndex(int32_t index) { return index == 0 ? kKeepAliveLong : kKeepAliveShort; }
inline int32_t RxIndexOf(uint32_t aliveRxMs) { return aliveRxMs == kKeepAliveShort.RxMs ? 1 : 0; }

// TCP ports a user can enter: 1..65535.
inline bool ValidTcpPort(uint32_t port) { return port >= 1 && port <= 65535; }

// One port of the multiport walk: its slot, COM number and the TCP port it gets.
struct MultiportTarget {
    uint32_t PortNumber;
    uint32_t ComNumber;
    uint32_t TcpPort;
};

// The configured ports from startCom up to COM1024, at most `count` of them, with
// consecutive TCP ports from firstTcpPort. The walk also ends where the next TCP port
// would pass 65535.
std::vector<MultiportTarget> MultiportWalk(const PortConfigMap& ports, int64_t startCom, int32_t count,
                                           uint32_t firstTcpPort);

// The width of a field or button column of the editing strip: its initial width scaled by
// the step the page width has taken from the base width.
int StripFieldWidth(int initialWidth, int pageWidth, int baseWidth);

// A column may not be dragged narrower than this.
constexpr int kMinColumnWidth = 5;

}  // namespace pta::ui
