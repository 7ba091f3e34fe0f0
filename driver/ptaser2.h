// The port device of the ptaser2 driver: its extension and the routines the dispatch
// files share.
#pragma once

#include <ntddk.h>

#include "bus_contract.h"
#include "link_channel.h"
#include "pnp_rules.h"
#include "port_names.h"
#include "serial_settings.h"
#include "status_codes.h"

// Pool tag "Pts2".
constexpr ULONG kPoolTag = 0x32737450;

// Name flags.
constexpr ULONG kNameLinkCreated = 0x01;
constexpr ULONG kNameInterfaceEnabled = 0x10;

// Device power states as the extension records them.
constexpr ULONG kPowerD0 = 1;
constexpr ULONG kPowerD3 = 4;

struct DeviceExtension;

// Received bytes waiting for an application read.
struct RxRing {
    ULONG Capacity;
    UCHAR Data[pta::kRxRingCapacity];
    ULONG ReadIndex;
    ULONG WriteIndex;
    KSPIN_LOCK Lock;
    UNICODE_STRING Name;
    WCHAR NameBuffer[24];  // "COM4294967295.RxQ" at most
    DeviceExtension* Owner;
};

struct NotifyEntry {
    LIST_ENTRY Link;
    pta::LinkNotification Note;
};

// The channel to the control program.
struct ControlChannel {
    FAST_MUTEX Mutex;
    UCHAR Attached;
    UCHAR ApplicationOpen;
    PKEVENT NotifyEvent;
    PKEVENT SpareEvent;
    LIST_ENTRY NotifyQueue;
    pta::LinkReport OpenReply;
    KEVENT OpenReplyEvent;
    pta::LinkReport CloseReply;
    KEVENT CloseReplyEvent;
    pta::LinkReport ModemReport;
    pta::LinkReport LinkReport;
    DeviceExtension* Port;
};

struct SerialContext {
    pta::SerialSettings Settings;
    FAST_MUTEX StateMutex;  // guards PortState
    ULONG PortState;
    RxRing* Rx;
};

struct DeviceExtension {
    PDRIVER_OBJECT DriverObject;
    PDEVICE_OBJECT Self;
    PDEVICE_OBJECT Pdo;
    PDEVICE_OBJECT LowerDevice;
    ULONG ChildIndex;
    ULONG ComNumber;
    UNICODE_STRING DeviceName;     // "\DosDevices\ptaser2<index>", zero-terminated
    UNICODE_STRING ComName;        // "COM<n>", zero-terminated: also the SERIALCOMM data
    UNICODE_STRING LinkName;       // "\DosDevices\COM<n>"
    UNICODE_STRING InterfaceName;  // from the interface registration
    ULONG DevicePowerState;
    ULONG PoweredDown;
    PIRP PendingSystemPowerIrp;
    IO_REMOVE_LOCK RemoveLock;
    LONG PnpState;
    LONG PreviousPnpState;  // what a query left behind, restored by its cancel
    ULONG NameFlags;
    SerialContext Serial;
    ControlChannel Channel;
};

inline DeviceExtension* ExtensionOf(PDEVICE_OBJECT device)
{
    return static_cast<DeviceExtension*>(device->DeviceExtension);
}

// Requests.
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information);
NTSTATUS ForwardAndWait(DeviceExtension* ext, PIRP irp);

// Dispatch routines.
extern "C" {
DRIVER_ADD_DEVICE PtaAddDevice;
DRIVER_DISPATCH PtaDispatchCreate;
DRIVER_DISPATCH PtaDispatchClose;
DRIVER_DISPATCH PtaDispatchRead;
DRIVER_DISPATCH PtaDispatchWrite;
DRIVER_DISPATCH PtaDispatchDeviceControl;
DRIVER_DISPATCH PtaDispatchInternalDeviceControl;
DRIVER_DISPATCH PtaDispatchPower;
DRIVER_DISPATCH PtaDispatchPnp;
}

// The bus child's query interface, from `target` (the top of the child's stack).
NTSTATUS QueryBusInterface(PDEVICE_OBJECT target, pta::PtaBusInterface* bus);

// Registry values of the child's hardware key.
NTSTATUS ReadDeviceValue(PDEVICE_OBJECT pdo, PCWSTR name, ULONG type, void* data, ULONG capacity,
                         ULONG* length);

// Names.
NTSTATUS AllocateDeviceName(UNICODE_STRING* name, ULONG childIndex);
NTSTATUS CreatePortNames(DeviceExtension* ext);
void RemovePortNames(DeviceExtension* ext);
void DisableComInterface(DeviceExtension* ext);
void FreeDeviceStrings(DeviceExtension* ext);
void FreeName(UNICODE_STRING* name);

// Port lifecycle.
void InitializeSerialContext(DeviceExtension* ext);
NTSTATUS StartPort(DeviceExtension* ext);
void StopPort(DeviceExtension* ext);
ULONG ReadPortState(DeviceExtension* ext);

// Control channel.
void InitializeChannel(DeviceExtension* ext);
void ReleaseChannel(DeviceExtension* ext);
void PostNotification(DeviceExtension* ext, ULONG code, ULONG value);
void AnnounceModemControl(DeviceExtension* ext);
