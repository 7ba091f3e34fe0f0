// The worker's driver notifications, its settings, its indicators and what the owner asks
// of it (stop, forced close).
#include "worker_core.h"

#include "protocol_rules.h"
#include "registry_layout.h"

namespace pta {
namespace worker {

using namespace protocol;

uint32_t AliveTimeOf(uint32_t stored, uint32_t fallback)
{
    if (stored == 0) return fallback;
    return stored < kMinAliveMs ? kMinAliveMs : stored > kMaxAliveMs ? kMaxAliveMs : stored;
}

WorkerCore::WorkerCore(uint32_t slot, uint32_t aliveTxMs, uint32_t aliveRxMs, WorkerHost& host)
    : slot_(slot),
      aliveTxMs_(AliveTimeOf(aliveTxMs, kDefaultAliveTxMs)),
      aliveRxMs_(AliveTimeOf(aliveRxMs, kDefaultAliveRxMs)),
      host_(host),
      keyGen_(host.RandomSeed() ^ (static_cast<uint64_t>(slot) << 48)),
      ring_(slot),
      scanner_(LinkSide::Engine, keys_)
{
    for (auto& led : status_) led.store(kLedOff);
}

namespace {

// What ControlThread does with each notification code.
struct NotificationRow {
    uint32_t code;
    void (*handle)(WorkerCore& core, uint32_t value);
};

}  // namespace

void WorkerCore::OnNotification(const LinkNotification& n)
{
    static const NotificationRow kRows[] = {
        {NOTIFY_PORT_OPENED, [](WorkerCore& c, uint32_t v) { c.NotePortOpened(v); }},
        {NOTIFY_PORT_CLOSED, [](WorkerCore& c, uint32_t) { c.NotePortClosed(); }},
        {NOTIFY_OPEN_REQUEST, [](WorkerCore& c, uint32_t) { c.Connect(); }},
        {NOTIFY_CLOSE_REQUEST, [](WorkerCore& c, uint32_t) { c.CloseRequest(); }},
        {NOTIFY_BAUD_RATE, [](WorkerCore& c, uint32_t v) { c.SetBaudIndex(v); }},
        {NOTIFY_LINE_CONTROL, [](WorkerCore& c, uint32_t v) { if (!c.Raw()) c.SetLineControl(v); }},
        {NOTIFY_MODEM_CONTROL, [](WorkerCore& c, uint32_t v) { if (!c.Raw()) c.SetModemControl(v); }},
    };
    for (const NotificationRow& row : kRows) {
        if (row.code == n.Code) {
            row.handle(*this, n.Value);
            return;
        }
    }
}

void WorkerCore::NotePortOpened(uint32_t value)
{
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        if (inUse_) return;
        inUse_ = true;
        openedValue_ = value;
        if (!linkLost_) SetLed(IND_ERR, kLedOff);
    }
    SetLed(IND_ACT, kLedOn);
    host_.SlotOpenChanged(true);
    host_.WakePumps();
}

void WorkerCore::NotePortClosed()
{
    Disconnect();
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        inUse_ = false;
    }
    SetLed(IND_ACT, kLedOff);
    host_.SlotOpenChanged(false);
}

bool WorkerCore::MayStop(bool force)
{
    std::lock_guard<std::mutex> lock(stateLock_);
    if (!force && inUse_) return false;
    inUse_ = false;
    return true;
}

bool WorkerCore::ForceClose()
{
    if (!inUse_) return false;
    Disconnect();
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        inUse_ = false;
    }
    SetLed(IND_ACT, kLedOff);
    host_.SlotOpenChanged(false);
    host_.SendForceClose();
    return true;
}

void WorkerCore::SetBaudIndex(uint32_t index)
{
    // The driver announces only table indices; anything else is not a baud rate.
    if (index >= kBaudCount) return;
    const BaudChange change = DecideBaudChange(protocol_, index);
    if (!change.accepted) return;
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        baudIndex_ = index;
        if (socket_ != kNoSocket) host_.SocketSetSendBuffer(socket_, change.sendBuffer);
    }
    if (change.announce) SendMessage(InbandMessage::Baud(static_cast<uint8_t>(index)));
}

void WorkerCore::SetLineControl(uint32_t value)
{
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        lineControl_ = value;
    }
    SendMessage(InbandMessage::LineControl(static_cast<uint8_t>(value)));
}

void WorkerCore::SetModemControl(uint32_t value)
{
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        modemControl_ = value;
    }
    const ModemControlIndicators leds = IndicatorsOfModemControl(static_cast<uint8_t>(value));
    SetLed(IND_DTR, leds.dtr);
    SetLed(IND_RTS, leds.rts);
    SendMessage(InbandMessage::ModemControl(static_cast<uint8_t>(value)));
}

void WorkerCore::ReportModemStatus(uint8_t status)
{
    const ModemStatusIndicators leds = IndicatorsOfModemStatus(status);
    SetLed(IND_CTS, leds.cts);
    SetLed(IND_DSR, leds.dsr);
    SetLed(IND_DCD, leds.dcd);
    std::lock_guard<std::mutex> lock(stateLock_);
    modemStatus_ = status;
    ReportLocked(REPORT_MODEM_STATUS, status, 0);
}

void WorkerCore::ReportLocked(uint32_t kind, uint32_t failed, uint32_t status)
{
    report_ = {kind, failed, status};
    host_.Report(report_);
}

LinkReport WorkerCore::LastReport()
{
    std::lock_guard<std::mutex> lock(stateLock_);
    return report_;
}

PortStatus WorkerCore::Status() const
{
    PortStatus s;
    for (uint32_t i = 0; i < kIndicatorCount; ++i) s.value[i] = status_[i].load(std::memory_order_relaxed);
    return s;
}

void WorkerCore::ResetActivity()
{
    SetLed(IND_TX, kLedOff);
    SetLed(IND_RX, kLedOff);
}

}  // namespace worker
}  // namespace pta
