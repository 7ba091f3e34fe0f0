// The receive ring: bytes handed in by the control program, waiting for application reads.
// Fixed storage; one byte always stays free, so it holds at most capacity - 1 bytes.
#pragma once

#include "serial_defs.h"

namespace pta {
namespace port {

class RxRing {
public:
    static constexpr uint32_t kCapacity = kRxRingCapacity;

    uint32_t Used() const { return (write_ + kCapacity - read_) % kCapacity; }
    uint32_t Room() const { return kCapacity - 1 - Used(); }

    // Stores as many of `length` bytes as fit; returns how many.
    uint32_t Put(const uint8_t* data, uint32_t length);
    // Takes up to `length` bytes, oldest first; returns how many.
    uint32_t Get(uint8_t* buffer, uint32_t length);
    void Clear() { read_ = write_ = 0; }

private:
    uint32_t read_ = 0;
    uint32_t write_ = 0;
    uint8_t data_[kCapacity];
};

}  // namespace port
}  // namespace pta
