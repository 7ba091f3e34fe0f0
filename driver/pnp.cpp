// Plug and Play requests of a port device.
#include "ptaser2.h"

#include "hardware_ids.h"

namespace {

extern "C" NTSTATUS NTAPI SignalDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS PassDown(DeviceExtension* ext, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->LowerDevice, irp);
}

pta::PnpStates StatesOf(const DeviceExtension* ext)
{
    return {ext->PnpState, ext->PreviousPnpState};
}

void SetStates(DeviceExtension* ext, pta::PnpStates states)
{
    ext->PnpState = states.current;
    ext->PreviousPnpState = states.previous;
}

NTSTATUS StartDevice(DeviceExtension* ext, PIRP irp)
{
    NTSTATUS status = ForwardAndWait(ext, irp);
    if (NT_SUCCESS(status)) {
        status = StartPort(ext);
        if (NT_SUCCESS(status)) SetStates(ext, {pta::PNP_STARTED, pta::PNP_STARTED});
    }
    return CompleteRequest(irp, status, irp->IoStatus.Information);
}

// The lower drivers answer first; the serial port id then goes to the end of their list.
NTSTATUS QueryHardwareIds(DeviceExtension* ext, PIRP irp)
{
    ULONG multiport = 0;
    ULONG length = 0;
    NTSTATUS status = ReadDeviceValue(ext->Pdo, PTA_WIDEN(PTA_MULTIPORT_VALUE), REG_DWORD, &multiport,
                                      sizeof multiport, &length);
    if (NT_SUCCESS(status) && length != sizeof multiport) status = STATUS_INVALID_PARAMETER;
    if (!NT_SUCCESS(status)) return CompleteRequest(irp, status, irp->IoStatus.Information);

    status = ForwardAndWait(ext, irp);
    auto* list = reinterpret_cast<PWCH>(irp->IoStatus.Information);
    if (status == STATUS_NOT_SUPPORTED) {
        list = nullptr;  // nobody below answered: the id becomes the only entry
    } else if (!NT_SUCCESS(status)) {
        return CompleteRequest(irp, status, irp->IoStatus.Information);
    }

    const pta::Utf16Char* id = pta::SerialPortHardwareId(multiport);
    const uint32_t units = pta::AppendedMultiSzUnits(list, id);
    PWCH edited = nullptr;
    if (units == 0) {
        status = STATUS_INVALID_PARAMETER;
    } else {
        edited = static_cast<PWCH>(ExAllocatePoolWithTag(PagedPool, units * sizeof(WCHAR), kPoolTag));
        status = edited != nullptr ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
    }
    if (!NT_SUCCESS(status)) {
        // Nobody frees a list handed up with a failure: it goes here.
        if (list != nullptr) ExFreePool(list);
        return CompleteRequest(irp, status, 0);
    }

    pta::AppendToMultiSz(edited, units, list, id);
    // The list handed up is freed by the Plug and Play manager, with ExFreePool.
    if (list != nullptr) ExFreePool(list);
    return CompleteRequest(irp, STATUS_SUCCESS, reinterpret_cast<ULONG_PTR>(edited));
}

pta::PnpRequest RequestOf(UCHAR minor)
{
    switch (minor) {
    case IRP_MN_QUERY_STOP_DEVICE: return pta::PnpRequest::QueryStop;
    case IRP_MN_CANCEL_STOP_DEVICE: return pta::PnpRequest::CancelStop;
    case IRP_MN_STOP_DEVICE: return pta::PnpRequest::Stop;
    case IRP_MN_QUERY_REMOVE_DEVICE: return pta::PnpRequest::QueryRemove;
    case IRP_MN_CANCEL_REMOVE_DEVICE: return pta::PnpRequest::CancelRemove;
    case IRP_MN_SURPRISE_REMOVAL: return pta::PnpRequest::SurpriseRemoval;
    default: return pta::PnpRequest::Remove;
    }
}

// Stop and remove requests, as the state rules decide. Removal also waits for every
// request in flight, then takes the device apart.
NTSTATUS StopOrRemove(DeviceExtension* ext, PIRP irp, UCHAR minor)
{
    const pta::PnpDecision d = pta::DecidePnp(RequestOf(minor), StatesOf(ext), ReadPortState(ext));
    if (!d.passDown) {
        CompleteRequest(irp, d.status, 0);
        IoReleaseRemoveLock(&ext->RemoveLock, irp);
        return d.status;
    }
    {
        // No name refresh runs between the interface going and the port stopping.
        NamesGuard names(ext);
        if (d.disableInterface) DisableComInterface(ext);
        if (d.stopPort) StopPort(ext);
    }
    SetStates(ext, d.next);
    if (d.setStatus) irp->IoStatus.Status = d.status;

    if (minor != IRP_MN_REMOVE_DEVICE) {
        const NTSTATUS status = PassDown(ext, irp);
        IoReleaseRemoveLock(&ext->RemoveLock, irp);
        return status;
    }

    IoReleaseRemoveLockAndWait(&ext->RemoveLock, irp);
    DestroyPort(ext);
    {
        NamesGuard names(ext);
        RemovePortNames(ext);
    }
    FreeDeviceStrings(ext);
    PDEVICE_OBJECT lower = ext->LowerDevice;
    const NTSTATUS status = PassDown(ext, irp);
    IoDetachDevice(lower);
    IoDeleteDevice(ext->Self);
    return status;
}

}  // namespace

NTSTATUS ForwardAndWait(DeviceExtension* ext, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(ext->LowerDevice, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
    }
    return status;
}

extern "C" NTSTATUS NTAPI PtaDispatchPnp(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    if (!NT_SUCCESS(status)) return CompleteRequest(irp, status, irp->IoStatus.Information);

    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const UCHAR minor = stack->MinorFunction;
    switch (minor) {
    case IRP_MN_START_DEVICE:
        status = StartDevice(ext, irp);
        break;
    case IRP_MN_QUERY_CAPABILITIES:
        status = ForwardAndWait(ext, irp);
        CompleteRequest(irp, status, irp->IoStatus.Information);
        break;
    case IRP_MN_QUERY_ID:
        if (stack->Parameters.QueryId.IdType == BusQueryHardwareIDs) {
            status = QueryHardwareIds(ext, irp);
        } else {
            if (stack->Parameters.QueryId.IdType == BusQueryCompatibleIDs)
                irp->IoStatus.Status = STATUS_SUCCESS;
            status = PassDown(ext, irp);
        }
        break;
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
        // These release the remove lock themselves: removal must, before it waits.
        return StopOrRemove(ext, irp, minor);
    default:
        status = PassDown(ext, irp);
        break;
    }
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return status;
}
