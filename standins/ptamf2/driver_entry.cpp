// Driver entry and request routing: each request goes to the bus device or to a child.
#include "ptamf2.h"

namespace ptamf2 {

NTSTATUS StatusOf(Verdict verdict)
{
    static const NTSTATUS kStatus[] = {
        STATUS_SUCCESS,           // Success
        STATUS_INVALID_PARAMETER, // InvalidParameter
        STATUS_BUFFER_TOO_SMALL,  // BufferTooSmall
        STATUS_DEVICE_BUSY,       // Busy
        STATUS_NOT_SUPPORTED,     // NotSupported
        STATUS_INVALID_DEVICE_REQUEST,  // InvalidDeviceRequest
    };
    const ULONG i = static_cast<ULONG>(verdict);
    return i < sizeof(kStatus) / sizeof(kStatus[0]) ? kStatus[i] : STATUS_UNSUCCESSFUL;
}

NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

namespace {

bool IsBus(PDEVICE_OBJECT device)
{
    return *static_cast<DeviceRole*>(device->DeviceExtension) == DeviceRole::Bus;
}

// Runs a bus request under the bus's remove lock; a request after removal fails.
template <typename Handler>
NTSTATUS WithBusLock(PDEVICE_OBJECT device, PIRP irp, Handler handler)
{
    BusExtension* bus = BusOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&bus->removeLock, irp);
    if (!NT_SUCCESS(status)) {
        if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_POWER)
            PoStartNextPowerIrp(irp);
        return CompleteIrp(irp, status);
    }
    return handler(bus);
}

NTSTATUS DispatchCreateClose(PDEVICE_OBJECT, PIRP irp)
{
    return CompleteIrp(irp, STATUS_SUCCESS);
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    if (!IsBus(device)) return CompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
    return WithBusLock(device, irp, [irp](BusExtension* bus) {
        const NTSTATUS status = BusControlRequest(bus, irp);
        IoReleaseRemoveLock(&bus->removeLock, irp);
        return status;
    });
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp)
{
    if (!IsBus(device)) return ChildPnp(ChildOf(device), irp);
    // BusPnp releases the remove lock itself (at removal it waits on it).
    return WithBusLock(device, irp, [irp](BusExtension* bus) { return BusPnp(bus, irp); });
}

NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp)
{
    if (IsBus(device)) {
        return WithBusLock(device, irp, [irp](BusExtension* bus) {
            PoStartNextPowerIrp(irp);
            return BusPassDown(bus, irp);
        });
    }
    // A child has no hardware: every power state is granted at once.
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = irp->IoStatus.Status;
    if (stack->MinorFunction == IRP_MN_SET_POWER || stack->MinorFunction == IRP_MN_QUERY_POWER)
        status = STATUS_SUCCESS;
    PoStartNextPowerIrp(irp);
    return CompleteIrp(irp, status, irp->IoStatus.Information);
}

// Requests the bus does not serve itself: the bus passes them down, a child leaves them
// as they came.
NTSTATUS DispatchOther(PDEVICE_OBJECT device, PIRP irp)
{
    if (IsBus(device)) {
        return WithBusLock(device, irp, [irp](BusExtension* bus) {
            return BusPassDown(bus, irp);
        });
    }
    return CompleteIrp(irp, irp->IoStatus.Status, irp->IoStatus.Information);
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    return AddBusDevice(driver, pdo);
}

void Unload(PDRIVER_OBJECT) {}

}  // namespace
}  // namespace ptamf2

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    using namespace ptamf2;
    driver->DriverUnload = Unload;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DispatchOther;
    return STATUS_SUCCESS;
}
