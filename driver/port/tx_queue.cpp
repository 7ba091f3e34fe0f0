#include "tx_queue.h"

#include <string.h>

namespace pta {
namespace port {

void TxRecordList::Append(TxRecord* record)
{
    record->next = nullptr;
    if (tail)
        tail->next = record;
    else
        head = record;
    tail = record;
}

TxRecord* TxRecordList::Pop()
{
    TxRecord* record = head;
    if (record) {
        head = record->next;
        if (!head) tail = nullptr;
        record->next = nullptr;
    }
    return record;
}

bool TxQueue::Append(PortHost& host, IoHandle* handle, IoRequest* request, const uint8_t* data,
                     uint32_t length)
{
    // Build every record first so that a write is queued whole or not at all.
    TxRecordList built;
    for (uint32_t offset = 0; offset < length;) {
        const uint32_t left = length - offset;
        const uint32_t n = left < kTxRecordSize ? left : kTxRecordSize;
        auto* record = static_cast<TxRecord*>(host.Allocate(sizeof(TxRecord) + n));
        if (!record) {
            while (TxRecord* r = built.Pop()) Free(host, r);
            return false;
        }
        record->handle = handle;
        record->request = request;
        record->length = n;
        record->offset = offset;
        record->writeLength = length;
        record->last = offset + n == length;
        memcpy(record->Data(), data + offset, n);
        built.Append(record);
        offset += n;
    }
    while (TxRecord* r = built.Pop()) records_.Append(r);
    pendingBytes_ += length;
    return true;
}

TxRecord* TxQueue::PopHead()
{
    TxRecord* record = records_.Pop();
    if (record) pendingBytes_ -= record->length;
    return record;
}

TxRecordList TxQueue::TakeAll()
{
    TxRecordList all = records_;
    records_ = TxRecordList();
    pendingBytes_ = 0;
    return all;
}

template <typename Match>
TxRecordList TxQueue::TakeMatching(Match match)
{
    TxRecordList taken;
    TxRecordList kept;
    while (TxRecord* r = records_.Pop()) {
        if (match(r)) {
            pendingBytes_ -= r->length;
            taken.Append(r);
        } else {
            kept.Append(r);
        }
    }
    records_ = kept;
    return taken;
}

TxRecordList TxQueue::TakeRequest(IoRequest* request)
{
    return TakeMatching([request](const TxRecord* r) { return r->request == request; });
}

TxRecordList TxQueue::TakeHandle(IoHandle* handle)
{
    return TakeMatching([handle](const TxRecord* r) { return r->handle == handle; });
}

}  // namespace port
}  // namespace pta
