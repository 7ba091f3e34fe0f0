#include "rx_ring.h"

#include "ring_copy.h"

namespace pta {
namespace port {

uint32_t RxRing::Put(const uint8_t* data, uint32_t length)
{
    const uint32_t n = length < Room() ? length : Room();
    if (n == 0) return 0;
    RingCopyIn(data_, kCapacity, &write_, data, n);
    return n;
}

uint32_t RxRing::Get(uint8_t* buffer, uint32_t length)
{
    const uint32_t used = Used();
    const uint32_t n = length < used ? length : used;
    if (n == 0) return 0;
    RingCopyOut(data_, kCapacity, &read_, buffer, n);
    return n;
}

}  // namespace port
}  // namespace pta
