// In-band control messages of the device server link: 0x7F 0xFE, a command letter, the
// payload (16 bytes for MSG_KEY, 1 byte for all others) and 0xF7, mixed into the data.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace pta {
namespace protocol {

constexpr uint8_t kInbandLead = 0x7F;
constexpr uint8_t kInbandMark = 0xFE;
constexpr uint8_t kInbandEnd = 0xF7;

constexpr size_t kKeyLength = 16;
constexpr size_t kInbandShortLength = 5;   // lead, mark, command, 1 payload byte, end
constexpr size_t kInbandMaxLength = 20;    // MSG_KEY: lead, mark, 'E', 16 key bytes, end

enum InbandCommand : uint8_t {
    MSG_ALIVE = 'A',
    MSG_KEY = 'E',
    MSG_LINE_CONTROL = 'L',
    MSG_MODEM_CONTROL = 'M',
    MSG_BAUD = 'S',
    MSG_MODEM_STATUS = 'm',
    MSG_SKIP = 'p',
};

// Which end of the link is reading: each recognises what the other end sends.
enum class LinkSide : uint8_t {
    Engine,        // reads the device server's messages: A, E, m, p
    DeviceServer,  // reads the engine's messages: A, E, S, L, M
};

struct InbandMessageInfo {
    uint8_t command;
    uint8_t payloadLength;
    bool fromEngine;   // the engine sends it
    bool fromServer;   // the device server sends it
    const char* name;
};

// Every message of the link, one row each.
extern const InbandMessageInfo kInbandMessages[];
extern const size_t kInbandMessageCount;

// The row of a command letter, or nullptr for a letter that is no message.
const InbandMessageInfo* FindInbandMessage(uint8_t command);

// The row of a command letter if `reader` recognises it, else nullptr.
const InbandMessageInfo* RecognisedBy(LinkSide reader, uint8_t command);

// Whole length of a message with this command (20 for MSG_KEY, 5 for the others).
constexpr size_t InbandLength(uint8_t command)
{
    return command == MSG_KEY ? kInbandMaxLength : kInbandShortLength;
}

// One encoded message, ready to send.
struct InbandMessage {
    uint8_t bytes[kInbandMaxLength];
    uint8_t length;

    // Any command with its payload (payloadLength must match the command's length).
    static InbandMessage Make(uint8_t command, const uint8_t* payload, size_t payloadLength);
    static InbandMessage Byte(uint8_t command, uint8_t value);

    static InbandMessage Alive() { return Byte(MSG_ALIVE, 0x00); }
    static InbandMessage Baud(uint8_t index) { return Byte(MSG_BAUD, index); }
    static InbandMessage LineControl(uint8_t value) { return Byte(MSG_LINE_CONTROL, value); }
    static InbandMessage ModemControl(uint8_t value) { return Byte(MSG_MODEM_CONTROL, value); }
    static InbandMessage ModemStatus(uint8_t value) { return Byte(MSG_MODEM_STATUS, value); }
    static InbandMessage Skip(uint8_t value) { return Byte(MSG_SKIP, value); }
    static InbandMessage Key(const uint8_t key[kKeyLength]) { return Make(MSG_KEY, key, kKeyLength); }

    uint8_t Command() const { return bytes[2]; }
    const uint8_t* Payload() const { return bytes + 3; }
};

}  // namespace protocol
}  // namespace pta
