#include "notify_queue.h"

#include <string.h>

namespace pta {
namespace port {

bool NotifyQueue::Post(PortHost& host, uint32_t code, uint32_t value)
{
    auto* entry = static_cast<Entry*>(host.Allocate(sizeof(Entry)));
    if (!entry) return false;
    entry->next = nullptr;
    entry->record.Code = code;
    entry->record.Value = value;
    if (tail_)
        tail_->next = entry;
    else
        head_ = entry;
    tail_ = entry;
    ++count_;
    return true;
}

uint32_t NotifyQueue::Drain(PortHost& host, uint8_t* out, uint32_t size)
{
    uint32_t written = 0;
    while (head_ && size - written >= sizeof(LinkNotification)) {
        Entry* entry = head_;
        memcpy(out + written, &entry->record, sizeof entry->record);
        written += sizeof entry->record;
        head_ = entry->next;
        if (!head_) tail_ = nullptr;
        --count_;
        host.Release(entry);
    }
    return written;
}

void NotifyQueue::Clear(PortHost& host)
{
    while (Entry* entry = head_) {
        head_ = entry->next;
        host.Release(entry);
    }
    tail_ = nullptr;
    count_ = 0;
}

}  // namespace port
}  // namespace pta
