// Copying into and out of a circular byte buffer, wrapping at its end. Shared by the
// driver's receive ring and the engine's network transmit ring; freestanding.
#pragma once

#include <stdint.h>
#include <string.h>

namespace pta {

// Copies count bytes from source into ring (capacity bytes) at *at and advances *at.
inline void RingCopyIn(uint8_t* ring, uint32_t capacity, uint32_t* at, const uint8_t* source,
                       uint32_t count)
{
    const uint32_t first = count < capacity - *at ? count : capacity - *at;
    memcpy(ring + *at, source, first);
    memcpy(ring, source + first, count - first);
    *at = (*at + count) % capacity;
}

// Copies count bytes from ring (capacity bytes) at *at into target and advances *at.
inline void RingCopyOut(const uint8_t* ring, uint32_t capacity, uint32_t* at, uint8_t* target,
                        uint32_t count)
{
    const uint32_t first = count < capacity - *at ? count : capacity - *at;
    memcpy(target, ring + *at, first);
    memcpy(target + first, ring, count - first);
    *at = (*at + count) % capacity;
}

}  // namespace pta
