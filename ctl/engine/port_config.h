// The in-memory view of the configured ports that the port list and the monitor show, and
// the rules for the values behind it: COM numbers from port names, comment lengths and the
// keep-alive pairs.
#pragma once

#include <stdint.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace pta {

// The display record of one configured port.
struct PortSettings {
    uint32_t PortNumber = 0;  // slot 0..255
    uint32_t ComNumber = 0;   // n of COMn; after an applied change, the new one
    uint32_t IpAddress = 0;   // first octet in the most significant byte
    uint32_t TcpPort = 0;
    uint32_t Protocol = 0;      // the Encryption value as stored
    uint32_t AliveRxShort = 0;  // 1 when AliveRxTimer is the short 7000
    uint32_t AliveTxShort = 0;  // always equal to AliveRxShort
    std::string Comment1;
    std::string Comment2;
    uint32_t Valid = 0;  // 1 for every record in a PortConfigMap
};

// The configured ports by COM number, ascending.
using PortConfigMap = std::map<uint32_t, PortSettings>;

// Adds a record under its ComNumber, marked valid. A COM number already present keeps its
// first record (the lower slot, since slots are added in ascending order): returns false.
bool InsertPortSettings(PortConfigMap& map, PortSettings settings);

// The COM number of a port name such as "COM12": every "COM" is removed and the rest must
// be a decimal number 1..1024. Anything else has no number, so a damaged name can never
// be taken for a change to some other COM number.
std::optional<uint32_t> ComNumberFromPortName(std::string_view portName);

// A comment as it is stored: at most 63 bytes. When isLeadByte is given (the ANSI code
// page's lead bytes), a double-byte character that would be split by the cut is dropped
// whole.
std::string CutComment(std::string_view text, bool (*isLeadByte)(unsigned char) = nullptr);

// The AliveTxTimer that goes with an AliveRxTimer: the long pair's 10000 for 25000, the
// short pair's 2500 otherwise.
uint32_t AliveTxFor(uint32_t aliveRxMs);

// Whether an AliveRxTimer is the short pair's.
inline uint32_t IsShortAlive(uint32_t aliveRxMs) { return aliveRxMs == 7000 ? 1 : 0; }

}  // namespace pta
