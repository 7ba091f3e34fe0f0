#include "telnet_codec.h"

namespace pta {
namespace protocol {

size_t TelnetEncodeData(const uint8_t* data, size_t length, uint8_t* out)
{
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        out[n++] = data[i];
        if (data[i] == TELNET_IAC) out[n++] = TELNET_IAC;
    }
    return n;
}

size_t TelnetPlainSent(const uint8_t* data, size_t length, size_t wireSent)
{
    size_t wire = 0;
    size_t plain = 0;
    while (plain < length) {
        const size_t width = data[plain] == TELNET_IAC ? 2 : 1;
        if (wire + width > wireSent) break;
        wire += width;
        ++plain;
    }
    return plain;
}

void TelnetParser::Reset()
{
    state_ = State::Data;
    sbLength_ = 0;
    sbTruncated_ = false;
}

void TelnetParser::AfterIac(uint8_t byte, TelnetEvents& events)
{
    switch (byte) {
    case TELNET_IAC:  // a doubled 0xFF is one data byte; the caller delivers it
        state_ = State::Data;
        break;
    case TELNET_WILL:
    case TELNET_WONT:
    case TELNET_DO:
    case TELNET_DONT:
        verb_ = byte;
        state_ = State::Verb;
        break;
    case TELNET_SB:
        state_ = State::SbOption;
        break;
    case TELNET_SE:  // an end without a start: nothing to end
        state_ = State::Data;
        break;
    default:
        events.OnCommand(byte);
        state_ = State::Data;
        break;
    }
}

void TelnetParser::Receive(const uint8_t* block, size_t length, TelnetEvents& events)
{
    size_t run = 0;  // start of the data run being gathered
    for (size_t i = 0; i < length; ++i) {
        const uint8_t byte = block[i];
        switch (state_) {
        case State::Data:
            if (byte == TELNET_IAC) {
                if (i > run) events.OnData(block + run, i - run);
                state_ = State::Iac;
            }
            break;
        case State::Iac:
            AfterIac(byte, events);
            // The second 0xFF of a pair starts the next run; anything else ends a command.
            run = byte == TELNET_IAC ? i : i + 1;
            break;
        case State::Verb:
            events.OnNegotiation(verb_, byte);
            state_ = State::Data;
            run = i + 1;
            break;
        case State::SbOption:
            sbOption_ = byte;
            sbLength_ = 0;
            sbTruncated_ = false;
            state_ = State::SbData;
            break;
        case State::SbData:
            if (byte == TELNET_IAC) {
                state_ = State::SbIac;
            } else if (sbLength_ < kMaxSubnegotiation) {
                sb_[sbLength_++] = byte;
            } else {
                sbTruncated_ = true;
            }
            break;
        case State::SbIac:
            if (byte == TELNET_IAC) {
                if (sbLength_ < kMaxSubnegotiation) {
                    sb_[sbLength_++] = byte;
                } else {
                    sbTruncated_ = true;
                }
                state_ = State::SbData;
            } else if (byte == TELNET_SE) {
                events.OnSubnegotiation(sbOption_, sb_, sbLength_, sbTruncated_);
                state_ = State::Data;
                run = i + 1;
            } else {
                // IAC and a command inside a subnegotiation: the peer lost its IAC SE. The
                // subnegotiation is dropped and the command taken as it stands.
                AfterIac(byte, events);
                run = byte == TELNET_IAC ? i : i + 1;
            }
            break;
        }
    }
    if (state_ == State::Data && length > run) events.OnData(block + run, length - run);
}

}  // namespace protocol
}  // namespace pta
