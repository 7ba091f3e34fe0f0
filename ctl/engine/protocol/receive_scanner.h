// Receive processing of one end of the link: received blocks are decoded with the peer's
// key once it is active, in-band messages are taken out, and the rest is handed on as
// data, everything in stream order.
//
// A message can be cut at a block edge (TCP keeps no block boundaries): the cut-off start
// of a possible message, at most 19 bytes, is held back and completed by the next block.
// When the stream goes idle, Flush() decides the held bytes: whatever is not a complete
// message is data. Every byte received leaves either as data or inside a message.
#pragma once

#include "inband_message.h"
#include "link_key.h"

namespace pta {
namespace protocol {

struct ReceivedMessage {
    uint8_t command;
    const uint8_t* payload;
    size_t payloadLength;
    // MSG_KEY only: the key was taken (the connection was awaiting it).
    bool keyAccepted;
};

class ReceiveSink {
public:
    // Data between messages, in order; never empty.
    virtual void Deliver(const uint8_t* data, size_t length) = 0;
    // A complete message that this end recognises, already taken out of the data.
    virtual void OnMessage(const ReceivedMessage& message) = 0;

protected:
    ~ReceiveSink() = default;
};

class ReceiveScanner {
public:
    // Largest piece scanned in one pass; longer blocks are scanned piece by piece.
    static constexpr size_t kPieceLength = 4096;
    static constexpr size_t kMaxHeld = kInbandMaxLength - 1;

    // `reader` says which messages are recognised; `keys` decides decoding and takes
    // the peer's MSG_KEY.
    ReceiveScanner(LinkSide reader, LinkKeys& keys) : reader_(reader), keys_(keys) {}

    // One block as received from the socket.
    void Receive(const uint8_t* block, size_t length, ReceiveSink& sink);
    // The stream went idle (nothing more to read): held bytes are decided now.
    void Flush(ReceiveSink& sink);
    // Bytes held back as the start of a possible message.
    size_t Held() const { return held_; }
    // A new connection: held bytes belong to the old one and are dropped.
    void Reset() { held_ = 0; }

private:
    enum class Match { NotMessage, Undecided, Complete };
    Match MatchAt(size_t at, size_t end, bool final, size_t* length) const;
    void Scan(size_t end, bool final, ReceiveSink& sink);

    LinkSide reader_;
    LinkKeys& keys_;
    size_t held_ = 0;
    uint8_t work_[kMaxHeld + kPieceLength];
};

// Indicator values of the status monitor.
constexpr uint8_t kIndicatorOff = 1;
constexpr uint8_t kIndicatorOn = 2;

struct ModemStatusIndicators {
    uint8_t cts, dsr, dcd;
};
struct ModemControlIndicators {
    uint8_t dtr, rts;
};

// CTS, DSR, DCD of a modem status byte (16550 modem status register).
ModemStatusIndicators IndicatorsOfModemStatus(uint8_t status);
// DTR, RTS of a modem control byte (bit 0 DTR, bit 1 RTS).
ModemControlIndicators IndicatorsOfModemControl(uint8_t control);

}  // namespace protocol
}  // namespace pta
