// The queue of notifications waiting for the control program to drain them.
#pragma once

#include "port_host.h"
#include "serial_defs.h"

namespace pta {
namespace port {

class NotifyQueue {
public:
    // False when memory ran out: the notification is lost.
    bool Post(PortHost& host, uint32_t code, uint32_t value);
    // Moves whole 8-byte records, oldest first, while they fit in `size` bytes; returns
    // the bytes written.
    uint32_t Drain(PortHost& host, uint8_t* out, uint32_t size);
    void Clear(PortHost& host);
    uint32_t Count() const { return count_; }

private:
    struct Entry {
        Entry* next;
        LinkNotification record;
    };
    Entry* head_ = nullptr;
    Entry* tail_ = nullptr;
    uint32_t count_ = 0;
};

}  // namespace port
}  // namespace pta
