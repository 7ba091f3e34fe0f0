#include "link_key.h"

namespace pta {
namespace protocol {

uint8_t DeriveKeyByte(const uint8_t key[kKeyLength])
{
    uint8_t x = 0;
    for (size_t i = 0; i < kKeyLength; ++i) x = static_cast<uint8_t>(x ^ key[i]);
    return static_cast<uint8_t>((x << 4) | (x >> 4));
}

void XorBytes(uint8_t* data, size_t length, uint8_t keyByte)
{
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(data[i] ^ keyByte);
}

uint64_t KeyGenerator::Next()
{
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void KeyGenerator::Fill(uint8_t key[kKeyLength])
{
    for (size_t i = 0; i < kKeyLength; i += 8) {
        uint64_t v = Next();
        for (size_t j = 0; j < 8; ++j, v >>= 8) key[i + j] = static_cast<uint8_t>(v);
    }
}

void LinkKeys::Reset()
{
    *this = LinkKeys();
}

InbandMessage LinkKeys::Offer(const uint8_t key[kKeyLength])
{
    txKey_ = DeriveKeyByte(key);
    txActive_ = false;
    offered_ = true;
    state_ = KEY_AWAITING;
    return InbandMessage::Key(key);
}

void LinkKeys::Expect()
{
    state_ = KEY_AWAITING;
    offered_ = false;
    txActive_ = false;
}

InbandMessage LinkKeys::Answer(const uint8_t key[kKeyLength])
{
    const InbandMessage m = InbandMessage::Key(key);
    txKey_ = DeriveKeyByte(key);
    txActive_ = true;
    return m;
}

bool LinkKeys::AcceptPeerKey(const uint8_t key[kKeyLength])
{
    if (state_ != KEY_AWAITING) return false;
    rxKey_ = DeriveKeyByte(key);
    state_ = KEY_ACTIVE;
    // The engine's own key went out before the peer's came back: both directions now.
    if (offered_) txActive_ = true;
    return true;
}

void LinkKeys::EncodeTx(uint8_t* data, size_t length) const
{
    if (txActive_) XorBytes(data, length, txKey_);
}

void LinkKeys::DecodeRx(uint8_t* data, size_t length) const
{
    if (RxActive()) XorBytes(data, length, rxKey_);
}

}  // namespace protocol
}  // namespace pta
