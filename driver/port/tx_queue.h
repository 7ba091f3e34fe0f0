// The transmit queue: application writes waiting for the control program to fetch them.
// A write is queued as one or more records of at most kTxRecordSize bytes, so that any
// write can be fetched through a buffer of that size; the write's request rides on its
// last record and is completed when that record leaves the queue.
#pragma once

#include "port_host.h"
#include "serial_defs.h"

namespace pta {
namespace port {

constexpr uint32_t kTxRecordSize = kFetchTxBufferSize;

struct TxRecord {
    TxRecord* next;
    IoHandle* handle;
    IoRequest* request;    // the write this record belongs to
    uint32_t length;       // bytes in this record
    uint32_t offset;       // where this record starts within its write
    uint32_t writeLength;  // the whole write's length
    bool last;             // the write's final record: completing it completes the write

    uint8_t* Data() { return reinterpret_cast<uint8_t*>(this + 1); }
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
                uint32_t length);

    TxRecord* Head() const { return records_.head; }
    // Removes the head record; the caller completes and frees it.
    TxRecord* PopHead();
    // Removes every record, oldest first.
    TxRecordList TakeAll();
    // Removes the records of one request, or of every request of one handle.
    TxRecordList TakeRequest(IoRequest* request);
    TxRecordList TakeHandle(IoHandle* handle);

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
