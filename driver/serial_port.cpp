// The serial port model in the device extension: its lock, its life from add device to
// removal, and the start and stop that make the port exist.
#include <new>

#include "ptaser2.h"

// The model calls no pure virtual function; the symbol is needed because its host has a
// virtual table.
extern "C" void __cxa_pure_virtual()
{
    KeBugCheckEx(0x000000E2 /* MANUALLY_INITIATED_CRASH */, 0, 0, 0, 0);
}

PortLock::PortLock(DeviceExtension* ext) : ext_(ext), held_(true)
{
    KeAcquireSpinLock(&ext->PortLock, &oldIrql_);
}

pta::port::SerialPort& PortLock::Port()
{
    return *reinterpret_cast<pta::port::SerialPort*>(ext_->PortStorage);
}

void PortLock::Release()
{
    if (!held_) return;
    held_ = false;
    KernelPortHost::Deferred deferred;
    ext_->Host.TakeDeferred(&deferred, oldIrql_ == PASSIVE_LEVEL);
    KeReleaseSpinLock(&ext_->PortLock, oldIrql_);

    while (!IsListEmpty(&deferred.completions)) {
        PLIST_ENTRY entry = RemoveHeadList(&deferred.completions);
        FinishPortCompletion(ext_, CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry));
    }
    if (deferred.childHandleClosed) {
        pta::PtaBusInterface bus;
        if (NT_SUCCESS(QueryBusInterface(ext_->LowerDevice, &bus))) {
            if (bus.ChildHandleClosed != nullptr) bus.ChildHandleClosed(bus.Context);
            bus.InterfaceDereference(bus.Context);
        }
    }
}

void RefreshPortNames(DeviceExtension* ext, uint32_t refreshes)
{
    NamesGuard names(ext);
    RemovePortNames(ext);
    CreatePortNames(ext);
    PortLock lock(ext);
    lock.Port().EndRename(ext->ComNumber, refreshes);
}

void ConstructPort(DeviceExtension* ext)
{
    KeInitializeSpinLock(&ext->PortLock);
    // The extension is raw pool memory: the objects in it are constructed in place.
    new (&ext->Host) KernelPortHost;
    ext->Host.Initialize(ext);
    new (ext->PortStorage) pta::port::SerialPort(ext->Host, ext->ComNumber);
    ext->PortConstructed = true;
}

// After removal let every request go: nothing is pending any more and no timer runs.
void DestroyPort(DeviceExtension* ext)
{
    if (!ext->PortConstructed) return;
    ext->Host.StopTimerThread();
    PortLock lock(ext);
    lock.Port().~SerialPort();
    ext->PortConstructed = false;
}

ULONG ReadPortState(DeviceExtension* ext)
{
    PortLock lock(ext);
    return lock.Port().State();
}

void SetPortPoweredDown(DeviceExtension* ext, bool poweredDown)
{
    PortLock lock(ext);
    lock.Port().SetPoweredDown(poweredDown);
}

NTSTATUS StartPort(DeviceExtension* ext)
{
    // A start while the port exists (a repeated start) keeps what is there.
    if (ReadPortState(ext) != pta::PORT_ABSENT) return STATUS_SUCCESS;
    const uint32_t units = pta::FormatRxQueueName(ext->RxQueueName, ARRAYSIZE(ext->RxQueueName),
                                                  ext->ComName.Buffer,
                                                  ext->ComName.Length / sizeof(WCHAR));
    if (units >= ARRAYSIZE(ext->RxQueueName)) return STATUS_INVALID_PARAMETER;
    NTSTATUS status = ext->Host.StartTimerThread();
    if (!NT_SUCCESS(status)) return status;
    {
        PortLock lock(ext);
        lock.Port().SetComNumber(ext->ComNumber);
        lock.Port().DeviceStart();
    }
    IoGetConfigurationInformation()->SerialCount++;
    return STATUS_SUCCESS;
}

// Only a started port is stopped (the Plug and Play rules decide when): any application
// use ends at once and everything pending completes.
void StopPort(DeviceExtension* ext)
{
    {
        PortLock lock(ext);
        lock.Port().DeviceStop();
    }
    ext->Host.StopTimerThread();
    IoGetConfigurationInformation()->SerialCount--;
    RtlZeroMemory(ext->RxQueueName, sizeof ext->RxQueueName);
}
