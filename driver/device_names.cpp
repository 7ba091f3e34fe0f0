// The port's names: the COM symbolic link, the SERIALCOMM value of the device map and
// the COM port device interface, all following the child's PortName value.
#include "ptaser2.h"

#include <initguid.h>
#include <ntddser.h>

namespace {

const WCHAR kSerialCommKey[] = L"SERIALCOMM";

// A zero-terminated name in pool memory, written by a core formatter that reports the
// length it needs when asked with no buffer.
template <typename Format>
NTSTATUS AllocateName(UNICODE_STRING* name, Format format)
{
    RtlZeroMemory(name, sizeof *name);
    const uint32_t units = format(nullptr, 0);
    if (units == 0 || units >= 0x7FFF) return STATUS_INVALID_PARAMETER;
    const USHORT bytes = static_cast<USHORT>((units + 1) * sizeof(WCHAR));
    auto* buffer = static_cast<PWCH>(ExAllocatePoolWithTag(NonPagedPool, bytes, kPoolTag));
    if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    format(buffer, units + 1);
    name->Buffer = buffer;
    name->Length = static_cast<USHORT>(units * sizeof(WCHAR));
    name->MaximumLength = bytes;
    return STATUS_SUCCESS;
}

// Whether the COM link still leads to this device. A second device given the same COM
// name takes the link over; removing this one must then leave it alone. A link whose
// target cannot be read counts as this device's.
bool LinkIsOurs(DeviceExtension* ext)
{
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &ext->LinkName, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE,
                               nullptr, nullptr);
    HANDLE link;
    if (!NT_SUCCESS(ZwOpenSymbolicLinkObject(&link, GENERIC_READ, &attributes))) return true;

    WCHAR buffer[64];
    UNICODE_STRING target;
    target.Buffer = buffer;
    target.Length = 0;
    target.MaximumLength = sizeof buffer;
    const NTSTATUS status = ZwQuerySymbolicLinkObject(link, &target, nullptr);
    ZwClose(link);
    if (!NT_SUCCESS(status)) return status != STATUS_BUFFER_TOO_SMALL;
    return RtlEqualUnicodeString(&target, &ext->DeviceName, TRUE) != FALSE;
}

NTSTATUS CreateComLink(DeviceExtension* ext)
{
    NTSTATUS status = IoCreateSymbolicLink(&ext->LinkName, &ext->DeviceName);
    // The name is taken (a stale link, or another device given the same COM name): this
    // device takes it over. Windows reports a taken name as a collision; Wine opens
    // existing names and reports an existing link as a type mismatch.
    if (status == STATUS_OBJECT_NAME_COLLISION || status == STATUS_OBJECT_TYPE_MISMATCH ||
        status == STATUS_OBJECT_NAME_EXISTS) {
        IoDeleteSymbolicLink(&ext->LinkName);
        status = IoCreateSymbolicLink(&ext->LinkName, &ext->DeviceName);
    }
    return status;
}

// PortName as a COM number. A PortName without digits gives 0; one whose digits do not
// fit in 32 bits, that is longer than 64 units, or that is no string is refused.
NTSTATUS ReadComNumber(DeviceExtension* ext, ULONG* comNumber)
{
    WCHAR portName[pta::kPortNameMaxUnits];
    ULONG length = 0;
    NTSTATUS status = ReadDeviceValue(ext->Pdo, PTA_WIDEN(PTA_PORT_NAME_VALUE), REG_SZ, portName,
                                      sizeof portName, &length);
    if (!NT_SUCCESS(status)) return status;
    const pta::ComNumberResult scan = pta::ScanComNumber(portName, length / sizeof(WCHAR));
    if (scan.scan == pta::ComNumberScan::TooLarge) return STATUS_INVALID_PARAMETER;
    *comNumber = scan.number;
    return STATUS_SUCCESS;
}

}  // namespace

void FreeName(UNICODE_STRING* name)
{
    if (name->Buffer != nullptr) ExFreePoolWithTag(name->Buffer, kPoolTag);
    RtlZeroMemory(name, sizeof *name);
}

