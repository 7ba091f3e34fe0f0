// Telnet option negotiation for one connection, both sides of every option, kept as the
// four-state "Q method": a request crossing the peer's own offer, a late answer or an
// answer in another order settles without loops, and an option this end does not support
// is refused.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "telnet_codec.h"

namespace pta {
namespace protocol {

// Bytes waiting to be sent, bounded: what does not fit is dropped (a peer that floods
// negotiations gets fewer answers, never more memory).
struct WireBytes {
    static constexpr size_t kCapacity = 1024;
    uint8_t bytes[kCapacity];
    size_t length = 0;

    bool Append(const uint8_t* data, size_t n);
    bool Append3(uint8_t a, uint8_t b, uint8_t c)
    {
        const uint8_t three[3] = {a, b, c};
        return Append(three, 3);
    }
    void Clear() { length = 0; }
};

// Which options this end enables on its side (WILL) and asks of the peer (DO).
struct TelnetOptionPolicy {
    uint8_t option;
    bool local;   // we do it: accept DO, and offer WILL at the start when `offer`
    bool remote;  // the peer may do it: accept WILL, and ask DO at the start when `offer`
    bool offer;
};

class TelnetNegotiator {
public:
    enum class Side : uint8_t { No, Yes, WantNo, WantYes };

    // `policy` lives as long as the negotiator.
    TelnetNegotiator(const TelnetOptionPolicy* policy, size_t count) : policy_(policy), count_(count) { Reset(); }

    void Reset();
    // The offers of the policy (WILL and DO), queued into `out`.
    void Start(WireBytes& out);
    // A WILL, WONT, DO or DONT from the peer; the answer, if any, goes into `out`.
    void OnNegotiation(uint8_t verb, uint8_t option, WireBytes& out);

    Side Local(uint8_t option) const { return us_[option]; }
    Side Remote(uint8_t option) const { return him_[option]; }
    // The peer refused an option we offered on our side (DONT to our WILL).
    bool LocalRefused(uint8_t option) const { return refused_[option]; }

private:
    const TelnetOptionPolicy* Find(uint8_t option) const;

    const TelnetOptionPolicy* policy_;
    size_t count_;
    Side us_[256];
    Side him_[256];
    bool refused_[256];
};

}  // namespace protocol
}  // namespace pta
