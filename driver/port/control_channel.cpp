// The control channel: handle roles, the private control codes, notifications and
// reports, and the open and close handshakes. The handshakes never block: the
// application's create or close is pended and finished by the control program's report
// or by the 10-second handshake timer.
#include <string.h>

#include "serial_port.h"

namespace pta {
namespace port {

namespace {

constexpr IoResult kDone = {kStatusSuccess, 0};

}  // namespace

const SerialPort::ControlRule SerialPort::kLinkRules[] = {
    {IOCTL_LINK_SET_NOTIFY_EVENT, kEventHandleSize, 0, kStatusInvalidParameter,
     &SerialPort::SetNotifyEvent},
    {IOCTL_LINK_SET_SPARE_EVENT, kEventHandleSize, 0, kStatusInvalidParameter,
     &SerialPort::SetSpareEvent},
    {IOCTL_LINK_START, 0, 0, kStatusSuccess, &SerialPort::Start},
    {IOCTL_LINK_GET_NOTIFICATIONS, 0, sizeof(LinkNotification), kStatusInvalidParameter,
     &SerialPort::GetNotifications},
    {IOCTL_LINK_REPORT, sizeof(LinkReport), 0, kStatusInvalidParameter, &SerialPort::Report},
    {IOCTL_LINK_FETCH_TX, 0, 1, kStatusInvalidParameter, &SerialPort::FetchTx},
    {IOCTL_LINK_PUT_RX, 1, 0, kStatusInvalidParameter, &SerialPort::PutRx},
    {IOCTL_LINK_REFRESH_NAMES, 4, 0, kStatusInvalidParameter, &SerialPort::RefreshNames},
    {IOCTL_LINK_FORCE_CLOSE, 0, 0, kStatusSuccess, &SerialPort::ForceClose},
    {IOCTL_LINK_QUERY_COUNTERS, 0, sizeof(LinkCounters), kStatusBufferTooSmall,
     &SerialPort::QueryCounters},
};
const uint32_t SerialPort::kLinkRuleCount = sizeof kLinkRules / sizeof kLinkRules[0];

const SerialPort::ReportRule SerialPort::kReportRules[] = {
    {REPORT_OPEN_RESULT, &SerialPort::OnOpenResult},
    {REPORT_CLOSE_DONE, &SerialPort::OnCloseDone},
    {REPORT_MODEM_STATUS, &SerialPort::OnModemStatus},
    {REPORT_LINK_DOWN, &SerialPort::OnLinkDown},
    {REPORT_LINK_UP, &SerialPort::OnLinkUp},
};
const uint32_t SerialPort::kReportRuleCount = sizeof kReportRules / sizeof kReportRules[0];

// ---- Handles ----

IoResult SerialPort::Create(IoHandle* handle, IoRequest* request, bool directory)
{
    if (!channel_.attached) {
        // The control program's open (or any open with nobody at the far end).
        LoadDefaults();
        return kDone;
    }
    // One application at a time: none while another holds the port, while a handshake is
    // still to be answered, or while the port's names are being replaced.
    if (state_ != PORT_CLOSED || channel_.handshake != HANDSHAKE_NONE || renaming_ != 0)
        return {kStatusAccessDenied, 0};
    if (directory) return {kStatusNotADirectory, 0};

    // Nothing of an earlier user survives into this open.
    RaiseEvents(0);
    Flush();
    LoadDefaults();
    return BeginOpen(handle, request);
}

IoResult SerialPort::Close(IoHandle* handle, IoRequest* request)
{
    if (channel_.handshake == HANDSHAKE_OPEN && channel_.handshakeHandle == handle)
        FinishOpen(kStatusCancelled, kStatusCancelled);  // closed before its open ended
    // A second close of the handle whose close is being answered leaves that handshake be.
    if (channel_.handshake == HANDSHAKE_CLOSE && channel_.handshakeHandle == handle) return kDone;
    if (handle && handle == channel_.application) return BeginApplicationClose(request);
    if (channel_.attached && handle == channel_.owner) {
        Detach();
        return kDone;
    }
    if (!channel_.attached) host_.ChildHandleClosed();
    return kDone;
}

bool SerialPort::ApplicationActive(IoHandle* handle) const
{
    return channel_.attached && channel_.applicationOpen && handle == channel_.application;
}

void SerialPort::ReleaseEvents()
{
    if (channel_.notifyEvent) host_.DereferenceEvent(channel_.notifyEvent);
    if (channel_.spareEvent) host_.DereferenceEvent(channel_.spareEvent);
    channel_.notifyEvent = nullptr;
    channel_.spareEvent = nullptr;
}

void SerialPort::Detach()
{
    ReleaseEvents();
    channel_.attached = false;
    channel_.owner = nullptr;
    // Nobody is left to answer a handshake, so it ends now.
    EndHandshakes();
    // Nobody carries the application's data any more. It is shut out (its reads time out,
    // its writes are dropped, its close is no one's) and the port is closed at once, so
    // that the next control program can serve the next application.
    ShutOutApplication();
    // What was posted for this control program means nothing to the next one.
    channel_.notifyQueue.Clear(host_);
}

void SerialPort::ShutOutApplication()
{
    CloseLocally();
    channel_.applicationOpen = false;
    channel_.application = nullptr;
}

// ---- Notifications ----

void SerialPort::Post(uint32_t code, uint32_t value)
{
    if (!channel_.attached) return;  // nobody would drain it
    if (!channel_.notifyQueue.Post(host_, code, value)) return;
    if (channel_.notifyEvent) host_.SignalEvent(channel_.notifyEvent);
}

IoResult SerialPort::GetNotifications(const ControlCall& call)
{
    const uint32_t copied = channel_.notifyQueue.Drain(host_, call.buffer, call.outputLength);
    if (copied == 0) ++counters_.EmptyDrains;
    return {kStatusSuccess, copied};
}

// ---- Request counters ----

void SerialPort::CountControl(uint32_t code)
{
    switch (code) {
    case IOCTL_LINK_QUERY_COUNTERS: break;  // reading the counters leaves them as they are
    case IOCTL_LINK_FETCH_TX: ++counters_.Fetches; break;
    case IOCTL_LINK_PUT_RX: ++counters_.Puts; break;
    case IOCTL_LINK_GET_NOTIFICATIONS: ++counters_.NotificationDrains; break;
    case IOCTL_LINK_REPORT: ++counters_.Reports; break;
    case IOCTL_LINK_PROBE:
    case IOCTL_LINK_SET_NOTIFY_EVENT:
    case IOCTL_LINK_SET_SPARE_EVENT:
    case IOCTL_LINK_START:
    case IOCTL_LINK_REFRESH_NAMES:
    case IOCTL_LINK_FORCE_CLOSE: ++counters_.OtherLinkControls; break;
    default: ++counters_.SerialControls; break;
    }
}

IoResult SerialPort::QueryCounters(const ControlCall& call)
{
    LinkCounters out = counters_;
    out.Size = sizeof out;
    memcpy(call.buffer, &out, sizeof out);
    return {kStatusSuccess, sizeof counters_};
}

// ---- Attaching ----

IoResult SerialPort::SetEvent(const ControlCall& call, EventObject** slot)
{
    uint64_t handle;
    memcpy(&handle, call.buffer, sizeof handle);
    EventObject* event = nullptr;
    if (handle == 0 || !host_.ReferenceEvent(handle, &event) || !event)
        return {kStatusInvalidParameter, 0};
    if (*slot) host_.DereferenceEvent(*slot);
    *slot = event;
    return kDone;
}

IoResult SerialPort::SetNotifyEvent(const ControlCall& call)
{
    return SetEvent(call, &channel_.notifyEvent);
}

IoResult SerialPort::SetSpareEvent(const ControlCall& call)
{
    return SetEvent(call, &channel_.spareEvent);
}

IoResult SerialPort::Start(const ControlCall& call)
{
    if (channel_.attached || !channel_.notifyEvent || !channel_.spareEvent)
        return {kStatusAccessDenied, 0};
    // The handle of an application still holding the port cannot become the far end.
    if (call.handle && call.handle == channel_.application) return {kStatusAccessDenied, 0};
    channel_.attached = true;
    channel_.owner = call.handle;
    channel_.notifyQueue.Clear(host_);
    channel_.openReply = channel_.closeReply = LinkReport();
    return kDone;
}

IoResult SerialPort::RefreshNames(const ControlCall&)
{
    // Names change only while no application holds the port or waits for its open; opens
    // are refused until the shell has replaced them (EndRename).
    if (state_ != PORT_CLOSED || channel_.handshake != HANDSHAKE_NONE) return kDone;
    ++renaming_;
    host_.RefreshNames();
    return kDone;
}

void SerialPort::EndRename(uint32_t comNumber, uint32_t refreshes)
{
    comNumber_ = comNumber;
    renaming_ = refreshes < renaming_ ? renaming_ - refreshes : 0;
}

IoResult SerialPort::ForceClose(const ControlCall&)
{
    // A close being answered goes ahead now: the control program will not answer it.
    if (channel_.handshake == HANDSHAKE_CLOSE) {
        FinishApplicationClose(kStatusSuccess);
        return kDone;
    }
    // The forced-off handle never counts as the application again: its later close is no
    // one's, and a new application may open at once.
    if (channel_.applicationOpen) ShutOutApplication();
    return kDone;
}

// ---- Reports ----

IoResult SerialPort::Report(const ControlCall& call)
{
    LinkReport report;
    memcpy(&report, call.buffer, sizeof report);
    for (uint32_t i = 0; i < kReportRuleCount; ++i) {
        const ReportHandler handler = kReportRules[i].handler;
        if (kReportRules[i].kind == report.Kind) (this->*handler)(report);
    }
    return kDone;
}

void SerialPort::OnOpenResult(const LinkReport& report)
{
    channel_.openReply = report;
    if (channel_.handshake != HANDSHAKE_OPEN) return;
    // A failed open fails even when the control program sent no status with it.
    NtStatus result = kStatusSuccess;
    if (report.Failed) result = report.Status ? static_cast<NtStatus>(report.Status) : kStatusAccessDenied;
    FinishOpen(result, kStatusAccessDenied);
}

void SerialPort::OnCloseDone(const LinkReport& report)
{
    channel_.closeReply = report;
    if (channel_.handshake == HANDSHAKE_CLOSE) FinishApplicationClose(kStatusSuccess);
}

void SerialPort::OnModemStatus(const LinkReport& report)
{
    channel_.modemReply = report;
    if (state_ != PORT_OPENING && state_ != PORT_OPEN) return;
    const uint8_t status = static_cast<uint8_t>(report.Failed);
    const uint8_t changed = static_cast<uint8_t>(status ^ serial_.lines.ModemStatus);
    serial_.lines.ModemStatus = status;
    if (!(serial_.waitMask & (EV_CTS | EV_RLSD))) return;
    uint32_t events = 0;
    if (changed & kModemStatusCts) events |= EV_CTS;
    if (changed & kModemStatusDsr) events |= EV_DSR;
    if (events) RaiseEvents(events);
}

void SerialPort::OnLinkDown(const LinkReport& report)
{
    channel_.linkReply = report;
    if (state_ == PORT_OPEN) state_ = PORT_SUSPENDED;
}

void SerialPort::OnLinkUp(const LinkReport& report)
{
    channel_.linkReply = report;
    if (state_ == PORT_SUSPENDED) state_ = PORT_OPEN;
}

// ---- Handshakes ----

IoResult SerialPort::BeginOpen(IoHandle* handle, IoRequest* request)
{
    state_ = PORT_OPENING;
    serial_.waitMask = 0;
    serial_.pendingEvents = 0;
    serial_.receivedCount = 0;
    serial_.transmittedCount = 0;
    DisarmTimer(TIMER_READ);
    DisarmTimer(TIMER_WAIT);
    channel_.openReply = channel_.closeReply = LinkReport();

    channel_.handshake = HANDSHAKE_OPEN;
    channel_.handshakeHandle = handle;
    channel_.handshakeRequest = request;
    Post(NOTIFY_OPEN_REQUEST, 0);
    ArmTimer(TIMER_HANDSHAKE, kHandshakeDue);
    return {kStatusPending, 0};
}

void SerialPort::FinishOpen(NtStatus result, NtStatus failStatus)
{
    DisarmTimer(TIMER_HANDSHAKE);
    IoHandle* handle = channel_.handshakeHandle;
    IoRequest* request = channel_.handshakeRequest;
    channel_.handshake = HANDSHAKE_NONE;
    channel_.handshakeHandle = nullptr;
    channel_.handshakeRequest = nullptr;

    if (result != kStatusSuccess) {
        // The port never reached PORT_OPEN, so no close request goes out. Writes queued
        // while the open was pending never left: they fail with it.
        CompleteTx(tx_.TakeAll(), TX_CANCELLED);
        CloseLocally();
        host_.Complete(request, failStatus, 0);
        return;
    }
    PostSetting(NOTIFY_BAUD_RATE, serial_.baudIndex);
    PostSetting(NOTIFY_LINE_CONTROL, serial_.lineControl);
    ApplyHandflow(serial_.lines, serial_.lines.HandFlow, state_);
    PostModemControl();
    PostModemControl();
    RecomputeHolds(serial_.lines);
    serial_.readParams = ComputeReadParams(serial_.lines.Timeouts);
    state_ = PORT_OPEN;
    channel_.applicationOpen = true;
    channel_.application = handle;
    Post(NOTIFY_PORT_OPENED, comNumber_);
    // Writes queued while the open was pending are there to fetch.
    if (!tx_.Empty() && channel_.spareEvent) host_.SignalEvent(channel_.spareEvent);
    host_.Complete(request, kStatusSuccess, 0);
}

IoResult SerialPort::BeginApplicationClose(IoRequest* request)
{
    if (channel_.attached && state_ == PORT_OPEN) {
        state_ = PORT_CLOSING;
        channel_.handshake = HANDSHAKE_CLOSE;
        channel_.handshakeHandle = channel_.application;
        channel_.handshakeRequest = request;
        Post(NOTIFY_CLOSE_REQUEST, 0);
        ArmTimer(TIMER_HANDSHAKE, kHandshakeDue);
        return {kStatusPending, 0};
    }
    ShutOutApplication();
    Post(NOTIFY_PORT_CLOSED, comNumber_);
    return kDone;
}

void SerialPort::FinishApplicationClose(NtStatus status)
{
    DisarmTimer(TIMER_HANDSHAKE);
    IoRequest* request = channel_.handshakeRequest;
    channel_.handshake = HANDSHAKE_NONE;
    channel_.handshakeHandle = nullptr;
    channel_.handshakeRequest = nullptr;
    ShutOutApplication();
    Post(NOTIFY_PORT_CLOSED, comNumber_);
    host_.Complete(request, status, 0);
}

// The local half of every close: a waiting wait-on-mask gets the events gathered so far,
// the port is flushed, and it is closed.
void SerialPort::CloseLocally()
{
    if (state_ < PORT_CLOSING) return;
    state_ = PORT_CLOSING;
    RaiseEvents(0);
    Flush();
    state_ = PORT_CLOSED;
}

void SerialPort::EndHandshakes()
{
    if (channel_.handshake == HANDSHAKE_OPEN)
        FinishOpen(kStatusAccessDenied, kStatusAccessDenied);
    else if (channel_.handshake == HANDSHAKE_CLOSE)
        FinishApplicationClose(kStatusSuccess);
}

void SerialPort::OnHandshakeTimer()
{
    // An unanswered open fails; an unanswered close goes ahead.
    if (channel_.handshake == HANDSHAKE_OPEN)
        FinishOpen(kStatusTimeout, kStatusAccessDenied);
    else if (channel_.handshake == HANDSHAKE_CLOSE)
        FinishApplicationClose(kStatusSuccess);
}

}  // namespace port
}  // namespace pta
