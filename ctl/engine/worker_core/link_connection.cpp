// The TCP connection of a worker: connect with the key exchange and the settings,
// disconnect, a lost link and the reconnection every second, and every report to the
// driver that goes with them; the shared socket and the send routine.
#include <stdio.h>

#include "protocol_rules.h"
#include "registry_layout.h"
#include "worker_core.h"

namespace pta {
namespace worker {

using namespace protocol;

namespace {
uint32_t Elapsed(uint64_t now, uint64_t since) { return now > since ? static_cast<uint32_t>(now - since) : 0; }
}  // namespace

void WorkerCore::Connect()
{
    const SlotConfig config = host_.ReadSlotConfig();
    const ProtocolRules& rules = RulesOf(config.protocol);

    std::unique_lock<std::mutex> state(stateLock_);
    ipAddress_ = config.ipAddress;
    tcpPort_ = config.tcpPort;
    snprintf(ipText_, sizeof ipText_, "%u.%u.%u.%u", (config.ipAddress >> 24) & 0xFF,
             (config.ipAddress >> 16) & 0xFF, (config.ipAddress >> 8) & 0xFF, config.ipAddress & 0xFF);
    protocol_ = config.protocol;
    raw_ = rules.code == ProtocolRaw;
    keyState_ = rules.keyExchange ? KEY_AWAITING : KEY_NONE;

    auto fail = [&] {
        connecting_ = false;
        ReportLocked(REPORT_OPEN_RESULT, 1, kOpenFailedStatus);
    };
    if (removalHold_) return fail();
    if (connected_ && !linkLost_) {
        // A second open while the connection serves an application is refused.
        if (inUse_) return fail();
        state.unlock();
        Disconnect();
        state.lock();
    }
    const bool reconnecting = connected_ && linkLost_;
    const uint32_t epoch = epoch_;
    connecting_ = true;
    state.unlock();

    SocketHandle socket = kNoSocket;
    const uint32_t error = host_.SocketConnect(config.ipAddress, static_cast<uint16_t>(config.tcpPort),
                                               &stopping_, &socket);
    state.lock();
    if (error != 0 || epoch != epoch_) {
        if (error == 0) host_.SocketClose(socket);
        return fail();
    }
    socket_ = socket;
    connected_ = true;
    linkLost_ = false;
    state.unlock();

    // A new session starts clean; a reconnection keeps what was neither sent nor handed
    // to the application yet, so that nothing is lost with the link.
    {
        std::lock_guard<std::mutex> rx(rxLock_);
        RxSink sink(*this);
        std::lock_guard<std::mutex> keys(keysLock_);
        if (reconnecting) {
            scanner_.Flush(sink);
        } else {
            scanner_.Reset();
            pendingStart_ = pendingEnd_ = 0;
        }
        keys_.Reset();
    }
    if (!reconnecting) {
        ++session_;
        std::lock_guard<std::mutex> ring(ringLock_);
        ring_.Clear();
    }

    bool ok = !rules.keyExchange || KeyExchange();
    if (ok) SendCurrentSettings();

    state.lock();
    ok = ok && socket_ != kNoSocket && epoch == epoch_;
    if (!ok) {
        if (epoch == epoch_) {
            RetireSocketLocked();
            // A failed attempt during reconnection keeps the link re-establishing.
            if (reconnecting) {
                linkLost_ = true;
            } else {
                connected_ = false;
                SetLed(IND_CON, kLedOff);
            }
        }
        return fail();
    }
    SetLed(IND_CON, kLedOn);
    host_.ArmTimer(TIMER_ALIVE_TX, aliveTxMs_);
    host_.ArmTimer(TIMER_ALIVE_RX, aliveRxMs_);
    ReportLocked(REPORT_OPEN_RESULT, 0, 0);
    if (reconnecting) {
        ReportLocked(REPORT_LINK_UP, 0, 0);
        SetLed(IND_ERR, kLedOff);
    }
    connecting_ = false;
    state.unlock();
    host_.WakePumps();
}

bool WorkerCore::KeyExchange()
{
    InbandMessage offer;
    {
        std::lock_guard<std::mutex> keys(keysLock_);
        keyGen_.Fill(key_);
        offer = keys_.Offer(key_);
    }
    keyState_ = KEY_AWAITING;
    if (!SendMessage(offer)) return false;

    SocketHandle socket;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        socket = AcquireSocketLocked(false);
    }
    if (socket == kNoSocket) return false;
    // The server's key is read here: the receive pump does not read before the port is
    // open and the link is up.
    bool accepted = false;
    const uint64_t start = host_.NowMs();
    {
        std::lock_guard<std::mutex> rx(rxLock_);
        for (;;) {
            {
                std::lock_guard<std::mutex> keys(keysLock_);
                accepted = keys_.State() == KEY_ACTIVE;
            }
            const uint32_t waited = Elapsed(host_.NowMs(), start);
            if (accepted || waited >= kKeyWaitMs || stopping_) break;
            bool received = false;
            if (!ReceiveOnce(socket, 1000, &received)) break;
        }
    }
    ReleaseSocket(socket);
    if (accepted) keyState_ = KEY_ACTIVE;
    return accepted;
}

void WorkerCore::SendCurrentSettings()
{
    const uint32_t baud = baudIndex_;
    const BaudChange change = DecideBaudChange(protocol_, baud);
    if (change.accepted) {
        std::lock_guard<std::mutex> lock(stateLock_);
        if (socket_ != kNoSocket) host_.SocketSetSendBuffer(socket_, change.sendBuffer);
    }
    InbandMessage messages[3];
    const size_t count = CurrentSettingsMessages(protocol_, static_cast<uint8_t>(baud),
                                                 static_cast<uint8_t>(lineControl_),
                                                 static_cast<uint8_t>(modemControl_), messages);
    for (size_t i = 0; i < count; ++i) {
        if (!SendMessage(messages[i])) return;
    }
    if (!raw_) {
        const ModemControlIndicators leds = IndicatorsOfModemControl(static_cast<uint8_t>(modemControl_));
        SetLed(IND_DTR, leds.dtr);
        SetLed(IND_RTS, leds.rts);
    }
}

void WorkerCore::Disconnect()
{
    for (uint32_t t = 0; t < kTimerCount; ++t) host_.CancelTimer(static_cast<WorkerTimer>(t));
    std::lock_guard<std::mutex> state(stateLock_);
    ++epoch_;
    RetireSocketLocked();
    connected_ = false;
    linkLost_ = false;
    SetLed(IND_CON, kLedOff);
    SetLed(IND_ERR, kLedOff);
    ReportLocked(REPORT_CLOSE_DONE, 0, 0);
}

void WorkerCore::LinkLost(uint32_t reason)
{
    {
        std::lock_guard<std::mutex> state(stateLock_);
        if (!connected_ || linkLost_ || reason == 0) return;
        // During a connect the attempt itself fails; Connect tells the driver.
        if (connecting_) {
            RetireSocketLocked();
            return;
        }
        RetireSocketLocked();
        ReportLocked(REPORT_LINK_DOWN, reason, 0);
        linkLost_ = true;
    }
    host_.ArmTimer(TIMER_RECONNECT, kReconnectMs);
    SetLed(IND_ERR, kLedLinkLost);
    sentSinceUp_ = false;
    linkVerified_ = false;
}

void WorkerCore::OnReconnectTimer()
{
    host_.CancelTimer(TIMER_RECONNECT);
    {
        std::lock_guard<std::mutex> state(stateLock_);
        // A timer left over from a link that has since come back or been closed.
        if (!connected_ || !linkLost_) return;
    }
    Connect();
    std::unique_lock<std::mutex> state(stateLock_);
    if (connected_ && linkLost_) {
        state.unlock();
        host_.ArmTimer(TIMER_RECONNECT, kReconnectMs);
        SetLed(IND_ERR, kLedLinkLost);
        sentSinceUp_ = false;
        linkVerified_ = false;
    }
}

SocketHandle WorkerCore::AcquireSocketLocked(bool pump)
{
    if (!connected_ || linkLost_ || socket_ == kNoSocket) return kNoSocket;
    if (pump && connecting_) return kNoSocket;
    SocketUse* free = nullptr;
    for (SocketUse& use : uses_) {
        if (use.users > 0 && use.handle == socket_) {
            ++use.users;
            return socket_;
        }
        if (use.users == 0 && !free) free = &use;
    }
    if (!free) return kNoSocket;
    *free = {socket_, 1};
    return socket_;
}

void WorkerCore::ReleaseSocket(SocketHandle socket)
{
    std::lock_guard<std::mutex> state(stateLock_);
    for (SocketUse& use : uses_) {
        if (use.users > 0 && use.handle == socket) {
            // The last user of a socket given up meanwhile closes it.
            if (--use.users == 0 && socket != socket_) host_.SocketClose(socket);
            return;
        }
    }
}

void WorkerCore::RetireSocketLocked()
{
    if (socket_ == kNoSocket) return;
    bool inUse = false;
    for (const SocketUse& use : uses_) inUse = inUse || (use.users > 0 && use.handle == socket_);
    if (inUse) {
        host_.SocketShutdown(socket_);
    } else {
        host_.SocketClose(socket_);
    }
    socket_ = kNoSocket;
}

WorkerCore::SendOutcome WorkerCore::SendAll(SocketHandle socket, const uint8_t* data, uint32_t length,
                                            uint32_t* sentOut)
{
    uint32_t& sent = *sentOut;
    sent = 0;
    uint64_t stalledSince = 0;
    while (sent < length) {
        uint32_t error = 0;
        const SocketResult r = host_.SocketSend(socket, data + sent, length - sent);
        if (r.kind == SocketResult::Error) {
            LinkLost(r.error);
            return SendOutcome::Failed;
        }
        if (r.kind == SocketResult::Done && r.count > 0) {
            sent += r.count;
            stalledSince = 0;
            host_.ArmTimer(TIMER_ALIVE_TX, aliveTxMs_);
            sentSinceUp_ = true;
            SetLed(IND_TX, kLedSent);
            continue;
        }
        // The socket's buffer is full: wait until it drains, but not past a stop, and
        // not longer than the link may stay silent.
        if (stopping_) return SendOutcome::NotWritable;
        const uint64_t now = host_.NowMs();
        if (stalledSince == 0) stalledSince = now ? now : 1;
        if (Elapsed(now, stalledSince) >= aliveRxMs_) {
            LinkLost(kReasonSendStalled);
            return SendOutcome::Failed;
        }
        if (host_.SocketWait(socket, true, 1000, &error) == SocketReady::Error) {
            LinkLost(error);
            return SendOutcome::Failed;
        }
    }
    return SendOutcome::Sent;
}

bool WorkerCore::SendMessage(const InbandMessage& message)
{
    SocketHandle socket;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        socket = AcquireSocketLocked(false);
    }
    if (socket == kNoSocket) return false;
    SendOutcome outcome;
    {
        std::lock_guard<std::mutex> send(sendLock_);
        uint8_t wire[kInbandMaxLength];
        for (uint32_t i = 0; i < message.length; ++i) wire[i] = message.bytes[i];
        {
            std::lock_guard<std::mutex> keys(keysLock_);
            keys_.EncodeTx(wire, message.length);
        }
        uint32_t sent = 0;
        outcome = SendAll(socket, wire, message.length, &sent);
    }
    ReleaseSocket(socket);
    return outcome == SendOutcome::Sent;
}

}  // namespace worker
}  // namespace pta
