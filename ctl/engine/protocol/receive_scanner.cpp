#include "receive_scanner.h"

#include <string.h>

#include "link_channel.h"

namespace pta {
namespace protocol {

void ReceiveScanner::Receive(const uint8_t* block, size_t length, ReceiveSink& sink)
{
    while (length > 0) {
        const size_t take = length < kPieceLength ? length : kPieceLength;
        memcpy(work_ + held_, block, take);
        // Held bytes were decoded when they came in; only the new ones are decoded here.
        keys_.DecodeRx(work_ + held_, take);
        const size_t end = held_ + take;
        held_ = 0;
        Scan(end, false, sink);
        block += take;
        length -= take;
    }
}

void ReceiveScanner::Flush(ReceiveSink& sink)
{
    const size_t end = held_;
    held_ = 0;
    if (end > 0) Scan(end, true, sink);
}

// Whether a message starts at `at`. Without `final`, a start that runs past `end` but
// fits a message so far is undecided; with it, that start is data.
ReceiveScanner::Match ReceiveScanner::MatchAt(size_t at, size_t end, bool final,
                                              size_t* length) const
{
    const size_t avail = end - at;
    const Match cutOff = final ? Match::NotMessage : Match::Undecided;
    if (avail < 2) return cutOff;
    if (work_[at + 1] != kInbandMark) return Match::NotMessage;
    if (avail < 3) return cutOff;
    const uint8_t command = work_[at + 2];
    if (RecognisedBy(reader_, command) == nullptr) return Match::NotMessage;
    const size_t whole = InbandLength(command);
    if (avail < whole) return cutOff;
    if (work_[at + whole - 1] != kInbandEnd) return Match::NotMessage;
    *length = whole;
    return Match::Complete;
}

void ReceiveScanner::Scan(size_t end, bool final, ReceiveSink& sink)
{
    size_t dataStart = 0;
    size_t at = 0;
    while (at < end) {
        if (work_[at] != kInbandLead) {
            ++at;
            continue;
        }
        size_t length = 0;
        const Match match = MatchAt(at, end, final, &length);
        if (match == Match::NotMessage) {
            ++at;
            continue;
        }
        if (at > dataStart) sink.Deliver(work_ + dataStart, at - dataStart);
        if (match == Match::Undecided) {
            held_ = end - at;
            memmove(work_, work_ + at, held_);
            return;
        }
        ReceivedMessage message = {work_[at + 2], work_ + at + 3, length - 4, false};
        if (message.command == MSG_KEY) message.keyAccepted = keys_.AcceptPeerKey(message.payload);
        at += length;
        dataStart = at;
        // The peer XORs everything after its key: decode the rest of this piece now.
        if (message.keyAccepted) keys_.DecodeRx(work_ + at, end - at);
        sink.OnMessage(message);
    }
    if (end > dataStart) sink.Deliver(work_ + dataStart, end - dataStart);
}

ModemStatusIndicators IndicatorsOfModemStatus(uint8_t status)
{
    auto led = [status](uint8_t bit) { return (status & bit) ? kIndicatorOn : kIndicatorOff; };
    return {led(kModemStatusCts), led(kModemStatusDsr), led(kModemStatusDcd)};
}

ModemControlIndicators IndicatorsOfModemControl(uint8_t control)
{
    auto led = [control](uint8_t bit) { return (control & bit) ? kIndicatorOn : kIndicatorOff; };
    return {led(kModemControlDtr), led(kModemControlRts)};
}

}  // namespace protocol
}  // namespace pta
