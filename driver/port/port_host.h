// What the platform shell provides to the port model: memory, request completion, timers,
// the control program's event objects, and the bus and naming operations.
//
// Locking: the model is not thread-safe. The shell enters it (every SerialPort member,
// timer expiries included) under one per-port lock; since timer expiries arrive at
// dispatch level in the kernel, that lock is a spin lock, and every PortHost operation
// below may be called while it is held. The shell may defer the actual completion of a
// request or the signalling of an event until it drops the lock.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "status_codes.h"

namespace pta {
namespace port {

// Opaque to the model: the shell's request (IRP), handle (file object) and event object.
struct IoRequest;
struct IoHandle;
struct EventObject;

enum PortTimer : uint32_t {
    TIMER_READ,       // ends a waiting read
    TIMER_WAIT,       // ends a waiting wait-on-mask after 100 ms
    TIMER_HANDSHAKE,  // ends an open or close handshake after 10 s
    TIMER_WRITE,      // ends the write at the head of the queue at its total time-out
    kPortTimerCount,
};

// The absolute deadline of a timer armed at `now` with relative `dueTime` (<= 0), on the
// same clock; saturates instead of overflowing for very long due times.
inline int64_t DeadlineAfter(int64_t now, int64_t dueTime)
{
    if (dueTime == INT64_MIN) return INT64_MAX;
    const int64_t wait = dueTime < 0 ? -dueTime : 0;
    return now > INT64_MAX - wait ? INT64_MAX : now + wait;
}

class PortHost {
public:
    // Non-paged memory; null when none is left.
    virtual void* Allocate(size_t bytes) = 0;
    virtual void Release(void* block) = 0;

    // Completes a request the model had returned as pending. Called exactly once per
    // pending request.
    virtual void Complete(IoRequest* request, NtStatus status, uint32_t information) = 0;

    // Arms `timer` to expire after -dueTime 100-nanosecond units (dueTime <= 0), replacing
    // any earlier arming; on expiry the shell calls SerialPort::OnTimer(timer).
    virtual void StartTimer(PortTimer timer, int64_t dueTime) = 0;
    // Disarms `timer` and drops an expiry not yet delivered, as far as it can: an expiry
    // that arrives late anyway is recognised and ignored.
    virtual void CancelTimer(PortTimer timer) = 0;
    // The clock the timers run on (the interrupt time), in 100-nanosecond units.
    virtual int64_t Now() = 0;

    // Resolves the caller's event handle to a referenced event object with modify-state
    // access; false when it does not resolve.
    virtual bool ReferenceEvent(uint64_t handle, EventObject** event) = 0;
    virtual void SignalEvent(EventObject* event) = 0;
    virtual void DereferenceEvent(EventObject* event) = 0;

    // A handle that belongs to neither channel end closed on an unattached port: the bus
    // driver's ChildHandleClosed.
    virtual void ChildHandleClosed() = 0;
    // Removes and recreates the port's COM names from its current PortName.
    virtual void RefreshNames() = 0;

protected:
    ~PortHost() = default;
};

}  // namespace port
}  // namespace pta
