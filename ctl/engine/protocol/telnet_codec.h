// The Telnet byte stream (as device servers with the COM port option speak it): IAC
// doubling of 0xFF in data, and a parser that takes commands, option negotiations and
// subnegotiations out of the received stream. The parser is a state machine, so a
// command or a subnegotiation may be split at any byte across received blocks.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace pta {
namespace protocol {

enum TelnetByte : uint8_t {
    TELNET_SE = 240,
    TELNET_NOP = 241,
    TELNET_DM = 242,
    TELNET_BRK = 243,
    TELNET_GA = 249,
    TELNET_SB = 250,
    TELNET_WILL = 251,
    TELNET_WONT = 252,
    TELNET_DO = 253,
    TELNET_DONT = 254,
    TELNET_IAC = 255,
};

enum TelnetOption : uint8_t {
    OPTION_BINARY = 0,
    OPTION_ECHO = 1,
    OPTION_SGA = 3,  // suppress go-ahead
    OPTION_COM_PORT = 44,
};

// Data bytes with every 0xFF doubled; `out` holds at least 2 * length bytes. Returns the
// encoded length.
size_t TelnetEncodeData(const uint8_t* data, size_t length, uint8_t* out);

// How many bytes of `data` had their whole encoding among the first `wireSent` bytes of
// TelnetEncodeData(data). A doubled 0xFF cut in half counts as not sent.
size_t TelnetPlainSent(const uint8_t* data, size_t length, size_t wireSent);

// What the parser finds, in stream order.
class TelnetEvents {
public:
    // A run of data bytes (0xFF already undoubled); never empty.
    virtual void OnData(const uint8_t* data, size_t length) = 0;
    // WILL, WONT, DO or DONT with its option.
    virtual void OnNegotiation(uint8_t verb, uint8_t option) = 0;
    // A complete subnegotiation, IAC doubling undone. `truncated`: it was longer than the
    // parser keeps, and only its start is given.
    virtual void OnSubnegotiation(uint8_t option, const uint8_t* data, size_t length, bool truncated) = 0;
    // Any other command (NOP, GA, BRK, unknown codes): nothing to do by default.
    virtual void OnCommand(uint8_t) {}

protected:
    ~TelnetEvents() = default;
};

class TelnetParser {
public:
    // Longest subnegotiation body kept; the rest up to IAC SE is counted and dropped.
    static constexpr size_t kMaxSubnegotiation = 64;

    void Receive(const uint8_t* block, size_t length, TelnetEvents& events);
    // A new connection.
    void Reset();
    // Inside a command or a subnegotiation (a block edge cut it).
    bool InCommand() const { return state_ != State::Data; }

private:
    enum class State : uint8_t { Data, Iac, Verb, SbOption, SbData, SbIac };

    void AfterIac(uint8_t byte, TelnetEvents& events);

    State state_ = State::Data;
    uint8_t verb_ = 0;
    uint8_t sbOption_ = 0;
    size_t sbLength_ = 0;
    bool sbTruncated_ = false;
    uint8_t sb_[kMaxSubnegotiation];
};

}  // namespace protocol
}  // namespace pta
