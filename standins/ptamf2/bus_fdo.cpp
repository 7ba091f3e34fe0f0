// The bus device: its control interface, its children and its Plug and Play requests.
#include <new>

#include "ptamf2.h"

namespace ptamf2 {

namespace {

class BusLock {
public:
    explicit BusLock(BusExtension* bus) : bus_(bus)
    {
        KeWaitForSingleObject(&bus_->lock, Executive, KernelMode, FALSE, nullptr);
    }
    ~BusLock() { KeReleaseMutex(&bus_->lock, FALSE); }
    BusLock(const BusLock&) = delete;
    BusLock& operator=(const BusLock&) = delete;

private:
    BusExtension* bus_;
};

// The slots that have a child; with dropped ones too when withDropped is set.
SlotSet ChildSlots(const BusExtension* bus, bool withDropped)
{
    SlotSet slots;
    for (ULONG s = 0; s < pta::kPortSlotCount; ++s) {
        const PDEVICE_OBJECT child = bus->children[s];
        if (child && (withDropped || !ChildOf(child)->dropped)) slots.Add(s);
    }
    return slots;
}

// Creates a child for every usable slot that has none (dropped children still hold
// their slot until removed). Returns whether any was created. Under the bus lock.
bool AddMissingChildren(BusExtension* bus)
{
    bool added = false;
    const SlotSet wanted = bus->config.ToReport(ChildSlots(bus, true));
    for (ULONG s = wanted.Next(0); s != SlotSet::kNone; s = wanted.Next(s + 1)) {
        bus->children[s] = CreateChild(bus, s, bus->config.ComNumber(s));
        added = added || bus->children[s] != nullptr;
    }
    return added;
}

// Marks the children of slots whose subkey is gone as dropped. Children Plug and Play
// never saw are deleted at once; the others become removals due, counted before the
// relations change so that their removal cannot overtake the count. Returns whether any
// reported child was dropped. Under the bus lock.
bool DropGoneChildren(BusExtension* bus)
{
    ULONG due = 0;
    const SlotSet gone = bus->config.ToDrop(ChildSlots(bus, false));
    for (ULONG s = gone.Next(0); s != SlotSet::kNone; s = gone.Next(s + 1)) {
        ChildExtension* child = ChildOf(bus->children[s]);
        child->dropped = true;
        if (child->reported) {
            ++due;
        } else {
            IoDeleteDevice(bus->children[s]);
            bus->children[s] = nullptr;
        }
    }
    KIRQL irql;
    KeAcquireSpinLock(&bus->waitLock, &irql);
    bus->removalsDue += due;
    KeReleaseSpinLock(&bus->waitLock, irql);
    return due != 0;
}

// Reads the slots and brings the children in line with them for one action.
// Returns whether the bus relations changed.
bool SyncChildren(BusExtension* bus, BusAction action)
{
    BusLock hold(bus);
    new (&bus->config) SlotConfig();
    if (!NT_SUCCESS(ReadSlotConfig(&bus->config))) return false;
    switch (action) {
    case BusAction::ReportNewChildren:
        return AddMissingChildren(bus);
    case BusAction::DropGoneChildren:
        return DropGoneChildren(bus);
    default:
        return false;
    }
}

// ---- Remove-ports requests that wait for the removal of the children they dropped.

void CancelRemoveWaiter(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    BusExtension* bus = BusOf(device);
    KIRQL irql;
    KeAcquireSpinLock(&bus->waitLock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&bus->waitLock, irql);
    CompleteIrp(irp, STATUS_CANCELLED);
}

// Takes the waiting requests off the list when no removal is due any more; the caller
// completes them. Under the wait lock.
void TakeWaitersWhenDone(BusExtension* bus, LIST_ENTRY* done)
{
    if (bus->removalsDue != 0) return;
    LIST_ENTRY* entry = bus->removeWaiters.Flink;
    while (entry != &bus->removeWaiters) {
        LIST_ENTRY* next = entry->Flink;
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        // A request whose cancel routine already runs is left to that routine.
        if (IoSetCancelRoutine(irp, nullptr)) {
            RemoveEntryList(entry);
            InsertTailList(done, entry);
        }
        entry = next;
    }
}

void CompleteWaiters(LIST_ENTRY* done)
{
    while (!IsListEmpty(done)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(done), IRP, Tail.Overlay.ListEntry);
        CompleteIrp(irp, STATUS_SUCCESS);
    }
}

// Completes the request now when no removal is due, else queues it until they end.
NTSTATUS WaitForRemovals(BusExtension* bus, PIRP irp)
{
    KIRQL irql;
    KeAcquireSpinLock(&bus->waitLock, &irql);
    if (bus->removalsDue == 0) {
        KeReleaseSpinLock(&bus->waitLock, irql);
        return CompleteIrp(irp, STATUS_SUCCESS);
    }
    IoSetCancelRoutine(irp, CancelRemoveWaiter);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr)) {
        KeReleaseSpinLock(&bus->waitLock, irql);
        return CompleteIrp(irp, STATUS_CANCELLED);
    }
    IoMarkIrpPending(irp);
    InsertTailList(&bus->removeWaiters, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&bus->waitLock, irql);
    return STATUS_PENDING;
}

