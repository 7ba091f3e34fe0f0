// Internal device control: requests from drivers layered on top of the port (a serial
// mouse or modem driver saving, zeroing and restoring the settings).
#include "ptaser2.h"

#include <ntddser.h>

static_assert(sizeof(SERIAL_BASIC_SETTINGS) == sizeof(pta::SerialBasicSettings),
              "basic settings record matches the system's");
static_assert(IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE == pta::IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE_CODE, "");
static_assert(IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS == pta::IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS_CODE, "");
static_assert(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS == pta::IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS_CODE,
              "");

extern "C" NTSTATUS NTAPI PtaDispatchInternalDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    if (!NT_SUCCESS(status)) return CompleteRequest(irp, status, 0);

    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const pta::InternalResult result = pta::HandleInternalSerialRequest(
        stack->Parameters.DeviceIoControl.IoControlCode, ext->Serial.Settings, ReadPortState(ext),
        irp->AssociatedIrp.SystemBuffer, stack->Parameters.DeviceIoControl.InputBufferLength,
        stack->Parameters.DeviceIoControl.OutputBufferLength);
    if (result.handflowApplied) AnnounceModemControl(ext);

    CompleteRequest(irp, result.status, 0);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return result.status;
}
