// The transmit path: application writes queued for the control program, the fetch that
// moves them out in whole pieces and completes them, and the write total time-out of the
// write at the head of the queue.
#include <string.h>

#include "serial_port.h"

namespace pta {
namespace port {

IoResult SerialPort::Write(IoHandle* handle, IoRequest* request, const uint8_t* data,
                           uint32_t length)
{
    ++counters_.Writes;
    // Writes nobody will carry are accepted and dropped.
    const IoResult dropped = {kStatusSuccess, length};
    if (poweredDown_ || length == 0) return dropped;
    // A write from the handle whose open is still being answered is queued too: the
    // system may hand an application its handle before the create has completed here,
    // and the bytes it writes at once belong to the open that is about to succeed. If
    // the open fails instead, they are cancelled with it.
    const bool opening = state_ == PORT_OPENING && channel_.attached &&
                         channel_.handshake == HANDSHAKE_OPEN && handle == channel_.handshakeHandle;
    // While the link is down the write waits for its return (or its time-out) like any
    // write the control program has not fetched yet: it was not carried, so it is not
    // reported written.
    const bool carried = state_ == PORT_OPEN || state_ == PORT_SUSPENDED;
    if (!opening && (!ApplicationActive(handle) || !carried)) return dropped;
    if (!tx_.Append(host_, handle, request, data, length,
                    WriteDueTime(serial_.lines.Timeouts, length)))
        return dropped;
    StartWriteTimer();
    // Tells the control program there is something to fetch.
    if (channel_.spareEvent) host_.SignalEvent(channel_.spareEvent);
    return {kStatusPending, 0};
}

IoResult SerialPort::FetchTx(const ControlCall& call)
{
    uint32_t space = call.outputLength;
    uint32_t copied = 0;
    while (const TxRecord* head = tx_.Head()) {
        const uint32_t piece = head->NextPiece();
        if (piece > space) break;
        TxRecord* done = tx_.FetchPiece(call.buffer + copied);
        copied += piece;
        space -= piece;
        serial_.transmittedCount += piece;
        if (tx_.PendingBytes() == 0 && (serial_.waitMask & EV_TXEMPTY)) RaiseEvents(EV_TXEMPTY);
        if (done) {
            host_.Complete(done->request, kStatusSuccess, done->length);
            TxQueue::Free(host_, done);
        }
    }
    StartWriteTimer();
    if (copied == 0) ++counters_.EmptyFetches;
    // Writes left queued: the control program fetches again only when told.
    if (tx_.Head() && channel_.spareEvent) host_.SignalEvent(channel_.spareEvent);
    return {kStatusSuccess, copied};
}

void SerialPort::StartWriteTimer()
{
    const TxRecord* head = tx_.Head();
    IoRequest* timed = head && head->timeoutDue != 0 ? head->request : nullptr;
    if (timed == writeTimed_) return;  // the head's time-out runs already, or none is due
    writeTimed_ = timed;
    if (timed)
        ArmTimer(TIMER_WRITE, head->timeoutDue);
    else
        DisarmTimer(TIMER_WRITE);
}

void SerialPort::OnWriteTimer()
{
    // The write at the head ran out of time: it ends with what was fetched of it, and the
    // next write's time-out starts.
    IoRequest* timed = writeTimed_;
    writeTimed_ = nullptr;
    if (tx_.Head() && tx_.Head()->request == timed)
        CompleteTx(tx_.TakeHead(), TX_TIMED_OUT);
    else
        StartWriteTimer();
}

}  // namespace port
}  // namespace pta
