// The wait mask: raising events, and the wait-on-mask request that reports them. A wait
// never lasts longer than about 100 ms; callers loop.
#include <string.h>

#include "serial_port.h"

namespace pta {
namespace port {

namespace {

constexpr int64_t kWaitDue = -100 * kTicksPerMs;

void WriteEvents(const ParkedRequest& wait, uint32_t events)
{
    memcpy(wait.buffer, &events, sizeof events);
}

}  // namespace

void SerialPort::RaiseEvents(uint32_t events)
{
    serial_.pendingEvents |= events;
    if (!pendingWait_.request) return;
    WriteEvents(pendingWait_, serial_.pendingEvents);
    serial_.pendingEvents = 0;
    EndWait(kStatusSuccess, sizeof(uint32_t));
}

IoResult SerialPort::GetWaitMask(const ControlCall& call)
{
    memcpy(call.buffer, &serial_.waitMask, sizeof serial_.waitMask);
    return {kStatusSuccess, sizeof serial_.waitMask};
}

IoResult SerialPort::SetWaitMask(const ControlCall& call)
{
    RaiseEvents(0);
    memcpy(&serial_.waitMask, call.buffer, sizeof serial_.waitMask);
    return {kStatusSuccess, 0};
}

IoResult SerialPort::WaitOnMask(const ControlCall& call)
{
    // Without a started device no timer would ever end the wait.
    if (!started_) return {kStatusDeviceNotReady, 0};
    if (pendingWait_.request || serial_.waitMask == 0) return {kStatusInvalidParameter, 0};
    if (serial_.pendingEvents) {
        memcpy(call.buffer, &serial_.pendingEvents, sizeof serial_.pendingEvents);
        serial_.pendingEvents = 0;
        return {kStatusSuccess, sizeof(uint32_t)};
    }
    pendingWait_ = {call.handle, call.request, call.buffer, call.outputLength};
    ArmTimer(TIMER_WAIT, kWaitDue);
    return {kStatusPending, 0};
}

void SerialPort::OnWaitTimer()
{
    if (!pendingWait_.request) return;
    WriteEvents(pendingWait_, 0);
    serial_.pendingEvents = 0;
    EndWait(kStatusSuccess, sizeof(uint32_t));
}

}  // namespace port
}  // namespace pta
