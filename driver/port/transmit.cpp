// The transmit path: application writes queued for the control program, and the fetch
// that moves them out whole and completes them.
#include <string.h>

#include "serial_port.h"

namespace pta {
namespace port {

IoResult SerialPort::Write(IoHandle* handle, IoRequest* request, const uint8_t* data,
                           uint32_t length)
{
    // Writes nobody will carry are accepted and dropped.
    const IoResult dropped = {kStatusSuccess, length};
    if (poweredDown_ || length == 0) return dropped;
    // A write from the handle whose open is still being answered is queued too: the
    // system may hand an application its handle before the create has completed here,
    // and the bytes it writes at once belong to the open that is about to succeed. If
    // the open fails instead, they are cancelled with it.
    const bool opening = state_ == PORT_OPENING && channel_.attached &&
                         channel_.handshake == HANDSHAKE_OPEN && handle == channel_.handshakeHandle;
    if (!opening && (!ApplicationActive(handle) || state_ != PORT_OPEN)) return dropped;
    if (!tx_.Append(host_, handle, request, data, length)) return dropped;
    // Tells the control program there is something to fetch.
    if (channel_.spareEvent) host_.SignalEvent(channel_.spareEvent);
    return {kStatusPending, 0};
}

IoResult SerialPort::FetchTx(const ControlCall& call)
{
    uint32_t space = call.outputLength;
    uint32_t copied = 0;
    while (TxRecord* head = tx_.Head()) {
        if (head->length > space) break;
        tx_.PopHead();
        memcpy(call.buffer + copied, head->Data(), head->length);
        copied += head->length;
        space -= head->length;
        serial_.transmittedCount += head->length;
        if (tx_.PendingBytes() == 0 && (serial_.waitMask & EV_TXEMPTY)) RaiseEvents(EV_TXEMPTY);
        if (head->last) host_.Complete(head->request, kStatusSuccess, head->writeLength);
        TxQueue::Free(host_, head);
    }
    return {kStatusSuccess, copied};
}

}  // namespace port
}  // namespace pta
