// Create, close, cleanup, read, write, device control and internal device control (from
// drivers layered on the port) of a port device: each request
// is one call into the serial port model, made under the port lock.
//
// A request the model keeps pending holds the remove lock until it completes and carries
// a cancel routine. Completion and cancellation can meet: the model finishes a request
// (FinishPortCompletion) just as the system takes its cancel routine. Whoever of the two
// comes second completes it, counted in DriverContext[0]; the cancel side keeps the IRP
// alive until the model has let it go, so the model never sees a reused IRP address.
#include "ptaser2.h"

#include <ntddser.h>

using pta::port::IoHandle;
using pta::port::IoRequest;
using pta::port::IoResult;
using pta::port::SerialPort;

NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static_assert(sizeof(SERIAL_BASIC_SETTINGS) == sizeof(pta::SerialBasicSettings),
              "basic settings record matches the system's");
static_assert(IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE == pta::IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE_CODE, "");
static_assert(IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS == pta::IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS_CODE, "");
static_assert(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS == pta::IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS_CODE,
              "");

namespace {

IoRequest* RequestOf(PIRP irp)
{
    return reinterpret_cast<IoRequest*>(irp);
}

IoHandle* HandleOf(PIRP irp)
{
    return reinterpret_cast<IoHandle*>(IoGetCurrentIrpStackLocation(irp)->FileObject);
}

volatile LONG* CompletionTurns(PIRP irp)
{
    return reinterpret_cast<volatile LONG*>(&irp->Tail.Overlay.DriverContext[0]);
}

void CompletePending(DeviceExtension* ext, PIRP irp)
{
    IoCompleteRequest(irp, IO_SERIAL_INCREMENT);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
}

// One of the two sides (the model's completion, the cancellation) is done with the IRP.
void TakeTurn(DeviceExtension* ext, PIRP irp)
{
    if (InterlockedIncrement(CompletionTurns(irp)) == 2) CompletePending(ext, irp);
}

// The cancel routine was taken from the IRP (by the system, or by the dispatch routine
// that found the IRP cancelled as it pended it): the model ends the request, if it still
// holds it, with STATUS_CANCELLED.
void CancelTaken(DeviceExtension* ext, PIRP irp)
{
    {
        PortLock lock(ext);
        lock.Port().Cancel(RequestOf(irp));
    }
    TakeTurn(ext, irp);
}

extern "C" VOID NTAPI PtaCancel(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    CancelTaken(ExtensionOf(device), irp);
}

// Runs `call` on the model under the port lock and settles the request as it decided.
template <typename Call>
NTSTATUS Serve(PDEVICE_OBJECT device, PIRP irp, Call call)
{
    DeviceExtension* ext = ExtensionOf(device);
    NTSTATUS status = AdmitRequest(ext, irp);
    if (!NT_SUCCESS(status)) return CompleteRequest(irp, status, 0);

    IoResult result;
    bool cancelled = false;
    uint32_t refreshes = 0;
    {
        PortLock lock(ext);
        result = call(lock.Port());
        refreshes = ext->Host.TakeRefreshes();
        if (result.status == pta::kStatusPending) {
            IoMarkIrpPending(irp);
            *CompletionTurns(irp) = 0;
            IoSetCancelRoutine(irp, PtaCancel);
            if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
                lock.Port().Cancel(RequestOf(irp));
                cancelled = true;
            }
        }
    }
    // The names change before the request that asked for it completes, under the remove
    // lock it holds.
    if (refreshes != 0) RefreshPortNames(ext, refreshes);
    if (result.status != pta::kStatusPending) {
        CompleteRequest(irp, result.status, result.information);
        IoReleaseRemoveLock(&ext->RemoveLock, irp);
        return result.status;
    }
    if (cancelled) TakeTurn(ext, irp);
    return STATUS_PENDING;
}

bool CarriesEventHandle(ULONG code)
{
    return code == pta::IOCTL_LINK_SET_NOTIFY_EVENT || code == pta::IOCTL_LINK_SET_SPARE_EVENT;
}

}  // namespace

void FinishPortCompletion(DeviceExtension* ext, PIRP irp)
{
    if (IoSetCancelRoutine(irp, nullptr) == nullptr) {
        // Its cancellation is under way; the later of the two completes it.
        TakeTurn(ext, irp);
        return;
    }
    CompletePending(ext, irp);
}

extern "C" NTSTATUS NTAPI PtaDispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const bool directory = (stack->Parameters.Create.Options & FILE_DIRECTORY_FILE) != 0;
    return Serve(device, irp, [&](SerialPort& port) {
        return port.Create(HandleOf(irp), RequestOf(irp), directory);
    });
}

extern "C" NTSTATUS NTAPI PtaDispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    return Serve(device, irp,
                 [&](SerialPort& port) { return port.Close(HandleOf(irp), RequestOf(irp)); });
}

extern "C" NTSTATUS NTAPI PtaDispatchCleanup(PDEVICE_OBJECT device, PIRP irp)
{
    return Serve(device, irp, [&](SerialPort& port) {
        port.Cleanup(HandleOf(irp));
        return IoResult{pta::kStatusSuccess, 0};
    });
}

extern "C" NTSTATUS NTAPI PtaDispatchRead(PDEVICE_OBJECT device, PIRP irp)
{
    const ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
    auto* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    return Serve(device, irp, [&](SerialPort& port) {
        return port.Read(HandleOf(irp), RequestOf(irp), buffer, length);
    });
}

extern "C" NTSTATUS NTAPI PtaDispatchWrite(PDEVICE_OBJECT device, PIRP irp)
{
    const ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
    const auto* data = static_cast<const uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    return Serve(device, irp, [&](SerialPort& port) {
        return port.Write(HandleOf(irp), RequestOf(irp), data, length);
    });
}

extern "C" NTSTATUS NTAPI PtaDispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension* ext = ExtensionOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;

    // An event handle resolves only at passive level, so before the lock is taken; the
    // model takes the object when it accepts it.
    uint64_t handle = 0;
    PKEVENT event = nullptr;
    if (CarriesEventHandle(code) && buffer != nullptr && inputLength >= pta::kEventHandleSize) {
        RtlCopyMemory(&handle, buffer, sizeof handle);
        event = ReferenceCallerEvent(handle, irp->RequestorMode);
    }
    // Whatever the model did not take (refused, or never reached) is released here.
    PKEVENT unused = event;
    const NTSTATUS status = Serve(device, irp, [&](SerialPort& port) {
        if (event != nullptr) ext->Host.OfferEvent(handle, event);
        const IoResult result = port.DeviceControl(HandleOf(irp), RequestOf(irp), code, buffer,
                                                   inputLength, outputLength);
        unused = ext->Host.TakeOffer();
        return result;
    });
    if (unused != nullptr) ObDereferenceObject(unused);
    return status;
}

extern "C" NTSTATUS NTAPI PtaDispatchInternalDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    return Serve(device, irp, [&](SerialPort& port) {
        return port.InternalDeviceControl(code, buffer, inputLength, outputLength);
    });
}
