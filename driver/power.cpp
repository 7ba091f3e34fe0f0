// Power requests. A system set-power becomes a device set-power for the matching device
// state (D0 while the system works, D3 otherwise); everything else goes down as it is.
// Wine sends no system power requests, so the device request (which Wine's host cannot
// issue) is reached only on Windows.
#include "ptaser2.h"

namespace {

NTSTATUS PassDownPower(DeviceExtension* ext, PIRP irp)
{
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = PoCallDriver(ext->LowerDevice, irp);
    IoReleaseRemoveLock(&ext->RemoveLock, irp);
    return status;
}

// Ends the system request that waited for its device request.
void FinishSystemRequest(DeviceExtension* ext, PIRP systemIrp, NTSTATUS status)
{
    ext->PendingSystemPowerIrp = nullptr;
    systemIrp->IoStatus.Status = status;
    PoStartNextPowerIrp(systemIrp);
    IoCompleteRequest(systemIrp, IO_NO_INCREMENT);
    IoReleaseRemoveLock(&ext->RemoveLock, systemIrp);
}

extern "C" VOID NTAPI DevicePowerDone(PDEVICE_OBJECT device, UCHAR, POWER_STATE state, PVOID context,
                                      PIO_STATUS_BLOCK ioStatus)
{
    DeviceExtension* ext = ExtensionOf(device);
    if (NT_SUCCESS(ioStatus->Status)) {
        PoSetPowerState(device, DevicePowerState, state);
        ext->DevicePowerState = state.DeviceState == PowerDeviceD0 ? kPowerD0 : kPowerD3;
    }
    FinishSystemRequest(ext, static_cast<PIRP>(context), ioStatus->Status);
}

extern "C" NTSTATUS NTAPI SystemPowerDone(PDEVICE_OBJECT device, PIRP irp, PVOID)
{
    DeviceExtension* ext = ExtensionOf(device);
    if (!NT_SUCCESS(irp->IoStatus.Status)) {
        PoStartNextPowerIrp(irp);
        IoReleaseRemoveLock(&ext->RemoveLock, irp);
        return STATUS_CONTINUE_COMPLETION;
    }

    const SYSTEM_POWER_STATE system =
        IoGetCurrentIrpStackLocation(irp)->Parameters.Power.State.SystemState;
    POWER_STATE target;
    if (system == PowerSystemWorking) {
        target.DeviceState = PowerDeviceD0;
        ext->PoweredDown = 0;
    } else {
        target.DeviceState = PowerDeviceD3;
        ext->PoweredDown = 1;
    }
    SetPortPoweredDown(ext, ext->PoweredDown != 0);
    ext->PendingSystemPowerIrp = irp;
    const NTSTATUS status =
        PoRequestPowerIrp(ext->Pdo, IRP_MN_SET_POWER, target, DevicePowerDone, irp, nullptr);
    if (!NT_SUCCESS(status)) {
        FinishSystemRequest(ext, irp, status);
    }
    // The system request now completes from DevicePowerDone (or has just completed).
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

extern "C" NTSTATUS NTAPI PtaDispatchPower(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceExtension* ext = ExtensionOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&ext->RemoveLock, irp);
    if (!NT_SUCCESS(status)) {
        PoStartNextPowerIrp(irp);
        return CompleteRequest(irp, status, 0);
    }

    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MinorFunction != IRP_MN_SET_POWER || stack->Parameters.Power.Type != SystemPowerState)
        return PassDownPower(ext, irp);

    IoMarkIrpPending(irp);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SystemPowerDone, nullptr, TRUE, TRUE, TRUE);
    PoCallDriver(ext->LowerDevice, irp);
    return STATUS_PENDING;
}
