// What the port model asks of the system: pool memory, request completion, the clock
// and the control program's events. All of it runs under the port lock, so completions
// are only queued here; the lock's owner finishes them once it has dropped the lock.
#include "ptaser2.h"

using pta::port::EventObject;
using pta::port::IoRequest;

void KernelPortHost::Initialize(DeviceExtension* ext)
{
    ext_ = ext;
    KeQueryPerformanceCounter(&frequency_);
    InitializeListHead(&completions_);
    childHandleClosed_ = false;
    refreshes_ = 0;
    offeredHandle_ = 0;
    offeredEvent_ = nullptr;
    for (uint32_t t = 0; t < pta::port::kPortTimerCount; ++t) armed_[t] = false;
    stopping_ = false;
    KeInitializeEvent(&wake_, SynchronizationEvent, FALSE);
    thread_ = nullptr;
}

void* KernelPortHost::Allocate(size_t bytes)
{
    return ExAllocatePoolWithTag(NonPagedPool, bytes, kPoolTag);
}

void KernelPortHost::Release(void* block)
{
    ExFreePoolWithTag(block, kPoolTag);
}

void KernelPortHost::Complete(IoRequest* request, pta::NtStatus status, uint32_t information)
{
    PIRP irp = reinterpret_cast<PIRP>(request);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    InsertTailList(&completions_, &irp->Tail.Overlay.ListEntry);
}

// The interrupt-time clock in 100-nanosecond units. The performance counter stands in
// for KeQueryInterruptTime, which the x64 headers read from a page Wine does not map.
int64_t KernelPortHost::Now()
{
    const LONGLONG ticks = KeQueryPerformanceCounter(nullptr).QuadPart;
    const LONGLONG frequency = frequency_.QuadPart;
    const LONGLONG seconds = ticks / frequency;
    return seconds * 10000000 + (ticks % frequency) * 10000000 / frequency;
}

void KernelPortHost::OfferEvent(uint64_t handle, PKEVENT event)
{
    offeredHandle_ = handle;
    offeredEvent_ = event;
}

PKEVENT KernelPortHost::TakeOffer()
{
    PKEVENT event = offeredEvent_;
    offeredEvent_ = nullptr;
    offeredHandle_ = 0;
    return event;
}

// Handles resolve at passive level only; the dispatch routine did it before taking the
// lock and offered the result.
bool KernelPortHost::ReferenceEvent(uint64_t handle, EventObject** event)
{
    if (offeredEvent_ == nullptr || handle != offeredHandle_) return false;
    *event = reinterpret_cast<EventObject*>(TakeOffer());
    return true;
}

void KernelPortHost::SignalEvent(EventObject* event)
{
    KeSetEvent(reinterpret_cast<PKEVENT>(event), IO_NO_INCREMENT, FALSE);
}

void KernelPortHost::DereferenceEvent(EventObject* event)
{
    ObDereferenceObject(event);
}

void KernelPortHost::TakeDeferred(Deferred* out, bool passive)
{
    InitializeListHead(&out->completions);
    if (!IsListEmpty(&completions_)) {
        // Moves the whole list to the caller's head.
        out->completions.Flink = completions_.Flink;
        out->completions.Blink = completions_.Blink;
        out->completions.Flink->Blink = &out->completions;
        out->completions.Blink->Flink = &out->completions;
        InitializeListHead(&completions_);
    }
    out->childHandleClosed = passive && childHandleClosed_;
    if (passive) childHandleClosed_ = false;
}
