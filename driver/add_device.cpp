// Add device: one port device per bus child, named after the child's index and given
// its COM names at once.
#include "ptaser2.h"

namespace {

// The child's index from the bus. The interface reference taken by the query is
// released whatever GetChildInfo answers.
NTSTATUS GetChildIndex(PDEVICE_OBJECT pdo, ULONG* index)
{
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(pdo);
    pta::PtaBusInterface bus;
    NTSTATUS status = QueryBusInterface(top, &bus);
    ObDereferenceObject(top);
    if (!NT_SUCCESS(status)) return STATUS_NO_MORE_ENTRIES;

    pta::BusChildInfo info;
    RtlZeroMemory(&info, sizeof info);
    const BOOLEAN known = bus.GetChildInfo(bus.Context, &info);
    bus.InterfaceDereference(bus.Context);
    // Without the magic the index means nothing, and the device could not be named.
    if (!known || info.Magic != pta::kBusChildMagic) return STATUS_NO_MORE_ENTRIES;
    *index = info.ChildIndex;
    return STATUS_SUCCESS;
}

// Undoes everything add device did after the device object was created.
void DiscardDevice(DeviceExtension* ext)
{
    RemovePortNames(ext);
    FreeDeviceStrings(ext);
    if (ext->LowerDevice != nullptr) IoDetachDevice(ext->LowerDevice);
    IoDeleteDevice(ext->Self);
}

}  // namespace

extern "C" NTSTATUS NTAPI PtaAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    if (pdo == nullptr) return STATUS_NO_MORE_ENTRIES;

    ULONG index = 0;
    NTSTATUS status = GetChildIndex(pdo, &index);
    if (!NT_SUCCESS(status)) return status;

    UNICODE_STRING deviceName;
    status = AllocateDeviceName(&deviceName, index);
    if (!NT_SUCCESS(status)) return status;

    PDEVICE_OBJECT device = nullptr;
    status = IoCreateDevice(driver, sizeof(DeviceExtension), &deviceName, FILE_DEVICE_SERIAL_PORT,
                            FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        FreeName(&deviceName);
        return status;
    }

    DeviceExtension* ext = ExtensionOf(device);
    RtlZeroMemory(ext, sizeof *ext);
    ext->DriverObject = driver;
    ext->Self = device;
    ext->Pdo = pdo;
    ext->DeviceName = deviceName;
    ext->ChildIndex = index;
    KeInitializeEvent(&ext->NamesLock, SynchronizationEvent, TRUE);

    ext->DevicePowerState = kPowerD0;
    POWER_STATE power;
    power.DeviceState = PowerDeviceD0;
    PoSetPowerState(device, DevicePowerState, power);
    ext->PoweredDown = 0;

    ext->LowerDevice = IoAttachDeviceToDeviceStack(device, pdo);
    if (ext->LowerDevice == nullptr) {
        DiscardDevice(ext);
        return STATUS_DEVICE_REMOVED;
    }
    IoInitializeRemoveLock(&ext->RemoveLock, 0, 0, 0);
    ext->PnpState = pta::PNP_NOT_STARTED;
    ext->PreviousPnpState = pta::PNP_NOT_STARTED;

    {
        NamesGuard names(ext);
        status = CreatePortNames(ext);
    }
    if (!NT_SUCCESS(status)) {
        DiscardDevice(ext);
        return status;
    }
    ConstructPort(ext);

    device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    InterlockedExchange(&ext->Ready, 1);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
