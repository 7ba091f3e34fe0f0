// Create, close, read, write and device control of a port device.
#include "ptaser2.h"

NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

extern "C" NTSTATUS NTAPI PtaDispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    if (!NT_SUCCESS(status)) return CompleteRequest(irp, status, 0);
    CompleteRequest(irp, STATUS_SUCCESS, 0);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return STATUS_SUCCESS;
}

// A handle closed while the channel is not attached: the bus learns that its child's
// handle is gone.
extern "C" NTSTATUS NTAPI PtaDispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    if (!NT_SUCCESS(status)) return CompleteRequest(irp, status, 0);

    ExAcquireFastMutex(&ext->Channel.Mutex);
    const bool attached = ext->Channel.Attached != 0;
    ExReleaseFastMutex(&ext->Channel.Mutex);
    if (!attached) {
        pta::PtaBusInterface bus;
        if (NT_SUCCESS(QueryBusInterface(ext->LowerDevice, &bus))) {
            if (bus.ChildHandleClosed != nullptr) bus.ChildHandleClosed(bus.Context);
            bus.InterfaceDereference(bus.Context);
        }
    }
    CompleteRequest(irp, STATUS_SUCCESS, 0);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return STATUS_SUCCESS;
}

// Reads complete at once with no data and writes are taken and dropped until the data
// path is served.
static NTSTATUS CompleteEmpty(PDEVICE_OBJECT device, PIRP irp, bool write)
{
    DeviceExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    if (!NT_SUCCESS(status)) return CompleteRequest(irp, status, 0);
    const ULONG length =
        write ? IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length : 0;
    CompleteRequest(irp, STATUS_SUCCESS, length);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI PtaDispatchRead(PDEVICE_OBJECT device, PIRP irp)
{
    return CompleteEmpty(device, irp, false);
}

extern "C" NTSTATUS NTAPI PtaDispatchWrite(PDEVICE_OBJECT device, PIRP irp)
{
    return CompleteEmpty(device, irp, true);
}

// Re-reads PortName and renames the port, only while no application holds it.
static NTSTATUS RefreshNames(DeviceExtension* ext, ULONG inputLength)
{
    if (inputLength < sizeof(ULONG)) return STATUS_INVALID_PARAMETER;
    if (ReadPortState(ext) != pta::PORT_CLOSED) return STATUS_SUCCESS;
    RemovePortNames(ext);
    return CreatePortNames(ext);
}

extern "C" NTSTATUS NTAPI PtaDispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    if (!NT_SUCCESS(status)) return CompleteRequest(irp, status, 0);

    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    status = STATUS_SUCCESS;
    if (code == pta::IOCTL_LINK_REFRESH_NAMES) status = RefreshNames(ext, inputLength);

    CompleteRequest(irp, status, 0);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return status;
}
