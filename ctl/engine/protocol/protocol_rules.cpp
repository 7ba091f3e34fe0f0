#include "protocol_rules.h"

#include "link_channel.h"
#include "net_tx_ring.h"
#include "registry_layout.h"

namespace pta {
namespace protocol {

namespace {
const ProtocolRules kRules[] = {
    // code                settings  key    any baud
    {ProtocolCom,          true,     false, true},
    {ProtocolEncryption,   true,     true,  true},
    {ProtocolRaw,          false,    false, false},
};
}  // namespace

const ProtocolRules& RulesOf(uint32_t protocolCode)
{
    return kRules[EffectiveProtocol(protocolCode)];
}

BaudChange DecideBaudChange(uint32_t protocolCode, uint32_t baudIndex)
{
    const ProtocolRules& rules = RulesOf(protocolCode);
    const bool accepted = rules.anyBaudIndex || baudIndex == kDefaultBaudIndex;
    return {accepted, accepted && rules.settingsMessages, SendBufferSize(baudIndex)};
}

size_t CurrentSettingsMessages(uint32_t protocolCode, uint8_t baudIndex, uint8_t lineControl,
                               uint8_t modemControl, InbandMessage out[3])
{
    if (!RulesOf(protocolCode).settingsMessages) return 0;
    out[0] = InbandMessage::Baud(baudIndex);
    out[1] = InbandMessage::LineControl(lineControl);
    out[2] = InbandMessage::ModemControl(modemControl);
    return 3;
}

}  // namespace protocol
}  // namespace pta
