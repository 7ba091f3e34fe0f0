// The port device of the ptaser2 driver: its extension and the routines the dispatch
// files share.
#pragma once

#include <ntddk.h>
// The port model has its own MAXULONG32 constant (same value) in its namespace.
#undef MAXULONG32

#include "bus_contract.h"
#include "link_channel.h"
#include "pnp_rules.h"
#include "port_names.h"
#include "serial_port.h"
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

// What the port model asks of the system (port_host.cpp, port_timers.cpp). Every call
// arrives under the port lock, at dispatch level: completions are queued and finished
// once the lock is dropped, and the bus call, which needs passive level, is deferred the
// same way. Name refreshes are run by the dispatch routine of the request that asked.
class KernelPortHost final : public pta::port::PortHost {
public:
    void Initialize(DeviceExtension* ext);

    void* Allocate(size_t bytes) override;
    void Release(void* block) override;
    void Complete(pta::port::IoRequest* request, pta::NtStatus status,
                  uint32_t information) override;
    void StartTimer(pta::port::PortTimer timer, int64_t dueTime) override;
    void CancelTimer(pta::port::PortTimer timer) override;
    int64_t Now() override;
    bool ReferenceEvent(uint64_t handle, pta::port::EventObject** event) override;
    void SignalEvent(pta::port::EventObject* event) override;
    void DereferenceEvent(pta::port::EventObject* event) override;
    void ChildHandleClosed() override { childHandleClosed_ = true; }
    void RefreshNames() override { ++refreshes_; }
    // The name refreshes the model asked for during the current call, for the dispatch
    // routine to run once the port lock is dropped (RefreshPortNames).
    uint32_t TakeRefreshes()
    {
        const uint32_t n = refreshes_;
        refreshes_ = 0;
        return n;
    }

    // An event the dispatch routine resolved at passive level, handed to the model when
    // it asks for that handle; what it does not take comes back from TakeOffer.
    void OfferEvent(uint64_t handle, PKEVENT event);
    PKEVENT TakeOffer();

    // Work gathered under the lock, for the lock's owner to run after dropping it.
    struct Deferred {
        LIST_ENTRY completions;  // IRPs, through Tail.Overlay.ListEntry
        bool childHandleClosed;
    };
    void TakeDeferred(Deferred* out, bool passive);

    // The thread that delivers timer expiries, from start to stop of the port.
    NTSTATUS StartTimerThread();
    void StopTimerThread();

private:
    static void NTAPI TimerThread(PVOID context);
    void RunTimers();

    DeviceExtension* ext_;
    LARGE_INTEGER frequency_;
    LIST_ENTRY completions_;
    bool childHandleClosed_;
    uint32_t refreshes_;
    uint64_t offeredHandle_;
    PKEVENT offeredEvent_;
    // Timers: deadlines on the Now() clock, kept under the port lock.
    bool armed_[pta::port::kPortTimerCount];
    int64_t deadline_[pta::port::kPortTimerCount];
    bool stopping_;
    KEVENT wake_;
    HANDLE thread_;
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
    WCHAR RxQueueName[24];  // "%ws.RxQ" of the COM name while started
    // Serialises every change of the port's names (add device, refresh, stop, removal):
    // a synchronization event used as a mutex at passive level (NamesGuard).
    KEVENT NamesLock;
    // The serial port model, entered only under PortLock (serial_port.cpp).
    KSPIN_LOCK PortLock;
    KernelPortHost Host;
    alignas(16) UCHAR PortStorage[sizeof(pta::port::SerialPort)];
    bool PortConstructed;
    // Set once add device has finished. The device is reachable by name from the moment
    // it is created, and Wine (unlike Windows) lets opens through while it initialises.
    volatile LONG Ready;
};

inline DeviceExtension* ExtensionOf(PDEVICE_OBJECT device)
{
    return static_cast<DeviceExtension*>(device->DeviceExtension);
}

// Admits a request from user mode: refused while the device is still being added, else
// held under the remove lock.
inline NTSTATUS AdmitRequest(DeviceExtension* ext, PIRP irp)
{
    if (InterlockedCompareExchange(&ext->Ready, 0, 0) == 0) return STATUS_DEVICE_NOT_READY;
    return IoAcquireRemoveLock(&ext->RemoveLock, irp);
}

// Requests.
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information);
NTSTATUS ForwardAndWait(DeviceExtension* ext, PIRP irp);

// Dispatch routines.
extern "C" {
DRIVER_ADD_DEVICE PtaAddDevice;
DRIVER_DISPATCH PtaDispatchCreate;
DRIVER_DISPATCH PtaDispatchClose;
DRIVER_DISPATCH PtaDispatchCleanup;
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
// Replaces the port's names after `refreshes` refresh requests of the model, under
// NamesLock, and tells the model; passive level, with the port lock not held.
void RefreshPortNames(DeviceExtension* ext, uint32_t refreshes);

// Holds NamesLock for its scope.
class NamesGuard {
public:
    explicit NamesGuard(DeviceExtension* ext) : ext_(ext)
    {
        KeWaitForSingleObject(&ext_->NamesLock, Executive, KernelMode, FALSE, nullptr);
    }
    ~NamesGuard() { KeSetEvent(&ext_->NamesLock, IO_NO_INCREMENT, FALSE); }
    NamesGuard(const NamesGuard&) = delete;
    NamesGuard& operator=(const NamesGuard&) = delete;

private:
    DeviceExtension* ext_;
};
void DisableComInterface(DeviceExtension* ext);
void FreeDeviceStrings(DeviceExtension* ext);
void FreeName(UNICODE_STRING* name);

// Port lifecycle and the port lock (serial_port.cpp).
void ConstructPort(DeviceExtension* ext);
void DestroyPort(DeviceExtension* ext);
NTSTATUS StartPort(DeviceExtension* ext);
void StopPort(DeviceExtension* ext);
ULONG ReadPortState(DeviceExtension* ext);
void SetPortPoweredDown(DeviceExtension* ext, bool poweredDown);

// Holds the port lock for one entry into the model. Dropping it runs what the model
// left behind: completions, and at passive level the bus and naming calls.
class PortLock {
public:
    explicit PortLock(DeviceExtension* ext);
    ~PortLock() { Release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;
    pta::port::SerialPort& Port();
    void Release();

private:
    DeviceExtension* ext_;
    KIRQL oldIrql_;
    bool held_;
};

// Completes, after the port lock is dropped, an IRP the model has finished; see
// dispatch.cpp for how this meets a cancellation.
void FinishPortCompletion(DeviceExtension* ext, PIRP irp);

// The control program's event handle resolved in the caller's context (event_objects.cpp).
PKEVENT ReferenceCallerEvent(uint64_t handle, KPROCESSOR_MODE mode);
