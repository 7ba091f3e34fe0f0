// The port's timers (read time-out, wait-on-mask, handshake): deadlines kept under the
// port lock and one system thread per started port that sleeps until the earliest one
// and delivers the expiries.
//
// Arming and disarming are plain stores, so the model may do either from anywhere,
// expiries included. Kernel timers with deferred routines would serve on Windows, but
// Wine's KeSetTimer and KeCancelTimer wait for the timer's running callbacks: a deferred
// routine that ends its own read (and so cancels its timer), or any cancel made under
// the lock a callback is waiting for, would never return.
#include "ptaser2.h"

// Declared in ntifs.h, which a function driver does not include.
extern "C" NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE Handle, BOOLEAN Alertable,
                                                         PLARGE_INTEGER Timeout);

using pta::port::kPortTimerCount;
using pta::port::PortTimer;

void KernelPortHost::StartTimer(PortTimer timer, int64_t dueTime)
{
    armed_[timer] = true;
    deadline_[timer] = pta::port::DeadlineAfter(Now(), dueTime);
    KeSetEvent(&wake_, IO_NO_INCREMENT, FALSE);
}

void KernelPortHost::CancelTimer(PortTimer timer)
{
    // The thread finds nothing due and sleeps on.
    armed_[timer] = false;
}

NTSTATUS KernelPortHost::StartTimerThread()
{
    if (thread_ != nullptr) return STATUS_SUCCESS;
    stopping_ = false;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    return PsCreateSystemThread(&thread_, THREAD_ALL_ACCESS, &attributes, nullptr, nullptr,
                                TimerThread, this);
}

void KernelPortHost::StopTimerThread()
{
    if (thread_ == nullptr) return;
    {
        PortLock lock(ext_);
        stopping_ = true;
    }
    KeSetEvent(&wake_, IO_NO_INCREMENT, FALSE);
    ZwWaitForSingleObject(thread_, FALSE, nullptr);
    ZwClose(thread_);
    thread_ = nullptr;
}

void NTAPI KernelPortHost::TimerThread(PVOID context)
{
    static_cast<KernelPortHost*>(context)->RunTimers();
    PsTerminateSystemThread(STATUS_SUCCESS);
}

void KernelPortHost::RunTimers()
{
    for (;;) {
        int64_t wait = 0;  // 100-ns units until the next deadline; 0: none armed
        bool delivered = false;
        {
            PortLock lock(ext_);
            if (stopping_) return;
            const int64_t now = Now();
            for (uint32_t t = 0; t < kPortTimerCount; ++t) {
                if (!armed_[t] || deadline_[t] > now) continue;
                armed_[t] = false;
                lock.Port().OnTimer(static_cast<PortTimer>(t));
                delivered = true;
            }
            // An expiry may have armed or disarmed others: look again before sleeping.
            if (!delivered) {
                for (uint32_t t = 0; t < kPortTimerCount; ++t) {
                    if (!armed_[t]) continue;
                    const int64_t left = deadline_[t] - now;
                    if (wait == 0 || left < wait) wait = left;
                }
            }
        }
        if (delivered) continue;
        LARGE_INTEGER timeout;
        timeout.QuadPart = -wait;
        KeWaitForSingleObject(&wake_, Executive, KernelMode, FALSE, wait > 0 ? &timeout : nullptr);
    }
}