// ---- Plug and Play of the bus device.

NTSTATUS SignalOnCompletion(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// Passes the request down and takes it back once the lower device has completed it.
NTSTATUS ForwardAndTakeBack(BusExtension* bus, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalOnCompletion, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(bus->lower, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    return irp->IoStatus.Status;
}

NTSTATUS StartBus(BusExtension* bus, PIRP irp)
{
    NTSTATUS status = ForwardAndTakeBack(bus, irp);
    if (NT_SUCCESS(status)) {
        status = IoSetDeviceInterfaceState(&bus->interfaceName, TRUE);
        // The children of the last run are gone: report every configured slot again.
        if (NT_SUCCESS(status) && SyncChildren(bus, BusAction::ReportNewChildren))
            IoInvalidateDeviceRelations(bus->pdo, BusRelations);
    }
    CompleteIrp(irp, status, irp->IoStatus.Information);
    IoReleaseRemoveLock(&bus->removeLock, irp);
    return status;
}

// Answers a bus relations query with every child that is not dropped, after the
// devices a filter above may already have listed.
NTSTATUS ReportRelations(BusExtension* bus, PIRP irp)
{
    BusLock hold(bus);
    const auto* before = reinterpret_cast<PDEVICE_RELATIONS>(irp->IoStatus.Information);
    const ULONG prior = before ? before->Count : 0;
    const ULONG count = prior + ChildSlots(bus, false).Count();
    const SIZE_T bytes = FIELD_OFFSET(DEVICE_RELATIONS, Objects) + sizeof(PDEVICE_OBJECT) * (count ? count : 1);
    auto* relations = static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(PagedPool, bytes, kPoolTag));
    if (!relations) return STATUS_INSUFFICIENT_RESOURCES;
    for (ULONG i = 0; i < prior; ++i) relations->Objects[i] = before->Objects[i];
    relations->Count = prior;
    for (ULONG s = 0; s < pta::kPortSlotCount; ++s) {
        PDEVICE_OBJECT child = bus->children[s];
        if (!child || ChildOf(child)->dropped) continue;
        ObReferenceObject(child);
        ChildOf(child)->reported = true;
        relations->Objects[relations->Count++] = child;
    }
    if (before) ExFreePool(const_cast<PDEVICE_RELATIONS>(before));
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
    return STATUS_SUCCESS;
}

NTSTATUS RemoveBus(BusExtension* bus, PIRP irp)
{
    IoSetDeviceInterfaceState(&bus->interfaceName, FALSE);
    IoReleaseRemoveLockAndWait(&bus->removeLock, irp);

    // Plug and Play has removed the children before the bus: delete them all, and let
    // the waiting remove requests go.
    LIST_ENTRY done;
    InitializeListHead(&done);
    {
        BusLock hold(bus);
        for (ULONG s = 0; s < pta::kPortSlotCount; ++s) {
            if (bus->children[s]) IoDeleteDevice(bus->children[s]);
            bus->children[s] = nullptr;
        }
        KIRQL irql;
        KeAcquireSpinLock(&bus->waitLock, &irql);
        bus->removalsDue = 0;
        TakeWaitersWhenDone(bus, &done);
        KeReleaseSpinLock(&bus->waitLock, irql);
    }
    CompleteWaiters(&done);

    irp->IoStatus.Status = STATUS_SUCCESS;
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(bus->lower, irp);
    IoDetachDevice(bus->lower);
    RtlFreeUnicodeString(&bus->interfaceName);
    IoDeleteDevice(bus->self);
    return status;
}

}  // namespace

