#include "inband_message.h"

#include <string.h>

namespace pta {
namespace protocol {

const InbandMessageInfo kInbandMessages[] = {
    // command           payload      engine  server  name
    {MSG_KEY,            kKeyLength,  true,   true,   "MSG_KEY"},
    {MSG_BAUD,           1,           true,   false,  "MSG_BAUD"},
    {MSG_LINE_CONTROL,   1,           true,   false,  "MSG_LINE_CONTROL"},
    {MSG_MODEM_CONTROL,  1,           true,   false,  "MSG_MODEM_CONTROL"},
    {MSG_ALIVE,          1,           true,   true,   "MSG_ALIVE"},
    {MSG_MODEM_STATUS,   1,           false,  true,   "MSG_MODEM_STATUS"},
    {MSG_SKIP,           1,           false,  true,   "MSG_SKIP"},
};
const size_t kInbandMessageCount = sizeof(kInbandMessages) / sizeof(kInbandMessages[0]);

const InbandMessageInfo* FindInbandMessage(uint8_t command)
{
    for (size_t i = 0; i < kInbandMessageCount; ++i) {
        if (kInbandMessages[i].command == command) return &kInbandMessages[i];
    }
    return nullptr;
}

const InbandMessageInfo* RecognisedBy(LinkSide reader, uint8_t command)
{
    const InbandMessageInfo* info = FindInbandMessage(command);
    if (info == nullptr) return nullptr;
    const bool sentToReader = reader == LinkSide::Engine ? info->fromServer : info->fromEngine;
    return sentToReader ? info : nullptr;
}

InbandMessage InbandMessage::Make(uint8_t command, const uint8_t* payload, size_t payloadLength)
{
    InbandMessage m;
    memset(m.bytes, 0, sizeof(m.bytes));
    const size_t want = InbandLength(command) - 4;
    m.bytes[0] = kInbandLead;
    m.bytes[1] = kInbandMark;
    m.bytes[2] = command;
    memcpy(m.bytes + 3, payload, payloadLength < want ? payloadLength : want);
    m.bytes[3 + want] = kInbandEnd;
    m.length = static_cast<uint8_t>(want + 4);
    return m;
}

InbandMessage InbandMessage::Byte(uint8_t command, uint8_t value)
{
    return Make(command, &value, 1);
}

}  // namespace protocol
}  // namespace pta
