// The soak's data stream: numbered records an application writes and reads back through an
// echoing device server, and the checker that tells lost records from reordered, repeated
// or corrupted ones.
//
// A record is 16 bytes: the start byte 0x7E, the session (0..0x3F), the sequence number in
// four 6-bit bytes, and ten payload bytes derived from both. No byte but the start is 0x7E
// or above, so the stream never holds the link's in-band message start (0x7F 0xFE) and a
// reader can find the next record after a loss.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace soak {

constexpr size_t kRecordSize = 16;
constexpr uint8_t kRecordStart = 0x7E;
constexpr uint32_t kMaxSequence = 1u << 24;

inline uint8_t PayloadByte(uint32_t session, uint32_t sequence, size_t i)
{
    return static_cast<uint8_t>((sequence * 31u + session * 17u + static_cast<uint32_t>(i) * 7u) % kRecordStart);
}

inline void MakeRecord(uint32_t session, uint32_t sequence, uint8_t* out)
{
    out[0] = kRecordStart;
    out[1] = static_cast<uint8_t>(session & 0x3F);
    for (size_t i = 0; i < 4; ++i) out[2 + i] = static_cast<uint8_t>((sequence >> (18 - 6 * i)) & 0x3F);
    for (size_t i = 0; i < 10; ++i) out[6 + i] = PayloadByte(session & 0x3F, sequence, i);
}

// Reads the stream back, byte by byte, for one session.
class Checker {
public:
    explicit Checker(uint32_t session = 0) : session_(session & 0x3F) {}

    void Feed(const uint8_t* data, size_t length)
    {
        for (size_t i = 0; i < length; ++i) Byte(data[i]);
    }

    uint32_t session() const { return session_; }
    uint64_t records() const { return records_; }      // good records of this session
    uint64_t lost() const { return lost_; }            // records skipped over (gaps)
    uint64_t gaps() const { return gaps_; }            // places where records were skipped
    uint64_t disorders() const { return disorders_; }  // records repeated or out of order
    uint64_t garbled() const { return garbled_; }      // bytes that formed no good record
    uint64_t stale() const { return stale_; }          // good records of an earlier session
    // The next sequence number expected.
    uint32_t next() const { return next_; }

private:
    void Byte(uint8_t b)
    {
        if (b == kRecordStart) {
            garbled_ += fill_;  // a record cut short
            fill_ = 0;
        } else if (fill_ == 0) {
            ++garbled_;  // a byte outside any record
            return;
        }
        record_[fill_++] = b;
        if (fill_ == kRecordSize) {
            fill_ = 0;
            Complete();
        }
    }

    void Complete()
    {
        const uint32_t session = record_[1];
        uint32_t sequence = 0;
        for (size_t i = 0; i < 4; ++i) sequence = sequence << 6 | (record_[2 + i] & 0x3F);
        for (size_t i = 0; i < 10; ++i) {
            if (record_[1] > 0x3F || record_[6 + i] != PayloadByte(session, sequence, i)) {
                garbled_ += kRecordSize;
                return;
            }
        }
        if (session != session_) {
            ++stale_;
            return;
        }
        if (sequence < next_) {
            ++disorders_;
            return;
        }
        if (sequence > next_) {
            ++gaps_;
            lost_ += sequence - next_;
        }
        next_ = sequence + 1;
        ++records_;
    }

    uint32_t session_;
    uint8_t record_[kRecordSize] = {};
    size_t fill_ = 0;
    uint32_t next_ = 0;
    uint64_t records_ = 0, lost_ = 0, gaps_ = 0, disorders_ = 0, garbled_ = 0, stale_ = 0;
};

}  // namespace soak
