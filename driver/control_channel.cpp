// The control channel's resources: its lock, the notification queue and the events the
// control program registered.
#include "ptaser2.h"

void InitializeChannel(DeviceExtension* ext)
{
    ControlChannel& ch = ext->Channel;
    RtlZeroMemory(&ch, sizeof ch);
    ExInitializeFastMutex(&ch.Mutex);
    InitializeListHead(&ch.NotifyQueue);
    KeInitializeEvent(&ch.OpenReplyEvent, NotificationEvent, FALSE);
    KeInitializeEvent(&ch.CloseReplyEvent, NotificationEvent, FALSE);
    ch.Port = ext;
}

// Drops queued notifications and the registered events, detaching the channel.
void ReleaseChannel(DeviceExtension* ext)
{
    ControlChannel& ch = ext->Channel;
    ExAcquireFastMutex(&ch.Mutex);
    while (!IsListEmpty(&ch.NotifyQueue)) {
        PLIST_ENTRY entry = RemoveHeadList(&ch.NotifyQueue);
        ExFreePoolWithTag(CONTAINING_RECORD(entry, NotifyEntry, Link), kPoolTag);
    }
    PKEVENT events[2] = {ch.NotifyEvent, ch.SpareEvent};
    ch.NotifyEvent = nullptr;
    ch.SpareEvent = nullptr;
    ch.Attached = 0;
    ch.ApplicationOpen = 0;
    ExReleaseFastMutex(&ch.Mutex);
    for (PKEVENT event : events) {
        if (event != nullptr) ObDereferenceObject(event);
    }
}

// Queues a notification and signals the control program. Out of memory loses it.
void PostNotification(DeviceExtension* ext, ULONG code, ULONG value)
{
    ControlChannel& ch = ext->Channel;
    auto* entry = static_cast<NotifyEntry*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(NotifyEntry),
                                                                  kPoolTag));
    if (entry == nullptr) return;
    entry->Note.Code = code;
    entry->Note.Value = value;

    ExAcquireFastMutex(&ch.Mutex);
    InsertTailList(&ch.NotifyQueue, &entry->Link);
    PKEVENT event = ch.NotifyEvent;
    if (event != nullptr) ObReferenceObject(event);
    ExReleaseFastMutex(&ch.Mutex);

    if (event != nullptr) {
        KeSetEvent(event, IO_NO_INCREMENT, FALSE);
        ObDereferenceObject(event);
    }
}

// DTR and RTS go to the control program only while it serves an open application.
void AnnounceModemControl(DeviceExtension* ext)
{
    ExAcquireFastMutex(&ext->Channel.Mutex);
    const bool attached = ext->Channel.Attached != 0;
    ExReleaseFastMutex(&ext->Channel.Mutex);
    const ULONG state = ReadPortState(ext);
    if (attached && (state == pta::PORT_OPENING || state == pta::PORT_OPEN))
        PostNotification(ext, pta::NOTIFY_MODEM_CONTROL, ext->Serial.Settings.ModemControl);
}
