// The transmit queue: application writes waiting for the control program to fetch them.
// A write is queued as one record that refers to the write request's own buffer (the
// system's copy, alive until the request completes), so queuing a write of any length
// costs one small allocation and no copy. The fetch moves a write out in pieces of at
// most kTxPieceSize bytes, so that any write can be fetched through a buffer of that
// size; the write's request is completed when its last piece leaves.
#pragma once

#include "port_host.h"
#include "serial_defs.h"

namespace pta {
namespace port {

constexpr uint32_t kTxPieceSize = kFetchTxBufferSize;

struct TxRecord {
    TxRecord* next;
    IoHandle* handle;
    IoRequest* request;   // the write this record is
    const uint8_t* data;  // the request's buffer
    uint32_t length;      // the whole write's length
    uint32_t fetched;     // bytes of it fetched so far
    int64_t timeoutDue;   // the write's total time-out as a relative due time; 0: none

    uint32_t Left() const { return length - fetched; }
    // The next piece the fetch moves: whole pieces only.
    uint32_t NextPiece() const { return Left() < kTxPieceSize ? Left() : kTxPieceSize; }
};

// A detached run of records, oldest first.
struct TxRecordList {
    TxRecord* head = nullptr;
    TxRecord* tail = nullptr;

    void Append(TxRecord* record);
    TxRecord* Pop();
};

class TxQueue {
public:
    // Queues one write. False when memory ran out; nothing is queued then.
    bool Append(PortHost& host, IoHandle* handle, IoRequest* request, const uint8_t* data,
                uint32_t length, int64_t timeoutDue);

    TxRecord* Head() const { return records_.head; }
    // Copies the head's next piece to `out` and counts it fetched; returns the head when
    // that was its last piece, removed from the queue for the caller to complete and free.
    TxRecord* FetchPiece(uint8_t* out);
    // Removes every record, oldest first.
    TxRecordList TakeAll();
    // Removes the head record, or the records of one request or of one handle.
    TxRecordList TakeHead();
    TxRecordList TakeRequest(IoRequest* request);
    TxRecordList TakeHandle(IoHandle* handle);

    // Bytes queued and not yet fetched.
    uint32_t PendingBytes() const { return pendingBytes_; }
    bool Empty() const { return records_.head == nullptr; }

    static void Free(PortHost& host, TxRecord* record) { host.Release(record); }

private:
    template <typename Match>
    TxRecordList TakeMatching(Match match);

    TxRecordList records_;
    uint32_t pendingBytes_ = 0;
};

}  // namespace port
}  // namespace pta
