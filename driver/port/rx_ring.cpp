#include "rx_ring.h"

#include <string.h>

namespace pta {
namespace port {

uint32_t RxRing::Put(const uint8_t* data, uint32_t length)
{
    const uint32_t n = length < Room() ? length : Room();
    if (n == 0) return 0;
    const uint32_t first = n < kCapacity - write_ ? n : kCapacity - write_;
    memcpy(data_ + write_, data, first);
    memcpy(data_, data + first, n - first);
    write_ = (write_ + n) % kCapacity;
    return n;
}

uint32_t RxRing::Get(uint8_t* buffer, uint32_t length)
{
    const uint32_t used = Used();
    const uint32_t n = length < used ? length : used;
    if (n == 0) return 0;
    const uint32_t first = n < kCapacity - read_ ? n : kCapacity - read_;
    memcpy(buffer, data_ + read_, first);
    memcpy(buffer + first, data_, n - first);
    read_ = (read_ + n) % kCapacity;
    return n;
}

}  // namespace port
}  // namespace pta
