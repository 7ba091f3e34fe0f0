#include "telnet_options.h"

#include <string.h>

namespace pta {
namespace protocol {

bool WireBytes::Append(const uint8_t* data, size_t n)
{
    if (n > kCapacity - length) return false;
    memcpy(bytes + length, data, n);
    length += n;
    return true;
}

void TelnetNegotiator::Reset()
{
    for (size_t i = 0; i < 256; ++i) {
        us_[i] = Side::No;
        him_[i] = Side::No;
        refused_[i] = false;
    }
}

const TelnetOptionPolicy* TelnetNegotiator::Find(uint8_t option) const
{
    for (size_t i = 0; i < count_; ++i) {
        if (policy_[i].option == option) return &policy_[i];
    }
    return nullptr;
}

void TelnetNegotiator::Start(WireBytes& out)
{
    for (size_t i = 0; i < count_; ++i) {
        const TelnetOptionPolicy& p = policy_[i];
        if (!p.offer) continue;
        if (p.local && us_[p.option] == Side::No) {
            us_[p.option] = Side::WantYes;
            out.Append3(TELNET_IAC, TELNET_WILL, p.option);
        }
        if (p.remote && him_[p.option] == Side::No) {
            him_[p.option] = Side::WantYes;
            out.Append3(TELNET_IAC, TELNET_DO, p.option);
        }
    }
}

void TelnetNegotiator::OnNegotiation(uint8_t verb, uint8_t option, WireBytes& out)
{
    const TelnetOptionPolicy* p = Find(option);
    switch (verb) {
    case TELNET_DO:
        switch (us_[option]) {
        case Side::No:
            if (p && p->local) {
                us_[option] = Side::Yes;
                out.Append3(TELNET_IAC, TELNET_WILL, option);
            } else {
                out.Append3(TELNET_IAC, TELNET_WONT, option);
            }
            break;
        case Side::WantYes:
            us_[option] = Side::Yes;
            break;
        case Side::WantNo:  // the peer answers our WONT wrongly; it stays off
            us_[option] = Side::No;
            break;
        case Side::Yes:
            break;
        }
        break;
    case TELNET_DONT:
        if (us_[option] == Side::WantYes) refused_[option] = true;
        if (us_[option] == Side::Yes) out.Append3(TELNET_IAC, TELNET_WONT, option);
        us_[option] = Side::No;
        break;
    case TELNET_WILL:
        switch (him_[option]) {
        case Side::No:
            if (p && p->remote) {
                him_[option] = Side::Yes;
                out.Append3(TELNET_IAC, TELNET_DO, option);
            } else {
                out.Append3(TELNET_IAC, TELNET_DONT, option);
            }
            break;
        case Side::WantYes:
            him_[option] = Side::Yes;
            break;
        case Side::WantNo:
            him_[option] = Side::No;
            break;
        case Side::Yes:
            break;
        }
        break;
    case TELNET_WONT:
        if (him_[option] == Side::Yes) out.Append3(TELNET_IAC, TELNET_DONT, option);
        him_[option] = Side::No;
        break;
    default:
        break;
    }
}

}  // namespace protocol
}  // namespace pta
