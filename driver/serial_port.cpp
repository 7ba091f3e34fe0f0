// Starting and stopping a port: its receive ring, the system's serial port count and
// the PortState that tells the rest of the driver whether the port exists.
#include "ptaser2.h"

void InitializeSerialContext(DeviceExtension* ext)
{
    RtlZeroMemory(&ext->Serial, sizeof ext->Serial);
    ExInitializeFastMutex(&ext->Serial.StateMutex);
    ext->Serial.PortState = pta::PORT_ABSENT;
}

ULONG ReadPortState(DeviceExtension* ext)
{
    ExAcquireFastMutex(&ext->Serial.StateMutex);
    const ULONG state = ext->Serial.PortState;
    ExReleaseFastMutex(&ext->Serial.StateMutex);
    return state;
}

static void SetPortState(DeviceExtension* ext, ULONG state)
{
    ExAcquireFastMutex(&ext->Serial.StateMutex);
    ext->Serial.PortState = state;
    ExReleaseFastMutex(&ext->Serial.StateMutex);
}

static RxRing* CreateRxRing(DeviceExtension* ext)
{
    // The ring is used under its spin lock, at dispatch level: non-paged.
    auto* ring = static_cast<RxRing*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(RxRing), kPoolTag));
    if (ring == nullptr) return nullptr;
    RtlZeroMemory(ring, sizeof *ring);
    ring->Capacity = pta::kRxRingCapacity;
    KeInitializeSpinLock(&ring->Lock);
    ring->Owner = ext;
    const uint32_t units = pta::FormatRxQueueName(ring->NameBuffer, ARRAYSIZE(ring->NameBuffer),
                                                  ext->ComName.Buffer,
                                                  ext->ComName.Length / sizeof(WCHAR));
    if (units >= ARRAYSIZE(ring->NameBuffer)) {
        ExFreePoolWithTag(ring, kPoolTag);
        return nullptr;
    }
    ring->Name.Buffer = ring->NameBuffer;
    ring->Name.Length = static_cast<USHORT>(units * sizeof(WCHAR));
    ring->Name.MaximumLength = sizeof ring->NameBuffer;
    return ring;
}

NTSTATUS StartPort(DeviceExtension* ext)
{
    // A start while the port exists (a repeated start) keeps what is there.
    if (ReadPortState(ext) != pta::PORT_ABSENT) return STATUS_SUCCESS;
    RtlZeroMemory(&ext->Serial.Settings, sizeof ext->Serial.Settings);
    ReleaseChannel(ext);
    InitializeChannel(ext);
    ext->Serial.Rx = CreateRxRing(ext);
    if (ext->Serial.Rx == nullptr) {
        SetPortState(ext, pta::PORT_ABSENT);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetConfigurationInformation()->SerialCount++;
    SetPortState(ext, pta::PORT_CLOSED);
    return STATUS_SUCCESS;
}

// Only a started port is stopped (the Plug and Play rules decide when). Whatever the
// channel held goes with it.
void StopPort(DeviceExtension* ext)
{
    SetPortState(ext, pta::PORT_ABSENT);
    ReleaseChannel(ext);
    IoGetConfigurationInformation()->SerialCount--;
    if (ext->Serial.Rx != nullptr) ExFreePoolWithTag(ext->Serial.Rx, kPoolTag);
    ext->Serial.Rx = nullptr;
}
