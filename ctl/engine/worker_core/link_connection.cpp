// The TCP connection of a worker: connect with the key exchange and the settings,
// disconnect (abortive, or in order after the application's close), a lost link and the
// reconnection every second, the keep-alives, and every report to the driver that goes
// with them; the shared socket, the send routine and the control message queue.
#include <stdio.h>
#include <string.h>

#include "protocol_rules.h"
#include "registry_layout.h"
#include "worker_core.h"

namespace pta {
namespace worker {

using namespace protocol;

namespace {
uint64_t Elapsed(uint64_t now, uint64_t since) { return now > since ? now - since : 0; }
}  // namespace

void WorkerCore::Connect(bool reconnection)
{
    const SlotConfig config = host_.ReadSlotConfig();
    const ProtocolRules& rules = RulesOf(config.protocol);

    std::unique_lock<std::mutex> state(stateLock_);
    // A reconnection overtaken by a disconnect has nothing left to do.
    if (reconnection && !(connected_ && linkLost_)) return;
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
    closing_ = false;
    lastTxMs_ = lastRxMs_ = host_.NowMs();
    state.unlock();

    // A new session starts clean; a reconnection keeps what was neither sent nor handed
    // to the application yet, so that nothing is lost with the link. Control messages
    // waiting for the old socket are sent again below as the current settings.
    {
        std::lock_guard<std::mutex> send(sendLock_);
        control_.Clear();
    }
    {
        std::lock_guard<std::mutex> rx(rxLock_);
        RxSink sink(*this);
        std::lock_guard<std::mutex> keys(keysLock_);
        if (reconnecting) {
            scanner_.Flush(sink);
        } else {
            scanner_.Reset();
            pendingStart_ = pendingEnd_ = 0;
            statusCount_ = 0;
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
    host_.ArmTimer(TIMER_ALIVE_RX, aliveRxMs_ + kAliveRxGraceMs);
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
    for (;;) {
        {
            // The offer may still be on its way.
            std::lock_guard<std::mutex> send(sendLock_);
            if (FlushControlLocked(socket) == SendOutcome::Failed) break;
        }
        std::lock_guard<std::mutex> rx(rxLock_);
        {
            std::lock_guard<std::mutex> keys(keysLock_);
            accepted = keys_.State() == KEY_ACTIVE;
        }
        const uint64_t waited = Elapsed(host_.NowMs(), start);
        if (accepted || waited >= kKeyWaitMs || stopping_) break;
        bool received = false, full = false;
        if (!ReceiveOnce(socket, 1000, sizeof recvBuffer_, &received, &full)) break;
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
    // What the application wrote and did not leave is dropped here, and counted.
    uint32_t dropped;
    std::lock_guard<std::mutex> pass(txPassLock_);
    {
        std::lock_guard<std::mutex> ring(ringLock_);
        dropped = ring_.Used() + txChunkLength_;
        ring_.Clear();
        txChunkLength_ = 0;
    }
    std::lock_guard<std::mutex> state(stateLock_);
    for (uint32_t t = 0; t < kTimerCount; ++t) host_.CancelTimer(static_cast<WorkerTimer>(t));
    ++epoch_;
    RetireSocketLocked();
    connected_ = false;
    linkLost_ = false;
    closing_ = false;
    SetLed(IND_CON, kLedOff);
    if (dropped > 0) {
        droppedTx_ += dropped;
        SetLed(IND_ERR, kLedTxDropped);
    } else if (Indicator(IND_ERR) == kLedLinkLost) {
        SetLed(IND_ERR, kLedOff);
    }
    ReportLocked(REPORT_CLOSE_DONE, 0, 0);
}

void WorkerCore::CloseRequest()
{
    DrainForClose();
    FinishConnection();
    Disconnect();
}

void WorkerCore::DrainForClose()
{
    const uint64_t start = host_.NowMs();
    for (;;) {
        {
            // A lost link sends nothing more: what is left is dropped at once.
            std::lock_guard<std::mutex> state(stateLock_);
            if (!UpLocked() || connecting_) return;
        }
        bool drained = false;
        PumpPass pass;
        {
            std::lock_guard<std::mutex> lock(txPassLock_);
            pass = TxPassLocked(&drained, true);
        }
        if (drained || pass == PumpPass::Idle || stopping_) return;
        if (Elapsed(host_.NowMs(), start) >= kCloseDrainMs) return;
        if (pass == PumpPass::Stalled) WaitWritable(kStallWaitUs);
    }
}

void WorkerCore::FinishConnection()
{
    SocketHandle socket;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        if (!UpLocked() || connecting_) return;
        // The pumps leave the socket alone from now on, and a loss changes nothing.
        closing_ = true;
        socket = AcquireSocketLocked(false);
    }
    if (socket == kNoSocket) return;
    // What the socket's buffer holds still reaches the server, then the end of the stream.
    host_.SocketShutdownSend(socket);
    {
        std::lock_guard<std::mutex> rx(rxLock_);
        const uint64_t start = host_.NowMs();
        while (!stopping_ && Elapsed(host_.NowMs(), start) < kCloseLingerMs) {
            uint32_t error = 0;
            const SocketReady ready = host_.SocketWait(socket, false, kStallWaitUs, &error);
            if (ready == SocketReady::Error) break;
            if (ready == SocketReady::NotReady) continue;
            const SocketResult r = host_.SocketRecv(socket, recvBuffer_, sizeof recvBuffer_);
            if (r.kind == SocketResult::Error || (r.kind == SocketResult::Done && r.count == 0)) break;
        }
    }
    ReleaseSocket(socket);
}

void WorkerCore::LinkLost(uint32_t reason)
{
    std::lock_guard<std::mutex> state(stateLock_);
    LinkLostLocked(reason);
}

void WorkerCore::LinkLostLocked(uint32_t reason)
{
    if (!connected_ || linkLost_ || closing_ || reason == 0) return;
    // During a connect the attempt itself fails; Connect tells the driver.
    if (connecting_) {
        RetireSocketLocked();
        return;
    }
    RetireSocketLocked();
    ReportLocked(REPORT_LINK_DOWN, reason, 0);
    linkLost_ = true;
    host_.CancelTimer(TIMER_ALIVE_TX);
    host_.CancelTimer(TIMER_ALIVE_RX);
    ArmReconnectLocked();
}

void WorkerCore::ArmReconnectLocked()
{
    host_.ArmTimer(TIMER_RECONNECT, kReconnectMs);
    SetLed(IND_ERR, kLedLinkLost);
    sentSinceUp_ = false;
    linkVerified_ = false;
}

void WorkerCore::OnReconnectTimer()
{
    {
        std::lock_guard<std::mutex> state(stateLock_);
        host_.CancelTimer(TIMER_RECONNECT);
        // A timer left over from a link that has since come back or been closed.
        if (!connected_ || !linkLost_) return;
    }
    Connect(true);
    std::lock_guard<std::mutex> state(stateLock_);
    if (connected_ && linkLost_) ArmReconnectLocked();
}

void WorkerCore::OnAliveTxTimer()
{
    {
        std::lock_guard<std::mutex> state(stateLock_);
        if (!UpLocked() || connecting_ || closing_) return;
        const uint64_t idle = Elapsed(host_.NowMs(), lastTxMs_);
        if (idle < aliveTxMs_) {
            host_.ArmTimer(TIMER_ALIVE_TX, static_cast<uint32_t>(aliveTxMs_ - idle));
            return;
        }
        host_.ArmTimer(TIMER_ALIVE_TX, aliveTxMs_);
    }
    SendMessage(InbandMessage::Alive());
}

void WorkerCore::OnAliveRxTimer()
{
    std::lock_guard<std::mutex> state(stateLock_);
    if (!UpLocked() || connecting_ || closing_) return;
    const uint64_t quiet = Elapsed(host_.NowMs(), lastRxMs_);
    const uint64_t limit = static_cast<uint64_t>(aliveRxMs_) + kAliveRxGraceMs;
    if (quiet < limit) {
        host_.ArmTimer(TIMER_ALIVE_RX, static_cast<uint32_t>(limit - quiet));
        return;
    }
    LinkLostLocked(kReasonSilent);
}

SocketHandle WorkerCore::AcquireSocketLocked(bool pump)
{
    if (!connected_ || linkLost_ || socket_ == kNoSocket) return kNoSocket;
    if (pump && (connecting_ || closing_)) return kNoSocket;
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

WorkerCore::SendOutcome WorkerCore::SendOnce(SocketHandle socket, const uint8_t* data, uint32_t length,
                                             uint32_t* sent)
{
    *sent = 0;
    const SocketResult r = host_.SocketSend(socket, data, length);
    if (r.kind == SocketResult::Error) {
        LinkLost(r.error);
        return SendOutcome::Failed;
    }
    if (r.kind == SocketResult::Done && r.count > 0) {
        *sent = r.count;
        lastTxMs_ = host_.NowMs();
        sentSinceUp_ = true;
        SetLed(IND_TX, kLedSent);
    }
    return *sent == length ? SendOutcome::Sent : SendOutcome::NotWritable;
}

WorkerCore::SendOutcome WorkerCore::FlushControlLocked(SocketHandle socket)
{
    for (;;) {
        if (control_.wireSent < control_.wireLength) {
            uint32_t sent = 0;
            const SendOutcome outcome = SendOnce(socket, control_.wire + control_.wireSent,
                                                 control_.wireLength - control_.wireSent, &sent);
            control_.wireSent += sent;
            if (outcome != SendOutcome::Sent) return outcome;
        }
        control_.wireLength = control_.wireSent = 0;
        if (control_.count == 0) return SendOutcome::Sent;
        // The oldest message waiting; it is under way (no longer replaced) once some of
        // it has left.
        const InbandMessage& next = control_.waiting[0];
        memcpy(control_.wire, next.bytes, next.length);
        {
            std::lock_guard<std::mutex> keys(keysLock_);
            keys_.EncodeTx(control_.wire, next.length);
        }
        uint32_t sent = 0;
        const SendOutcome outcome = SendOnce(socket, control_.wire, next.length, &sent);
        if (sent > 0) {
            control_.wireLength = next.length;
            control_.wireSent = sent;
            --control_.count;
            memmove(control_.waiting, control_.waiting + 1, control_.count * sizeof control_.waiting[0]);
        }
        if (outcome != SendOutcome::Sent) return outcome;
    }
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
        // Behind what waits already; a newer value of the same setting replaces the older.
        uint32_t at = 0;
        while (at < control_.count && control_.waiting[at].Command() != message.Command()) ++at;
        if (at == ControlQueue::kCapacity) at = ControlQueue::kCapacity - 1;
        control_.waiting[at] = message;
        if (at == control_.count) ++control_.count;
        outcome = FlushControlLocked(socket);
    }
    ReleaseSocket(socket);
    return outcome != SendOutcome::Failed;
}

}  // namespace worker
}  // namespace pta
