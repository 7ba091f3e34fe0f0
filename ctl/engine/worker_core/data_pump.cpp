// The data pump: application writes fetched from the driver go through NetTxRing to the
// socket in chunks sized by the baud index; received blocks lose their in-band messages
// and the rest goes to the driver, kept until the driver has taken all of it.
#include <string.h>

#include "worker_core.h"

namespace pta {
namespace worker {

using namespace protocol;

PumpPass WorkerCore::TxPass()
{
    if (!inUse_) return PumpPass::Idle;
    bool moved = false;

    bool fetch;
    {
        std::lock_guard<std::mutex> ring(ringLock_);
        fetch = ring_.ShouldFetch();
    }
    if (fetch) {
        const int32_t got = host_.FetchTx(fetchBuffer_, sizeof fetchBuffer_);
        if (got > 0) {
            std::lock_guard<std::mutex> ring(ringLock_);
            // Cannot fail: a fetch is made only while a whole buffer fits.
            ring_.Put(fetchBuffer_, static_cast<uint32_t>(got));
            moved = true;
        }
    }

    SocketHandle socket;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        socket = AcquireSocketLocked(true);
    }
    if (socket == kNoSocket) return moved ? PumpPass::Busy : PumpPass::Idle;

    // A chunk left from an earlier session is not this application's data.
    if (txChunkLength_ > 0 && txChunkSession_ != session_) txChunkLength_ = 0;
    while (!stopping_) {
        if (txChunkLength_ == 0) {
            std::lock_guard<std::mutex> ring(ringLock_);
            txChunkLength_ = ring_.TakeChunk(txChunk_, baudIndex_);
            txChunkSession_ = session_;
        }
        if (txChunkLength_ == 0) break;
        SendOutcome outcome;
        uint32_t sent = 0;
        {
            std::lock_guard<std::mutex> send(sendLock_);
            memcpy(txWire_, txChunk_, txChunkLength_);
            {
                std::lock_guard<std::mutex> keys(keysLock_);
                keys_.EncodeTx(txWire_, txChunkLength_);
            }
            outcome = SendAll(socket, txWire_, txChunkLength_, &sent);
        }
        // What did not leave stays for the next pass, or for the reconnection.
        if (outcome != SendOutcome::Sent) {
            txChunkLength_ -= sent;
            memmove(txChunk_, txChunk_ + sent, txChunkLength_);
            break;
        }
        txChunkLength_ = 0;
        moved = true;
    }
    ReleaseSocket(socket);
    return moved ? PumpPass::Busy : PumpPass::Quiet;
}

PumpPass WorkerCore::RxPass(uint32_t waitUs)
{
    if (!inUse_) return PumpPass::Idle;
    SocketHandle socket;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        socket = AcquireSocketLocked(true);
    }
    if (socket == kNoSocket) return PumpPass::Idle;

    PumpPass pass = PumpPass::Quiet;
    {
        std::lock_guard<std::mutex> rx(rxLock_);
        bool delivered = false;
        if (!DeliverPending(&delivered)) {
            // The application is not reading: the server is not to blame for the
            // silence that follows, so the receive keep-alive is held off meanwhile.
            const uint64_t now = host_.NowMs();
            if (now - lastBlockedArmMs_ >= aliveRxMs_ / 4) {
                lastBlockedArmMs_ = now;
                host_.ArmTimer(TIMER_ALIVE_RX, aliveRxMs_);
            }
            pass = PumpPass::Blocked;
        } else {
            bool received = false;
            if (ReceiveOnce(socket, waitUs, &received)) {
                if (pendingEnd_ > pendingStart_) {
                    if (!DeliverPending(&delivered)) pass = PumpPass::Blocked;
                } else if (received) {
                    // A block of messages only counts as delivered.
                    VerifyLink(true);
                }
            }
            if (pass != PumpPass::Blocked && (received || delivered)) pass = PumpPass::Busy;
        }
    }
    ReleaseSocket(socket);
    return pass;
}

bool WorkerCore::ReceiveOnce(SocketHandle socket, uint32_t waitUs, bool* received)
{
    *received = false;
    if (pendingStart_ == pendingEnd_) {
        pendingStart_ = pendingEnd_ = 0;
    } else if (pendingStart_ > 0) {
        memmove(pending_, pending_ + pendingStart_, pendingEnd_ - pendingStart_);
        pendingEnd_ -= pendingStart_;
        pendingStart_ = 0;
    }
    const uint32_t room = kPendingCapacity - pendingEnd_;
    if (room <= ReceiveScanner::kMaxHeld) return true;
    uint32_t size = room - static_cast<uint32_t>(ReceiveScanner::kMaxHeld);
    if (size > sizeof recvBuffer_) size = sizeof recvBuffer_;

    uint32_t error = 0;
    const SocketReady ready = host_.SocketWait(socket, false, waitUs, &error);
    if (ready == SocketReady::Error) {
        LinkLost(error);
        return false;
    }
    if (ready == SocketReady::NotReady) {
        // The stream is idle: bytes held as a possible message start are decided now.
        if (scanner_.Held() > 0) {
            RxSink sink(*this);
            std::lock_guard<std::mutex> keys(keysLock_);
            scanner_.Flush(sink);
        }
        return true;
    }
    SetLed(IND_RX, kLedReceived);
    const SocketResult r = host_.SocketRecv(socket, recvBuffer_, size);
    if (r.kind == SocketResult::WouldBlock) return true;
    if (r.kind == SocketResult::Error) {
        LinkLost(r.error);
        return false;
    }
    if (r.count == 0) {
        // The server closed the connection: the link is lost now, not after the
        // keep-alive time with the socket polled all along.
        LinkLost(kReasonSilent);
        return false;
    }
    ProcessBlock(recvBuffer_, r.count);
    *received = true;
    return true;
}

void WorkerCore::ProcessBlock(const uint8_t* block, uint32_t length)
{
    host_.ArmTimer(TIMER_ALIVE_RX, aliveRxMs_);
    RxSink sink(*this);
    std::lock_guard<std::mutex> keys(keysLock_);
    scanner_.Receive(block, length, sink);
}

bool WorkerCore::DeliverPending(bool* delivered)
{
    const uint32_t length = pendingEnd_ - pendingStart_;
    if (length == 0) return true;
    const int32_t taken = host_.PutRx(pending_ + pendingStart_, length);
    if (taken < 0) {
        // A refused delivery is not retried.
        pendingStart_ = pendingEnd_ = 0;
        VerifyLink(false);
        return true;
    }
    *delivered = *delivered || taken > 0;
    pendingStart_ += static_cast<uint32_t>(taken);
    if (pendingStart_ < pendingEnd_) return false;
    VerifyLink(true);
    return true;
}

void WorkerCore::VerifyLink(bool lastDeliveryOk)
{
    if (linkVerified_ || !lastDeliveryOk || !sentSinceUp_) return;
    std::lock_guard<std::mutex> state(stateLock_);
    // A loss raised meanwhile by another thread stands: only the reconnection clears it.
    if (!inUse_ || !connected_ || linkLost_) return;
    linkVerified_ = true;
    SetLed(IND_ERR, kLedOff);
}

}  // namespace worker
}  // namespace pta
