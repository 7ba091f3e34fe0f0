// Purge, and the port flush that purge, the handshakes and forced close share.
#include <string.h>

#include "serial_port.h"

namespace pta {
namespace port {

IoResult SerialPort::Purge(const ControlCall& call)
{
    uint32_t mask;
    memcpy(&mask, call.buffer, sizeof mask);
    if (mask == 0 || (mask & ~kPurgeAll)) return {kStatusInvalidParameter, 0};

    if (mask & SERIAL_PURGE_RXCLEAR) Flush();
    if (mask & SERIAL_PURGE_TXABORT) CompleteTx(tx_.TakeAll(), TX_ABORTED);
    if (mask & SERIAL_PURGE_RXABORT) EndRead(kStatusSuccess, 0);
    // TX clear has nothing to clear: there is no transmit buffer below the queue.
    RaiseEvents(0);
    return {kStatusSuccess, 0};
}

void SerialPort::Flush()
{
    DisarmTimer(TIMER_READ);
    DisarmTimer(TIMER_WAIT);
    if (!started_) return;
    rx_.Clear();
    CompleteTx(tx_.TakeAll(), TX_SENT);
    EndRead(kStatusSuccess, 0);
    serial_.receivedCount = 0;
    serial_.transmittedCount = 0;
}

}  // namespace port
}  // namespace pta
