// The receive path: application reads served from the ring or parked until data or their
// time-out, and the control program's received bytes.
#include <string.h>

#include "serial_port.h"

namespace pta {
namespace port {

IoResult SerialPort::Read(IoHandle* handle, IoRequest* request, uint8_t* buffer,
                          uint32_t length)
{
    ++counters_.Reads;
    if (poweredDown_) return {kStatusSuccess, 0};
    if (!ApplicationActive(handle)) return {kStatusTimeout, 0};
    return ReadRing(handle, request, buffer, length);
}

IoResult SerialPort::ReadRing(IoHandle* handle, IoRequest* request, uint8_t* buffer,
                              uint32_t length)
{
    if (state_ != PORT_OPEN) return {kStatusSuccess, 0};
    // A read never waits for more once some bytes are there.
    if (rx_.Used() > 0) return {kStatusSuccess, rx_.Get(buffer, length)};
    if (serial_.readParams.readImmediate) return {kStatusSuccess, 0};

    const int64_t due = ReadDueTime(serial_.readParams, length);
    // A newer read replaces a waiting one, which ends with no data.
    EndRead(kStatusSuccess, 0);
    pendingRead_ = {handle, request, buffer, length};
    ArmTimer(TIMER_READ, due);
    return {kStatusPending, 0};
}

void SerialPort::OnReadTimer()
{
    EndRead(kStatusSuccess, 0);
}

IoResult SerialPort::PutRx(const ControlCall& call)
{
    const uint32_t length = call.inputLength;
    // The count taken is the request's information: with an output buffer the system would
    // copy that many bytes back into it.
    if (call.outputLength != 0) return {kStatusInvalidParameter, 0};
    if (state_ != PORT_OPEN) return {kStatusSuccess, length};

    uint32_t taken = 0;
    if (pendingRead_.request) {
        taken = length < pendingRead_.length ? length : pendingRead_.length;
        if (taken) memcpy(pendingRead_.buffer, call.buffer, taken);
        EndRead(kStatusSuccess, taken);
        if (taken == length) return {kStatusSuccess, taken};
    }

    // Bytes beyond the ring's room are not taken; the control program does not resend.
    const uint32_t stored = rx_.Put(call.buffer + taken, length - taken);
    taken += stored;
    serial_.receivedCount += stored;
    if (serial_.waitMask & EV_RXCHAR) RaiseEvents(EV_RXCHAR);
    return {kStatusSuccess, taken};
}

}  // namespace port
}  // namespace pta
