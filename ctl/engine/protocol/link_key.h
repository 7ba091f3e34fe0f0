// The "Encryption" protocol: each end sends MSG_KEY with 16 key bytes, and from then on
// every byte in each direction is XORed with one key byte derived from the sender's 16.
#pragma once

#include "inband_message.h"

namespace pta {
namespace protocol {

// XOR of the 16 bytes, its two 4-bit halves swapped.
uint8_t DeriveKeyByte(const uint8_t key[kKeyLength]);

void XorBytes(uint8_t* data, size_t length, uint8_t keyByte);

// The worker's KeyState values.
enum KeyState : uint8_t {
    KEY_NONE = 0,      // no encryption
    KEY_AWAITING = 1,  // the peer's MSG_KEY is awaited
    KEY_ACTIVE = 2,    // received bytes are XORed (and sent bytes, once our key is out)
};

// Pseudo-random key bytes (splitmix64); the shell seeds it, for example from the clock.
class KeyGenerator {
public:
    explicit KeyGenerator(uint64_t seed) : state_(seed) {}
    void Fill(uint8_t key[kKeyLength]);

private:
    uint64_t Next();
    uint64_t state_;
};

// The key state of one connection, both directions.
//
// Engine:        Offer() sends our key -> KEY_AWAITING; the server's key arrives
//                -> KEY_ACTIVE, both directions XORed from then on.
// Device server: Expect() -> KEY_AWAITING; the engine's key arrives -> KEY_ACTIVE for
//                receiving; Answer() sends our key, and sending is XORed after it.
class LinkKeys {
public:
    // A new connection: no encryption.
    void Reset();

    // Engine: our key is about to be sent; returns the MSG_KEY to send as it is.
    InbandMessage Offer(const uint8_t key[kKeyLength]);
    // Device server: accept the peer's key when it comes.
    void Expect();
    // Device server: our answer to the peer's key; returns the MSG_KEY to send as it is.
    // Every byte sent after it is XORed.
    InbandMessage Answer(const uint8_t key[kKeyLength]);

    // A MSG_KEY arrived. Taken only while KEY_AWAITING (returns true); else ignored.
    bool AcceptPeerKey(const uint8_t key[kKeyLength]);

    KeyState State() const { return state_; }
    bool RxActive() const { return state_ == KEY_ACTIVE; }
    bool TxActive() const { return txActive_; }
    uint8_t RxKeyByte() const { return rxKey_; }
    uint8_t TxKeyByte() const { return txKey_; }

    // Bytes about to be sent, and bytes just received.
    void EncodeTx(uint8_t* data, size_t length) const;
    void DecodeRx(uint8_t* data, size_t length) const;

private:
    KeyState state_ = KEY_NONE;
    bool offered_ = false;
    bool txActive_ = false;
    uint8_t txKey_ = 0;
    uint8_t rxKey_ = 0;
};

}  // namespace protocol
}  // namespace pta
