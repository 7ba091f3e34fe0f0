// The standard serial control codes, and the table-driven entry for every device
// control code: buffer sizes are checked here, once, before any handler runs.
#include <string.h>

#include "handflow_rules.h"
#include "line_control.h"
#include "serial_port.h"

namespace pta {
namespace port {

namespace {

template <typename T>
T ReadInput(const uint8_t* buffer)
{
    T value;
    memcpy(&value, buffer, sizeof value);
    return value;
}

template <typename T>
IoResult WriteOutput(uint8_t* buffer, const T& value)
{
    memcpy(buffer, &value, sizeof value);
    return {kStatusSuccess, static_cast<uint32_t>(sizeof value)};
}

constexpr IoResult kDone = {kStatusSuccess, 0};
constexpr IoResult kInvalid = {kStatusInvalidParameter, 0};

}  // namespace

const SerialPort::ControlRule SerialPort::kSerialRules[] = {
    {IOCTL_SERIAL_SET_BAUD_RATE, 4, 0, kStatusBufferTooSmall, &SerialPort::SetBaudRate},
    {IOCTL_SERIAL_SET_LINE_CONTROL, 3, 0, kStatusBufferTooSmall, &SerialPort::SetLineControl},
    {IOCTL_SERIAL_SET_TIMEOUTS, 20, 0, kStatusBufferTooSmall, &SerialPort::SetTimeouts},
    {IOCTL_SERIAL_SET_DTR, 0, 0, kStatusSuccess, &SerialPort::SetDtr},
    {IOCTL_SERIAL_CLR_DTR, 0, 0, kStatusSuccess, &SerialPort::ClrDtr},
    {IOCTL_SERIAL_SET_RTS, 0, 0, kStatusSuccess, &SerialPort::SetRts},
    {IOCTL_SERIAL_CLR_RTS, 0, 0, kStatusSuccess, &SerialPort::ClrRts},
    {IOCTL_SERIAL_GET_WAIT_MASK, 0, 4, kStatusInvalidParameter, &SerialPort::GetWaitMask},
    {IOCTL_SERIAL_SET_WAIT_MASK, 4, 0, kStatusInvalidParameter, &SerialPort::SetWaitMask},
    {IOCTL_SERIAL_WAIT_ON_MASK, 0, 4, kStatusInvalidParameter, &SerialPort::WaitOnMask},
    {IOCTL_SERIAL_PURGE, 4, 0, kStatusInvalidParameter, &SerialPort::Purge},
    {IOCTL_SERIAL_GET_BAUD_RATE, 0, 4, kStatusBufferTooSmall, &SerialPort::GetBaudRate},
    {IOCTL_SERIAL_GET_LINE_CONTROL, 0, 3, kStatusBufferTooSmall, &SerialPort::GetLineControl},
    {IOCTL_SERIAL_GET_CHARS, 0, 6, kStatusBufferTooSmall, &SerialPort::GetChars},
    {IOCTL_SERIAL_SET_CHARS, 6, 0, kStatusBufferTooSmall, &SerialPort::SetChars},
    {IOCTL_SERIAL_GET_HANDFLOW, 0, 16, kStatusBufferTooSmall, &SerialPort::GetHandflow},
    {IOCTL_SERIAL_SET_HANDFLOW, 16, 0, kStatusBufferTooSmall, &SerialPort::SetHandflow},
    {IOCTL_SERIAL_GET_MODEMSTATUS, 0, 4, kStatusBufferTooSmall, &SerialPort::GetModemStatus},
    {IOCTL_SERIAL_GET_COMMSTATUS, 0, 20, kStatusBufferTooSmall, &SerialPort::GetCommStatus},
    {IOCTL_SERIAL_GET_STATS, 0, 24, kStatusBufferTooSmall, &SerialPort::GetStats},
    {IOCTL_SERIAL_CLEAR_STATS, 0, 0, kStatusSuccess, &SerialPort::ClearStats},
};
const uint32_t SerialPort::kSerialRuleCount = sizeof kSerialRules / sizeof kSerialRules[0];

IoResult SerialPort::DeviceControl(IoHandle* handle, IoRequest* request, uint32_t code,
                                   void* buffer, uint32_t inputLength, uint32_t outputLength)
{
    CountControl(code);
    const ControlRule* rule = nullptr;
    for (uint32_t i = 0; i < kSerialRuleCount && !rule; ++i)
        if (kSerialRules[i].code == code) rule = &kSerialRules[i];
    for (uint32_t i = 0; i < kLinkRuleCount && !rule; ++i)
        if (kLinkRules[i].code == code) rule = &kLinkRules[i];
    if (!rule) return kDone;

    // A missing buffer counts as a length of zero.
    if (!buffer) inputLength = outputLength = 0;
    if (inputLength < rule->inputNeeded || outputLength < rule->outputNeeded)
        return {rule->shortStatus, 0};

    const ControlCall call = {handle, request, static_cast<uint8_t*>(buffer), inputLength,
                              outputLength};
    return (this->*rule->handler)(call);
}

IoResult SerialPort::SetBaudRate(const ControlCall& call)
{
    serial_.baudRate = ReadInput<uint32_t>(call.buffer);
    serial_.baudIndex = BaudIndexOf(serial_.baudRate);
    PostSetting(NOTIFY_BAUD_RATE, serial_.baudIndex);
    return kDone;
}

IoResult SerialPort::GetBaudRate(const ControlCall& call)
{
    return WriteOutput(call.buffer, serial_.baudRate);
}

IoResult SerialPort::SetLineControl(const ControlCall& call)
{
    const EncodedLineControl encoded =
        EncodeLineControl(ReadInput<SerialLineControl>(call.buffer), serial_.lineControl);
    if (!encoded.valid) return kInvalid;
    serial_.lineControl = encoded.lineControl;
    serial_.validDataMask = encoded.validDataMask;
    PostSetting(NOTIFY_LINE_CONTROL, serial_.lineControl);
    return kDone;
}

IoResult SerialPort::GetLineControl(const ControlCall& call)
{
    return WriteOutput(call.buffer, DecodeLineControl(serial_.lineControl));
}

IoResult SerialPort::SetTimeouts(const ControlCall& call)
{
    const SerialTimeouts timeouts = ReadInput<SerialTimeouts>(call.buffer);
    if (!TimeoutsValid(timeouts)) return kInvalid;
    serial_.lines.Timeouts = timeouts;
    serial_.readParams = ComputeReadParams(timeouts);
    return kDone;
}

IoResult SerialPort::DriveModemLine(uint8_t line, bool on, bool underHandshake)
{
    if (underHandshake) return kInvalid;
    if (on)
        serial_.lines.ModemControl |= line;
    else
        serial_.lines.ModemControl &= static_cast<uint8_t>(~line);
    PostModemControl();
    return kDone;
}

IoResult SerialPort::SetDtr(const ControlCall&)
{
    return DriveModemLine(kModemControlDtr, true, DtrUnderHandshake(serial_.lines.HandFlow));
}

IoResult SerialPort::ClrDtr(const ControlCall&)
{
    return DriveModemLine(kModemControlDtr, false, DtrUnderHandshake(serial_.lines.HandFlow));
}

IoResult SerialPort::SetRts(const ControlCall&)
{
    return DriveModemLine(kModemControlRts, true, RtsUnderHandshake(serial_.lines.HandFlow));
}

IoResult SerialPort::ClrRts(const ControlCall&)
{
    return DriveModemLine(kModemControlRts, false, RtsUnderHandshake(serial_.lines.HandFlow));
}

IoResult SerialPort::GetChars(const ControlCall& call)
{
    return WriteOutput(call.buffer, serial_.chars);
}

IoResult SerialPort::SetChars(const ControlCall& call)
{
    serial_.chars = ReadInput<SerialChars>(call.buffer);
    return kDone;
}

IoResult SerialPort::GetHandflow(const ControlCall& call)
{
    return WriteOutput(call.buffer, serial_.lines.HandFlow);
}

IoResult SerialPort::SetHandflow(const ControlCall& call)
{
    const SerialHandflow handflow = ReadInput<SerialHandflow>(call.buffer);
    if (!HandflowValid(handflow)) return kInvalid;
    ApplyHandflow(serial_.lines, handflow, state_);
    PostModemControl();
    RecomputeHolds(serial_.lines);
    return kDone;
}

IoResult SerialPort::GetModemStatus(const ControlCall& call)
{
    RecomputeHolds(serial_.lines);
    return WriteOutput(call.buffer, static_cast<uint32_t>(serial_.lines.ModemStatus));
}

IoResult SerialPort::GetCommStatus(const ControlCall& call)
{
    SerialCommStatus status;
    memset(&status, 0, sizeof status);
    status.Errors = serial_.errorWord;
    serial_.errorWord = 0;
    if (serial_.lines.TxHolding & kTxHoldDcd) status.HoldReasons |= SERIAL_TX_WAITING_FOR_DCD;
    if (serial_.lines.RxHolding & kRxHoldDsr) status.HoldReasons |= SERIAL_RX_WAITING_FOR_DSR;
    status.AmountInInQueue = rx_.Used();
    status.AmountInOutQueue = tx_.PendingBytes();
    return WriteOutput(call.buffer, status);
}

IoResult SerialPort::GetStats(const ControlCall& call)
{
    SerialPerfStats stats = {serial_.receivedCount, serial_.transmittedCount, 0, 0, 0, 0};
    return WriteOutput(call.buffer, stats);
}

IoResult SerialPort::ClearStats(const ControlCall&)
{
    serial_.receivedCount = 0;
    serial_.transmittedCount = 0;
    return kDone;
}

}  // namespace port
}  // namespace pta
