// The bus driver's device records and the routines its files share.
#pragma once

#include <ntddk.h>

#include "core/bus_control.h"
#include "core/slot_config.h"

namespace ptamf2 {

// Pool tag "Ptmf" (read in memory order).
constexpr ULONG kPoolTag = 0x666D7450;

enum class DeviceRole : ULONG { Bus, Child };

struct BusExtension;

// The extension of a child device (one per reported slot).
struct ChildExtension {
    DeviceRole role;  // first in both extensions: tells the dispatch routines apart
    PDEVICE_OBJECT self;
    BusExtension* bus;
    ULONG slot;
    ULONG comNumber;
    bool reported;  // handed to Plug and Play in a bus relations answer
    bool dropped;   // no longer reported: deleted at its next remove request
};

// The extension of the bus device (the function device on the root-enumerated device).
struct BusExtension {
    DeviceRole role;
    PDEVICE_OBJECT self;
    PDEVICE_OBJECT pdo;
    PDEVICE_OBJECT lower;
    UNICODE_STRING interfaceName;  // the control interface
    IO_REMOVE_LOCK removeLock;

    // Guards everything below up to the wait list. A mutex, not a spin lock: the
    // registry is read and written under it, at passive level.
    KMUTEX lock;
    BusControl control;
    SlotConfig config;  // scratch for the registry scan
    PDEVICE_OBJECT children[pta::kPortSlotCount];  // per slot, dropped ones until removed

    // Remove-ports requests wait here until the children they dropped are removed.
    KSPIN_LOCK waitLock;
    LIST_ENTRY removeWaiters;
    ULONG removalsDue;  // dropped children that Plug and Play has yet to remove
};

inline BusExtension* BusOf(PDEVICE_OBJECT device)
{
    return static_cast<BusExtension*>(device->DeviceExtension);
}
inline ChildExtension* ChildOf(PDEVICE_OBJECT device)
{
    return static_cast<ChildExtension*>(device->DeviceExtension);
}

NTSTATUS StatusOf(Verdict verdict);
NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information = 0);

// The bus device (bus_fdo.cpp).
NTSTATUS AddBusDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);
NTSTATUS BusPnp(BusExtension* bus, PIRP irp);
NTSTATUS BusControlRequest(BusExtension* bus, PIRP irp);
NTSTATUS BusPassDown(BusExtension* bus, PIRP irp);
void NoteChildRemoved(BusExtension* bus, ChildExtension* child, bool* deleteIt);

// Child devices (child_pdo.cpp).
PDEVICE_OBJECT CreateChild(BusExtension* bus, ULONG slot, ULONG comNumber);
NTSTATUS ChildPnp(ChildExtension* child, PIRP irp);

// The registry (slot_registry.cpp).
NTSTATUS ReadSlotConfig(SlotConfig* config);
NTSTATUS WriteChildKeys(ULONG slot, ULONG comNumber);

}  // namespace ptamf2