NTSTATUS BusPassDown(BusExtension* bus, PIRP irp)
{
    const bool power = IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_POWER;
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = power ? PoCallDriver(bus->lower, irp) : IoCallDriver(bus->lower, irp);
    IoReleaseRemoveLock(&bus->removeLock, irp);
    return status;
}

NTSTATUS AddBusDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT fdo;
    NTSTATUS status = IoCreateDevice(driver, sizeof(BusExtension), nullptr,
                                     FILE_DEVICE_BUS_EXTENDER, FILE_DEVICE_SECURE_OPEN, FALSE, &fdo);
    if (!NT_SUCCESS(status)) return status;

    BusExtension* bus = new (fdo->DeviceExtension) BusExtension();
    bus->role = DeviceRole::Bus;
    bus->self = fdo;
    bus->pdo = pdo;
    IoInitializeRemoveLock(&bus->removeLock, kPoolTag, 0, 0);
    KeInitializeMutex(&bus->lock, 0);
    KeInitializeSpinLock(&bus->waitLock);
    InitializeListHead(&bus->removeWaiters);

    status = IoRegisterDeviceInterface(pdo, &pta::AsGuid(pta::PtaBusInterfaceGuid), nullptr,
                                       &bus->interfaceName);
    if (NT_SUCCESS(status)) {
        bus->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
        if (!bus->lower) {
            RtlFreeUnicodeString(&bus->interfaceName);
            status = STATUS_NO_SUCH_DEVICE;
        }
    }
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(fdo);
        return status;
    }
    fdo->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS BusPnp(BusExtension* bus, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return StartBus(bus, irp);
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (stack->Parameters.QueryDeviceRelations.Type == BusRelations) {
            const NTSTATUS status = ReportRelations(bus, irp);
            if (!NT_SUCCESS(status)) {
                CompleteIrp(irp, status, irp->IoStatus.Information);
                IoReleaseRemoveLock(&bus->removeLock, irp);
                return status;
            }
            irp->IoStatus.Status = status;
        }
        break;
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_SURPRISE_REMOVAL:
        IoSetDeviceInterfaceState(&bus->interfaceName, FALSE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE:
        return RemoveBus(bus, irp);
    default:
        break;
    }
    return BusPassDown(bus, irp);
}

NTSTATUS BusControlRequest(BusExtension* bus, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const auto& ioctl = stack->Parameters.DeviceIoControl;
    ControlDecision decision;
    {
        BusLock hold(bus);
        decision = bus->control.Decide(ioctl.IoControlCode, irp->AssociatedIrp.SystemBuffer,
                                       ioctl.InputBufferLength, ioctl.OutputBufferLength);
    }
    if (decision.verdict != Verdict::Success) return CompleteIrp(irp, StatusOf(decision.verdict));

    if (decision.action != BusAction::None && SyncChildren(bus, decision.action))
        IoInvalidateDeviceRelations(bus->pdo, BusRelations);
    // Removing ports succeeds once Plug and Play has removed the children it dropped.
    if (decision.action == BusAction::DropGoneChildren) return WaitForRemovals(bus, irp);
    return CompleteIrp(irp, STATUS_SUCCESS, decision.outputBytes);
}

void NoteChildRemoved(BusExtension* bus, ChildExtension* child, bool* deleteIt)
{
    // A child that is still reported stays (it may be started again); a dropped one
    // leaves its slot and is deleted.
    LIST_ENTRY done;
    InitializeListHead(&done);
    {
        BusLock hold(bus);
        *deleteIt = child->dropped;
        if (!child->dropped) return;
        if (bus->children[child->slot] == child->self) bus->children[child->slot] = nullptr;
        KIRQL irql;
        KeAcquireSpinLock(&bus->waitLock, &irql);
        if (bus->removalsDue != 0) --bus->removalsDue;
        TakeWaitersWhenDone(bus, &done);
        KeReleaseSpinLock(&bus->waitLock, irql);
    }
    CompleteWaiters(&done);
}

}  // namespace ptamf2