NTSTATUS AllocateDeviceName(UNICODE_STRING* name, ULONG childIndex)
{
    return AllocateName(name, [childIndex](PWCH out, uint32_t capacity) {
        return pta::FormatDeviceName(out, capacity, childIndex);
    });
}

NTSTATUS ReadDeviceValue(PDEVICE_OBJECT pdo, PCWSTR name, ULONG type, void* data, ULONG capacity,
                         ULONG* length)
{
    HANDLE key;
    NTSTATUS status = IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
    if (!NT_SUCCESS(status)) return status;

    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    // Room for the largest value read here (PortName, 64 units).
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) + pta::kPortNameMaxUnits * 2];
    } value;
    ULONG resultLength = 0;
    status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, &value, sizeof value,
                             &resultLength);
    ZwClose(key);
    if (status == STATUS_BUFFER_OVERFLOW || status == STATUS_BUFFER_TOO_SMALL)
        return STATUS_INVALID_PARAMETER;
    if (!NT_SUCCESS(status)) return status;
    if (value.info.Type != type || value.info.DataLength > capacity) return STATUS_INVALID_PARAMETER;
    RtlCopyMemory(data, value.info.Data, value.info.DataLength);
    *length = value.info.DataLength;
    return STATUS_SUCCESS;
}

NTSTATUS CreatePortNames(DeviceExtension* ext)
{
    ULONG comNumber = 0;
    NTSTATUS status = ReadComNumber(ext, &comNumber);
    if (!NT_SUCCESS(status)) return status;
    ext->ComNumber = comNumber;

    status = AllocateName(&ext->ComName, [comNumber](PWCH out, uint32_t capacity) {
        return pta::FormatComName(out, capacity, comNumber);
    });
    if (NT_SUCCESS(status)) {
        status = AllocateName(&ext->LinkName, [comNumber](PWCH out, uint32_t capacity) {
            return pta::FormatComLinkName(out, capacity, comNumber);
        });
    }

    if (NT_SUCCESS(status) && !(ext->NameFlags & kNameLinkCreated)) {
        status = CreateComLink(ext);
        if (NT_SUCCESS(status)) ext->NameFlags |= kNameLinkCreated;
    }
    if (NT_SUCCESS(status)) {
        status = RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, kSerialCommKey, ext->DeviceName.Buffer,
                                       REG_SZ, ext->ComName.Buffer, ext->ComName.MaximumLength);
    }
    // The interface is registered once per device; later renames only enable it again.
    if (NT_SUCCESS(status) && ext->InterfaceName.Buffer == nullptr) {
        status = IoRegisterDeviceInterface(ext->Pdo, &GUID_DEVINTERFACE_COMPORT, nullptr,
                                           &ext->InterfaceName);
    }
    if (NT_SUCCESS(status) && !(ext->NameFlags & kNameInterfaceEnabled)) {
        status = IoSetDeviceInterfaceState(&ext->InterfaceName, TRUE);
        if (NT_SUCCESS(status)) ext->NameFlags |= kNameInterfaceEnabled;
    }

    if (!NT_SUCCESS(status)) RemovePortNames(ext);
    return status;
}

void DisableComInterface(DeviceExtension* ext)
{
    if (ext->NameFlags & kNameInterfaceEnabled) IoSetDeviceInterfaceState(&ext->InterfaceName, FALSE);
    ext->NameFlags &= ~kNameInterfaceEnabled;
}

void RemovePortNames(DeviceExtension* ext)
{
    DisableComInterface(ext);
    // The value exists only once the COM name was built.
    if (ext->ComName.Buffer != nullptr && ext->DeviceName.Buffer != nullptr)
        RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, kSerialCommKey, ext->DeviceName.Buffer);
    if ((ext->NameFlags & kNameLinkCreated) && LinkIsOurs(ext)) IoDeleteSymbolicLink(&ext->LinkName);
    ext->NameFlags &= ~kNameLinkCreated;
    FreeName(&ext->ComName);
    FreeName(&ext->LinkName);
}

void FreeDeviceStrings(DeviceExtension* ext)
{
    FreeName(&ext->DeviceName);
    // The interface name was allocated by the system.
    RtlFreeUnicodeString(&ext->InterfaceName);
    RtlZeroMemory(&ext->InterfaceName, sizeof ext->InterfaceName);
}
