#include "net_tx_ring.h"

#include <stdio.h>

#include "link_channel.h"
#include "ring_copy.h"

namespace pta {
namespace protocol {

const uint32_t ChunkTable[kBaudCount] = {
    // 150  300  600 1200 2400 4800 9600 19200 38400 57600 115200 230400 460800 921600
    32,     32,  32,  32,  32,  64,  64,  128,  256,  256,  512,   512,   2048,  2048,
};

uint32_t ChunkSize(uint32_t baudIndex)
{
    return ChunkTable[baudIndex < kBaudCount ? baudIndex : kDefaultBaudIndex];
}

uint32_t SendBufferSize(uint32_t baudIndex)
{
    const uint32_t chunk = ChunkSize(baudIndex);
    return chunk < kMinSendBuffer ? kMinSendBuffer : chunk;
}

NetTxRing::NetTxRing(uint32_t slot)
{
    snprintf(label_, sizeof(label_), "txq%03u", static_cast<unsigned>(slot % 1000));
}

bool NetTxRing::Put(const uint8_t* data, uint32_t length)
{
    if (Free() <= length) return false;
    RingCopyIn(data_, kCapacity, &write_, data, length);
    return true;
}

uint32_t NetTxRing::Take(uint8_t* buffer, uint32_t most)
{
    const uint32_t used = Used();
    const uint32_t count = most < used ? most : used;
    RingCopyOut(data_, kCapacity, &read_, buffer, count);
    return count;
}

}  // namespace protocol
}  // namespace pta
