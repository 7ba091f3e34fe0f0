// One end of a Telnet connection with the COM port control option: the engine as client,
// the device server as server. Received blocks go through the Telnet parser; data, and
// what the option carries, reach a ReceiveSink as the in-band protocol would give them:
// the client sees the server's NOTIFY-MODEMSTATE as MSG_MODEM_STATUS, the server sees
// the client's settings as MSG_BAUD (the baud index of the rate), MSG_LINE_CONTROL and
// MSG_MODEM_CONTROL. Negotiation answers and the server's replies collect as output that
// the owner sends as it is.
#pragma once

#include "com_port_option.h"
#include "receive_scanner.h"
#include "telnet_codec.h"
#include "telnet_options.h"

namespace pta {
namespace protocol {

enum class ComPortRole : uint8_t { Client, Server };

enum class ComPortNegotiation : uint8_t {
    Pending,  // the option is not agreed yet
    Ready,    // the peer agreed to the COM port option
    Refused,  // the peer refused it (client: the server answered DONT)
};

class ComPortLink : private TelnetEvents {
public:
    // `acceptComPort` false makes a server that refuses the option (a scripted fault).
    explicit ComPortLink(ComPortRole role, bool acceptComPort = true);
    ComPortLink(const ComPortLink&) = delete;
    ComPortLink& operator=(const ComPortLink&) = delete;

    // A new connection: everything back to the start, and the opening offers queued.
    void Start();
    void Receive(const uint8_t* block, size_t length, ReceiveSink& sink);

    // Output waiting to be sent (offers, answers, replies); taken in order.
    size_t OutputLength() const { return output_.length; }
    size_t TakeOutput(uint8_t* out, size_t capacity);

    ComPortNegotiation Negotiation() const;
    // Why the negotiation failed, for the user or a log; empty while it did not.
    const char* FailureText() const;
    const TelnetNegotiator& Options() const { return negotiator_; }

    // Server: the settings the client has set, and its modem state mask.
    uint32_t BaudRate() const { return baudRate_; }
    uint8_t LineControl() const { return lineControl_; }
    uint8_t ModemControl() const { return modemControl_; }
    uint8_t ModemStateMask() const { return modemStateMask_; }
    // Server: NOTIFY-MODEMSTATE with the status, as the client's mask lets it through.
    TelnetMessage ModemState(uint8_t status) const;

private:
    void OnData(const uint8_t* data, size_t length) override;
    void OnNegotiation(uint8_t verb, uint8_t option) override;
    void OnSubnegotiation(uint8_t option, const uint8_t* data, size_t length, bool truncated) override;

    void ClientCommand(uint8_t code, const uint8_t* value, size_t length);
    void ServerCommand(uint8_t code, const uint8_t* value, size_t length);
    void Reply(const TelnetMessage& m);
    void Message(uint8_t command, uint8_t value);

    const ComPortRole role_;
    TelnetParser parser_;
    TelnetNegotiator negotiator_;
    ReceiveSink* sink_ = nullptr;
    WireBytes output_;

    uint32_t baudRate_ = 9600;
    uint8_t lineControl_ = 3;
    uint8_t modemControl_ = 3;
    uint8_t modemStateMask_ = 0xFF;
};

}  // namespace protocol
}  // namespace pta
