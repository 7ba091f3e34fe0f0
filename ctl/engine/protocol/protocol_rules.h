// What each protocol ("COM", "Encryption", "Raw") sends, and the settings messages.
#pragma once

#include "inband_message.h"

namespace pta {
namespace protocol {

struct ProtocolRules {
    uint32_t code;          // the protocol it behaves as (registry_layout.h ProtocolCode)
    bool settingsMessages;  // MSG_BAUD, MSG_LINE_CONTROL, MSG_MODEM_CONTROL are sent
    bool keyExchange;       // MSG_KEY at connect, XOR afterwards
    bool anyBaudIndex;      // false: only 9600 (index 6) is taken, other changes ignored
};

// The rules of a stored protocol code; unknown codes behave as "COM".
const ProtocolRules& RulesOf(uint32_t protocolCode);

// What a baud index change does under a protocol.
struct BaudChange {
    bool accepted;        // store the index and set the send buffer
    bool announce;        // send MSG_BAUD
    uint32_t sendBuffer;  // SO_SNDBUF for the index
};
BaudChange DecideBaudChange(uint32_t protocolCode, uint32_t baudIndex);

// The messages that announce the current settings after a connect, in sending order:
// baud index, line control, modem control; none under "Raw". Returns the count (0..3).
size_t CurrentSettingsMessages(uint32_t protocolCode, uint8_t baudIndex, uint8_t lineControl,
                               uint8_t modemControl, InbandMessage out[3]);

}  // namespace protocol
}  // namespace pta
