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
                     uint32_t length, int64_t timeoutDue)
{
    auto* record = static_cast<TxRecord*>(host.Allocate(sizeof(TxRecord)));
    if (!record) return false;
    record->handle = handle;
    record->request = request;
    record->data = data;
    record->length = length;
    record->fetched = 0;
    record->timeoutDue = timeoutDue;
    records_.Append(record);
    pendingBytes_ += length;
    return true;
}

TxRecord* TxQueue::FetchPiece(uint8_t* out)
{
    TxRecord* head = records_.head;
    const uint32_t piece = head->NextPiece();
    memcpy(out, head->data + head->fetched, piece);
    head->fetched += piece;
    pendingBytes_ -= piece;
    if (head->Left() != 0) return nullptr;
    return records_.Pop();
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
            pendingBytes_ -= r->Left();
            taken.Append(r);
        } else {
            kept.Append(r);
        }
    }
    records_ = kept;
    return taken;
}

TxRecordList TxQueue::TakeHead()
{
    TxRecordList taken;
    if (TxRecord* r = records_.Pop()) {
        pendingBytes_ -= r->Left();
        taken.Append(r);
    }
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
