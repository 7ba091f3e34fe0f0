// NetTxRing: application bytes fetched from the driver, waiting to be sent to the device
// server in chunks sized by the baud index. No locking here: the worker guards every call
// with the ring's lock.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace pta {
namespace protocol {

// Largest number of bytes taken from the ring for one send, by baud index.
extern const uint32_t ChunkTable[];
// A fetch from the driver and a receive from the socket move at most this much.
constexpr uint32_t kTransferBufferSize = 4096;
// The socket's send buffer is never set below this.
constexpr uint32_t kMinSendBuffer = 256;

// The ChunkTable entry of a baud index; an index outside the table counts as 9600 baud.
uint32_t ChunkSize(uint32_t baudIndex);
// The send buffer size (SO_SNDBUF) for a baud index.
uint32_t SendBufferSize(uint32_t baudIndex);

class NetTxRing {
public:
    static constexpr uint32_t kCapacity = 16192;
    // One byte always stays free, so that equal indices mean empty.
    static constexpr uint32_t kMaxUsed = kCapacity - 1;

    // `slot` names the ring "txq%03d".
    explicit NetTxRing(uint32_t slot = 0);

    uint32_t Used() const { return write_ >= read_ ? write_ - read_ : write_ + kCapacity - read_; }
    uint32_t Free() const { return kCapacity - Used(); }
    // A fetch from the driver is made only while a whole transfer buffer fits.
    bool ShouldFetch() const { return Free() > kTransferBufferSize; }

    // Copies all `length` bytes in if free bytes are more than `length`; otherwise the
    // ring stays as it is (queued bytes are kept) and the answer is false.
    bool Put(const uint8_t* data, uint32_t length);
    // Takes up to `most` bytes, oldest first; returns how many.
    uint32_t Take(uint8_t* buffer, uint32_t most);
    // Takes the next chunk for a send at this baud index; returns how many (0: empty).
    uint32_t TakeChunk(uint8_t* buffer, uint32_t baudIndex) { return Take(buffer, ChunkSize(baudIndex)); }
    void Clear() { read_ = write_ = 0; }

    const char* Label() const { return label_; }

private:
    uint32_t read_ = 0;
    uint32_t write_ = 0;
    char label_[16];
    uint8_t data_[kCapacity];
};

}  // namespace protocol
}  // namespace pta
