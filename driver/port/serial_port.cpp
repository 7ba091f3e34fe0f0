#include "serial_port.h"

#include "handflow_rules.h"

namespace pta {
namespace port {

namespace {

constexpr uint32_t kDefaultBaudRate = 9600;
constexpr uint8_t kDefaultLineControl = 0x1A;  // 7 data bits, even parity, 1 stop bit
constexpr uint8_t kDefaultValidDataMask = 0x7F;
constexpr uint8_t kDefaultXonChar = 0x11;
constexpr uint8_t kDefaultXoffChar = 0x13;
constexpr uint32_t kDefaultControlHandShake = 0x01;  // DTR control
constexpr uint32_t kDefaultFlowReplace = kRtsControl;

}  // namespace

SerialPort::SerialPort(PortHost& host, uint32_t comNumber)
    : host_(host), comNumber_(comNumber), serial_(), pendingRead_(), pendingWait_(), channel_(),
      counters_(), armed_(), deadline_()
{
    LoadDefaults();
}

SerialPort::~SerialPort()
{
    if (started_) DeviceStop();
    ReleaseEvents();
    channel_.notifyQueue.Clear(host_);
}

void SerialPort::DeviceStart()
{
    if (started_) return;
    // A control program that attached before the start (or across a stop) stays attached:
    // the stop already ended every application use and handshake.
    serial_ = SerialContext();
    LoadDefaults();
    DisarmAllTimers();
    rx_.Clear();
    counters_ = LinkCounters();
    started_ = true;
    state_ = PORT_CLOSED;
}

void SerialPort::DeviceStop()
{
    if (!started_) return;
    // Ends any application use at once: the control program cannot answer a handshake
    // for a device that is going away, but it is told to close its connection.
    if (channel_.handshake == HANDSHAKE_NONE && state_ == PORT_OPEN) Post(NOTIFY_CLOSE_REQUEST, 0);
    EndHandshakes();
    // The application's handle outlives the device's stop: it is shut out for good, and
    // the control program hears that the port is free.
    if (channel_.applicationOpen) {
        ShutOutApplication();
        Post(NOTIFY_PORT_CLOSED, comNumber_);
    }
    CloseLocally();
    RaiseEvents(0);
    Flush();
    DisarmAllTimers();
    started_ = false;
    state_ = PORT_ABSENT;
}

void SerialPort::LoadDefaults()
{
    serial_.baudRate = kDefaultBaudRate;
    serial_.baudIndex = BaudIndexOf(kDefaultBaudRate);
    serial_.lineControl = kDefaultLineControl;
    serial_.validDataMask = kDefaultValidDataMask;
    serial_.chars = SerialChars();
    serial_.chars.XonChar = kDefaultXonChar;
    serial_.chars.XoffChar = kDefaultXoffChar;
    serial_.errorWord = 0;

    SerialSettings& lines = serial_.lines;
    lines.ModemControl = 0;
    lines.ModemStatus = 0;
    lines.HandFlow.ControlHandShake = kDefaultControlHandShake;
    lines.HandFlow.FlowReplace = kDefaultFlowReplace;
    lines.HandFlow.XonLimit = static_cast<int32_t>(kRxRingCapacity / 2);
    lines.HandFlow.XoffLimit = static_cast<int32_t>(kRxRingCapacity / 8);
    lines.Timeouts = SerialTimeouts();
    lines.TxHolding = 0;
    lines.RxHolding = 0;
    serial_.readParams = ComputeReadParams(lines.Timeouts);
}

bool SerialPort::SettingsPostsAllowed() const
{
    return channel_.attached && (state_ == PORT_OPENING || state_ == PORT_OPEN);
}

void SerialPort::PostSetting(uint32_t code, uint32_t value)
{
    if (SettingsPostsAllowed()) Post(code, value);
}

void SerialPort::PostModemControl()
{
    PostSetting(NOTIFY_MODEM_CONTROL, serial_.lines.ModemControl);
}

void SerialPort::Complete(ParkedRequest& slot, NtStatus status, uint32_t information)
{
    IoRequest* request = slot.request;
    slot = ParkedRequest();
    if (request) host_.Complete(request, status, information);
}

void SerialPort::EndRead(NtStatus status, uint32_t information)
{
    if (!pendingRead_.request) return;
    DisarmTimer(TIMER_READ);
    Complete(pendingRead_, status, information);
}

void SerialPort::EndWait(NtStatus status, uint32_t information)
{
    if (!pendingWait_.request) return;
    DisarmTimer(TIMER_WAIT);
    Complete(pendingWait_, status, information);
}

void SerialPort::ArmTimer(PortTimer timer, int64_t dueTime)
{
    armed_[timer] = true;
    deadline_[timer] = DeadlineAfter(host_.Now(), dueTime);
    host_.StartTimer(timer, dueTime);
}

void SerialPort::DisarmTimer(PortTimer timer)
{
    armed_[timer] = false;
    host_.CancelTimer(timer);
}

void SerialPort::DisarmAllTimers()
{
    for (uint32_t t = 0; t < kPortTimerCount; ++t) DisarmTimer(static_cast<PortTimer>(t));
}

void SerialPort::CompleteTx(TxRecordList records, TxEnd end)
{
    while (TxRecord* r = records.Pop()) {
        switch (end) {
        case TX_SENT: host_.Complete(r->request, kStatusSuccess, r->length); break;
        case TX_ABORTED: host_.Complete(r->request, kStatusCancelled, r->length); break;
        case TX_CANCELLED: host_.Complete(r->request, kStatusCancelled, r->fetched); break;
        case TX_TIMED_OUT: host_.Complete(r->request, kStatusTimeout, r->fetched); break;
        }
        TxQueue::Free(host_, r);
    }
    StartWriteTimer();
}

void SerialPort::Cleanup(IoHandle* handle)
{
    if (pendingRead_.handle == handle) EndRead(kStatusCancelled, 0);
    if (pendingWait_.handle == handle) EndWait(kStatusCancelled, 0);
    CompleteTx(tx_.TakeHandle(handle), TX_CANCELLED);
}

bool SerialPort::Cancel(IoRequest* request)
{
    if (!request) return false;
    if (pendingRead_.request == request) {
        EndRead(kStatusCancelled, 0);
        return true;
    }
    if (pendingWait_.request == request) {
        EndWait(kStatusCancelled, 0);
        return true;
    }
    if (channel_.handshakeRequest == request) {
        if (channel_.handshake == HANDSHAKE_OPEN)
            FinishOpen(kStatusCancelled, kStatusCancelled);
        else
            FinishApplicationClose(kStatusCancelled);
        return true;
    }
    TxRecordList records = tx_.TakeRequest(request);
    if (!records.head) return false;
    CompleteTx(records, TX_CANCELLED);
    return true;
}

void SerialPort::OnTimer(PortTimer timer)
{
    if (timer >= kPortTimerCount || !armed_[timer]) return;  // cancelled meanwhile
    const int64_t now = host_.Now();
    if (now < deadline_[timer]) {
        // An expiry of an earlier arming: wait out the current one.
        host_.StartTimer(timer, now - deadline_[timer]);
        return;
    }
    armed_[timer] = false;
    switch (timer) {
    case TIMER_READ: OnReadTimer(); break;
    case TIMER_WAIT: OnWaitTimer(); break;
    case TIMER_HANDSHAKE: OnHandshakeTimer(); break;
    case TIMER_WRITE: OnWriteTimer(); break;
    default: break;
    }
}

IoResult SerialPort::InternalDeviceControl(uint32_t code, void* buffer, uint32_t inputLength,
                                           uint32_t outputLength)
{
    const InternalResult result = HandleInternalSerialRequest(code, serial_.lines, state_, buffer,
                                                              inputLength, outputLength);
    if (result.handflowApplied) {
        PostModemControl();
        // The read time-outs follow the time-outs these requests replaced.
        serial_.readParams = ComputeReadParams(serial_.lines.Timeouts);
    }
    return {result.status, 0};
}

}  // namespace port
}  // namespace pta
