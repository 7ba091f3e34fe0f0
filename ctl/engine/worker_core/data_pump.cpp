// The data pump: application writes fetched from the driver go through NetTxRing to the
// socket in chunks sized by the baud index, one send attempt at a time; received blocks
// lose their in-band messages and the rest goes to the driver, kept until the driver has
// taken all of it, with each modem status reported after the data before it.
#include <string.h>

#include "worker_core.h"

namespace pta {
namespace worker {

using namespace protocol;

PumpPass WorkerCore::TxPass()
{
    std::lock_guard<std::mutex> pass(txPassLock_);
    bool drained;
    return TxPassLocked(&drained, false);
}

PumpPass WorkerCore::TxPassLocked(bool* drained, bool mustFetch)
{
    *drained = false;
    if (!inUse_) return PumpPass::Idle;
    bool moved = false;

    bool fetch;
    {
        std::lock_guard<std::mutex> ring(ringLock_);
        fetch = ring_.ShouldFetch();
    }
    // Fetching again at once after every fetch would cost a request that mostly finds
    // nothing: the driver says when writes are queued. The signal is taken only when a
    // fetch can be made, so that one seen while the ring is full is kept for later.
    if (fetch && !mustFetch) fetch = host_.WritesSignalled();
    bool driverEmpty = false;
    if (fetch) {
        const int32_t got = host_.FetchTx(fetchBuffer_, sizeof fetchBuffer_);
        if (got > 0) {
            std::lock_guard<std::mutex> ring(ringLock_);
            // Cannot fail: a fetch is made only while a whole buffer fits.
            ring_.Put(fetchBuffer_, static_cast<uint32_t>(got));
            moved = true;
        } else {
            // Nothing queued (or the device does not answer): nothing more to come now.
            driverEmpty = true;
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
    SendOutcome outcome;
    {
        std::lock_guard<std::mutex> send(sendLock_);
        outcome = FlushControlLocked(socket);
    }
    while (outcome == SendOutcome::Sent && !stopping_) {
        if (txChunkLength_ == 0) {
            std::lock_guard<std::mutex> ring(ringLock_);
            txChunkLength_ = ring_.TakeChunk(txChunk_, baudIndex_);
            txChunkSession_ = session_;
        }
        if (txChunkLength_ == 0) break;
        uint32_t sent = 0;
        {
            std::lock_guard<std::mutex> send(sendLock_);
            // A control message queued meanwhile goes first, and one under way must end.
            outcome = FlushControlLocked(socket);
            if (outcome == SendOutcome::Sent) {
                memcpy(txWire_, txChunk_, txChunkLength_);
                {
                    std::lock_guard<std::mutex> keys(keysLock_);
                    keys_.EncodeTx(txWire_, txChunkLength_);
                }
                outcome = SendOnce(socket, txWire_, txChunkLength_, &sent);
            }
        }
        // What did not leave stays for the next pass, or for the reconnection.
        if (sent > 0) {
            moved = true;
            txChunkLength_ -= sent;
            memmove(txChunk_, txChunk_ + sent, txChunkLength_);
        }
    }
    ReleaseSocket(socket);
    if (outcome == SendOutcome::Failed) return PumpPass::Idle;
    if (outcome == SendOutcome::NotWritable) return PumpPass::Stalled;
    {
        std::lock_guard<std::mutex> send(sendLock_);
        std::lock_guard<std::mutex> ring(ringLock_);
        *drained = driverEmpty && txChunkLength_ == 0 && ring_.Used() == 0 && control_.Empty();
    }
    return moved ? PumpPass::Busy : PumpPass::Quiet;
}

void WorkerCore::WaitWritable(uint32_t waitUs)
{
    SocketHandle socket;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        socket = AcquireSocketLocked(true);
    }
    if (socket == kNoSocket) return;
    // An error shows at the next send.
    uint32_t error = 0;
    host_.SocketWait(socket, true, waitUs, &error);
    ReleaseSocket(socket);
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
            // silence that follows, so it counts as heard from meanwhile.
            lastRxMs_ = host_.NowMs();
            pass = PumpPass::Blocked;
        } else {
            bool received = false, full = false;
            bool up = ReceiveOnce(socket, waitUs, sizeof recvBuffer_, &received, &full);
            // A full read may have more behind it: one more without waiting, so that one
            // put hands the driver what its ring can take rather than a buffer at a time.
            const uint32_t held = pendingEnd_ - pendingStart_;
            if (up && full && held < kDriverRingHolds) {
                bool more = false;
                up = ReceiveOnce(socket, 0, kDriverRingHolds - held, &more, &full);
                received = received || more;
            }
            if (up) {
                const bool data = pendingEnd_ > pendingStart_;
                if ((data || statusCount_ > 0) && !DeliverPending(&delivered)) pass = PumpPass::Blocked;
                // A block of messages only counts as delivered.
                if (!data && received) VerifyLink(true);
            }
            if (pass != PumpPass::Blocked && (received || delivered)) pass = PumpPass::Busy;
        }
    }
    ReleaseSocket(socket);
    return pass;
}

bool WorkerCore::ReceiveOnce(SocketHandle socket, uint32_t waitUs, uint32_t most, bool* received, bool* full)
{
    *received = false;
    *full = false;
    // What the driver took goes; what it did not moves to the front, and the modem
    // statuses waiting behind it with it.
    const uint32_t shift = pendingStart_;
    if (shift > 0) {
        memmove(pending_, pending_ + shift, pendingEnd_ - shift);
        pendingEnd_ -= shift;
        pendingStart_ = 0;
        for (uint32_t i = 0; i < statusCount_; ++i) statuses_[i].at -= shift;
    }
    const uint32_t room = kPendingCapacity - pendingEnd_;
    if (room <= ReceiveScanner::kMaxHeld) return true;
    uint32_t size = room - static_cast<uint32_t>(ReceiveScanner::kMaxHeld);
    if (size > sizeof recvBuffer_) size = sizeof recvBuffer_;
    if (size > most) size = most;

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
    *full = r.count == size;
    return true;
}

void WorkerCore::ProcessBlock(const uint8_t* block, uint32_t length)
{
    lastRxMs_ = host_.NowMs();
    RxSink sink(*this);
    std::lock_guard<std::mutex> keys(keysLock_);
    scanner_.Receive(block, length, sink);
}

void WorkerCore::QueueModemStatus(uint8_t status)
{
    if (statusCount_ == kStatusCapacity) {
        // Full: the newest joins the last one waiting, at the later place (late rather
        // than early); the change bits of both stay set, as a 16550 keeps them until read.
        QueuedStatus& last = statuses_[statusCount_ - 1];
        last.status = static_cast<uint8_t>((status & 0xF0) | ((last.status | status) & 0x0F));
        last.at = pendingEnd_;
        return;
    }
    statuses_[statusCount_++] = {pendingEnd_, status};
}

bool WorkerCore::DeliverPending(bool* delivered)
{
    for (;;) {
        // Data up to the next modem status (or all of it), then that status.
        const uint32_t stop = statusCount_ > 0 ? statuses_[0].at : pendingEnd_;
        if (stop > pendingStart_) {
            const int32_t taken = host_.PutRx(pending_ + pendingStart_, stop - pendingStart_);
            if (taken < 0) {
                // A refused delivery is not retried.
                pendingStart_ = stop;
                VerifyLink(false);
            } else {
                *delivered = *delivered || taken > 0;
                pendingStart_ += static_cast<uint32_t>(taken);
                if (pendingStart_ < stop) return false;
                VerifyLink(true);
            }
        }
        if (statusCount_ == 0) break;
        const uint8_t status = statuses_[0].status;
        --statusCount_;
        memmove(statuses_, statuses_ + 1, statusCount_ * sizeof statuses_[0]);
        ReportModemStatus(status);
    }
    pendingStart_ = pendingEnd_ = 0;
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
