#include "com_port_link.h"

#include <string.h>

#include "link_channel.h"

namespace pta {
namespace protocol {

namespace {

// Client: we do the COM port option, and binary transmission and no go-aheads both ways.
const TelnetOptionPolicy kClientPolicy[] = {
    // option           local  remote offer
    {OPTION_COM_PORT,   true,  false, true},
    {OPTION_BINARY,     true,  true,  true},
    {OPTION_SGA,        true,  true,  true},
};
// Server: the same from the other side; it asks the client for the COM port option.
const TelnetOptionPolicy kServerPolicy[] = {
    {OPTION_COM_PORT,   false, true,  true},
    {OPTION_BINARY,     true,  true,  true},
    {OPTION_SGA,        true,  true,  true},
};
// A server that does not know the option: it refuses the client's WILL.
const TelnetOptionPolicy kServerPolicyWithoutComPort[] = {
    {OPTION_BINARY,     true,  true,  true},
    {OPTION_SGA,        true,  true,  true},
};

template <size_t N>
constexpr size_t CountOf(const TelnetOptionPolicy (&)[N]) { return N; }

uint32_t BigEndian32(const uint8_t* v)
{
    return (static_cast<uint32_t>(v[0]) << 24) | (static_cast<uint32_t>(v[1]) << 16) |
           (static_cast<uint32_t>(v[2]) << 8) | v[3];
}

}  // namespace

ComPortLink::ComPortLink(ComPortRole role, bool acceptComPort)
    : role_(role),
      negotiator_(role == ComPortRole::Client ? kClientPolicy
                  : acceptComPort             ? kServerPolicy
                                              : kServerPolicyWithoutComPort,
                  role == ComPortRole::Client ? CountOf(kClientPolicy)
                  : acceptComPort             ? CountOf(kServerPolicy)
                                              : CountOf(kServerPolicyWithoutComPort))
{
}

void ComPortLink::Start()
{
    parser_.Reset();
    negotiator_.Reset();
    output_.Clear();
    baudRate_ = 9600;
    lineControl_ = 3;
    modemControl_ = 3;
    modemStateMask_ = 0xFF;
    negotiator_.Start(output_);
}

size_t ComPortLink::TakeOutput(uint8_t* out, size_t capacity)
{
    const size_t n = output_.length < capacity ? output_.length : capacity;
    memcpy(out, output_.bytes, n);
    memmove(output_.bytes, output_.bytes + n, output_.length - n);
    output_.length -= n;
    return n;
}

ComPortNegotiation ComPortLink::Negotiation() const
{
    if (role_ == ComPortRole::Client) {
        if (negotiator_.LocalRefused(OPTION_COM_PORT)) return ComPortNegotiation::Refused;
        return negotiator_.Local(OPTION_COM_PORT) == TelnetNegotiator::Side::Yes ? ComPortNegotiation::Ready
                                                                                 : ComPortNegotiation::Pending;
    }
    return negotiator_.Remote(OPTION_COM_PORT) == TelnetNegotiator::Side::Yes ? ComPortNegotiation::Ready
                                                                              : ComPortNegotiation::Pending;
}

const char* ComPortLink::FailureText() const
{
    return Negotiation() == ComPortNegotiation::Refused ? "the device server refuses the COM port control option"
                                                        : "";
}

void ComPortLink::Receive(const uint8_t* block, size_t length, ReceiveSink& sink)
{
    sink_ = &sink;
    parser_.Receive(block, length, *this);
    sink_ = nullptr;
}

void ComPortLink::OnData(const uint8_t* data, size_t length)
{
    sink_->Deliver(data, length);
}

void ComPortLink::OnNegotiation(uint8_t verb, uint8_t option)
{
    negotiator_.OnNegotiation(verb, option, output_);
}

void ComPortLink::OnSubnegotiation(uint8_t option, const uint8_t* data, size_t length, bool truncated)
{
    // Only the COM port option carries anything for us; a command cut short is no command.
    if (option != OPTION_COM_PORT || length == 0 || truncated) return;
    if (role_ == ComPortRole::Client) {
        ClientCommand(data[0], data + 1, length - 1);
    } else {
        ServerCommand(data[0], data + 1, length - 1);
    }
}

void ComPortLink::Message(uint8_t command, uint8_t value)
{
    const ReceivedMessage m = {command, &value, 1, false};
    sink_->OnMessage(m);
}

void ComPortLink::Reply(const TelnetMessage& m)
{
    output_.Append(m.bytes, m.length);
}

void ComPortLink::ClientCommand(uint8_t code, const uint8_t* value, size_t length)
{
    // The server's answers to our settings and to the keep-alive query need nothing more
    // than their arrival; modem state changes go on to the driver.
    if (code == kComPortServerOffset + CPO_NOTIFY_MODEMSTATE && length >= 1) Message(MSG_MODEM_STATUS, value[0]);
}

TelnetMessage ComPortLink::ModemState(uint8_t status) const
{
    TelnetMessage m;
    m.AddCommand(kComPortServerOffset + CPO_NOTIFY_MODEMSTATE, static_cast<uint8_t>(status & modemStateMask_));
    return m;
}

void ComPortLink::ServerCommand(uint8_t code, const uint8_t* value, size_t length)
{
    const uint8_t answer = static_cast<uint8_t>(code + kComPortServerOffset);
    TelnetMessage reply;
    const uint8_t v = length >= 1 ? value[0] : 0;
    ComPortLine line = ComPortLineOf(lineControl_);
    auto setLine = [&] {
        lineControl_ = LineControlOf(line, lineControl_);
        Message(MSG_LINE_CONTROL, lineControl_);
    };
    auto setModem = [&](uint8_t bit, bool on) {
        modemControl_ = static_cast<uint8_t>(on ? (modemControl_ | bit) : (modemControl_ & ~bit));
        Message(MSG_MODEM_CONTROL, modemControl_);
    };
    switch (code) {
    case CPO_SIGNATURE:
        if (length == 0) {
            static const char kSignature[] = "ptadevsrv";
            reply.AddCommand(answer, reinterpret_cast<const uint8_t*>(kSignature), sizeof kSignature - 1);
        }
        break;
    case CPO_SET_BAUDRATE:
        if (length < 4) return;
        if (BigEndian32(value) != 0) {
            baudRate_ = BigEndian32(value);
            Message(MSG_BAUD, static_cast<uint8_t>(BaudIndexOf(baudRate_)));
        }
        reply.AddCommand32(answer, baudRate_);
        break;
    case CPO_SET_DATASIZE:
        if (length < 1) return;
        if (v >= 5 && v <= 8) {
            line.dataSize = v;
            setLine();
        }
        reply.AddCommand(answer, ComPortLineOf(lineControl_).dataSize);
        break;
    case CPO_SET_PARITY:
        if (length < 1) return;
        if (v >= CPO_PARITY_NONE && v <= CPO_PARITY_SPACE) {
            line.parity = v;
            setLine();
        }
        reply.AddCommand(answer, ComPortLineOf(lineControl_).parity);
        break;
    case CPO_SET_STOPSIZE:
        if (length < 1) return;
        if (v >= CPO_STOP_1 && v <= CPO_STOP_15) {
            line.stopSize = v;
            setLine();
        }
        reply.AddCommand(answer, ComPortLineOf(lineControl_).stopSize);
        break;
    case CPO_SET_CONTROL:
        if (length < 1) return;
        switch (v) {
        case CPO_CONTROL_BREAK_ON:
        case CPO_CONTROL_BREAK_OFF:
            line.breakOn = v == CPO_CONTROL_BREAK_ON;
            setLine();
            break;
        case CPO_CONTROL_DTR_ON:
        case CPO_CONTROL_DTR_OFF:
            setModem(kModemControlDtr, v == CPO_CONTROL_DTR_ON);
            break;
        case CPO_CONTROL_RTS_ON:
        case CPO_CONTROL_RTS_OFF:
            setModem(kModemControlRts, v == CPO_CONTROL_RTS_ON);
            break;
        default:
            break;
        }
        // Queries (0, 4, 7, 10) are answered with the state they ask about.
        {
            uint8_t state = v;
            if (v == 0) state = 1;  // no flow control
            if (v == 4) state = ComPortLineOf(lineControl_).breakOn ? CPO_CONTROL_BREAK_ON : CPO_CONTROL_BREAK_OFF;
            if (v == 7) state = (modemControl_ & kModemControlDtr) ? CPO_CONTROL_DTR_ON : CPO_CONTROL_DTR_OFF;
            if (v == 10) state = (modemControl_ & kModemControlRts) ? CPO_CONTROL_RTS_ON : CPO_CONTROL_RTS_OFF;
            reply.AddCommand(answer, state);
        }
        break;
    case CPO_SET_MODEMSTATE_MASK:
        if (length < 1) return;
        modemStateMask_ = v;
        reply.AddCommand(answer, v);
        break;
    case CPO_SET_LINESTATE_MASK:
    case CPO_PURGE_DATA:
        if (length < 1) return;
        reply.AddCommand(answer, v);
        break;
    default:
        return;  // nothing the server needs to answer
    }
    Reply(reply);
}

}  // namespace protocol
}  // namespace pta
