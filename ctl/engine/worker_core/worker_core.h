// WorkerCore: everything a port worker decides, without threads or system calls of its
// own. The shell's three threads call into it: ControlThread with each driver
// notification and timer, TxPumpThread and RxPumpThread with one pump pass at a time.
//
// Connection states: not connected (Connected 0), up (Connected 1, LinkLost 0),
// re-establishing (Connected 1, LinkLost 1). While a connect is under way (socket open,
// key exchange and settings not yet done, or the driver not yet told the link is up) the
// pumps leave the socket alone.
//
// Sending never waits for the network: a send is one attempt, and what the socket cannot
// take waits (data in the chunk and the ring, control messages in a small queue) while
// the pump waits for the socket to drain. A device server that does not read holds the
// data back, so that the application's writes stay pending in the driver; only the
// keep-alive rules declare a link lost.
//
// Locks, in this order: txPassLock_, then sendLock_ or rxLock_ (never both), then
// keysLock_, then stateLock_, then ringLock_. stateLock_ is never held across a send, a
// receive or a connect, so a sender or receiver may take it to report a lost link.
// sendLock_ is held for one send attempt at a time.
#pragma once

#include <string.h>

#include <atomic>
#include <mutex>

#include "link_key.h"
#include "net_tx_ring.h"
#include "receive_scanner.h"
#include "worker_host.h"

namespace pta {
namespace worker {

// The ten indicators of PortStatus, in their order.
enum Indicator : uint32_t {
    IND_ACT, IND_CON, IND_ERR, IND_TX, IND_RX, IND_RTS, IND_CTS, IND_DTR, IND_DSR, IND_DCD,
    kIndicatorCount,
};

// Indicator values: image indices of the monitor's status images.
constexpr uint32_t kLedOff = 1;
constexpr uint32_t kLedOn = 2;
constexpr uint32_t kLedSent = 3;      // TX: something was sent since the monitor looked
constexpr uint32_t kLedReceived = 4;  // RX: the socket had something to read
constexpr uint32_t kLedTxDropped = 4;  // ERR: bytes written before the last close could not leave
constexpr uint32_t kLedLinkLost = 5;   // ERR: the link is being re-established

struct PortStatus {
    uint32_t value[kIndicatorCount];
};

// Reason reported with REPORT_LINK_DOWN when the server fell silent or closed the
// connection (WSAECONNABORTED).
constexpr uint32_t kReasonSilent = 10053;

// Timing of the connection. Keep-alive times from the registry are taken within
// [kMinAliveMs, kMaxAliveMs]; 0 means the default.
constexpr uint32_t kDefaultAliveTxMs = 2500;
constexpr uint32_t kDefaultAliveRxMs = 7000;
constexpr uint32_t kMinAliveMs = 100;
constexpr uint32_t kMaxAliveMs = 24 * 3600 * 1000;
uint32_t AliveTimeOf(uint32_t stored, uint32_t fallback);
constexpr uint32_t kReconnectMs = 1000;
constexpr uint32_t kKeyWaitMs = 100;
// A server that sends exactly once per AliveRxTimer is not lost for a little lateness.
constexpr uint32_t kAliveRxGraceMs = 200;
// On the application's close: how long what it wrote may take to leave (well inside the
// driver's 10 s close handshake), and how long the server then has to end its side.
constexpr uint32_t kCloseDrainMs = 4000;
constexpr uint32_t kCloseLingerMs = 1000;
// How long the transmit pump waits at a time for a full socket to drain.
constexpr uint32_t kStallWaitUs = 10000;

// What a pump pass found, so that the shell knows how long it may wait.
enum class PumpPass : uint8_t {
    Idle,     // nothing to do until woken: the port is closed or the link is not up
    Quiet,    // up, and nothing moved: wait for the next event
    Busy,     // bytes moved: run again at once
    Blocked,  // the driver's receive ring is full: try again shortly
    Stalled,  // the socket takes no more: WaitWritable, then run again
};

class WorkerCore {
public:
    WorkerCore(uint32_t slot, uint32_t aliveTxMs, uint32_t aliveRxMs, WorkerHost& host);
    WorkerCore(const WorkerCore&) = delete;
    WorkerCore& operator=(const WorkerCore&) = delete;

    uint32_t Slot() const { return slot_; }

    // ControlThread: one driver notification, and the three timers.
    void OnNotification(const LinkNotification& notification);
    // The keep-alive timers go by the time of the last send and the last receive: a
    // tick that comes early re-arms its timer for the rest.
    void OnAliveTxTimer();
    void OnAliveRxTimer();
    void OnReconnectTimer();

    // TxPumpThread and RxPumpThread: one pass each. The receive pass waits at most
    // `waitUs` for the socket; after a Stalled transmit pass, WaitWritable waits at most
    // `waitUs` for the socket to take more.
    PumpPass TxPass();
    PumpPass RxPass(uint32_t waitUs);
    void WaitWritable(uint32_t waitUs);

    // Connection operations (Connect and the reconnection step run on ControlThread;
    // Disconnect there or on the owner's thread; LinkLost on any). A reconnection step
    // connects only while the link is still being re-established. Disconnect is
    // abortive: what is still queued for the server is dropped (and counted).
    void Connect(bool reconnection = false);
    void Disconnect();
    void LinkLost(uint32_t reason);
    // The answer to the application's close: what it wrote is sent first (for at most
    // kCloseDrainMs), the connection is ended in order, then Disconnect.
    void CloseRequest();

    // Owner: a stop is coming; waits and retries give up.
    void RequestStop() { stopping_.store(true); }
    bool Stopping() const { return stopping_.load(); }
    // Owner: whether the worker may stop (always with `force`; otherwise only while no
    // application has the port open, in which case InUse is cleared).
    bool MayStop(bool force);
    // Owner: the port is forced closed (Disconnect, driver told); true if it acted.
    bool ForceClose();

    // Set while the port is marked for removal: Connect refuses.
    void SetRemovalHold(bool hold) { removalHold_.store(hold); }
    bool RemovalHold() const { return removalHold_.load(); }

    // State, readable from any thread.
    bool InUse() const { return inUse_.load(); }
    bool Connected() const { return connected_.load(); }
    bool IsLinkLost() const { return linkLost_.load(); }
    bool LinkVerified() const { return linkVerified_.load(); }
    uint8_t KeyState() const { return keyState_.load(); }
    bool Raw() const { return raw_.load(); }
    uint32_t BaudIndex() const { return baudIndex_.load(); }
    uint32_t LineControl() const { return lineControl_.load(); }
    uint32_t ModemControl() const { return modemControl_.load(); }
    uint32_t ModemStatus() const { return modemStatus_.load(); }
    // Bytes the application was told were written that never left: the rest of the ring
    // and the chunk at each disconnect. A disconnect that drops some shows ERR 4.
    uint64_t DroppedTxBytes() const { return droppedTx_.load(); }
    const char* IpText() const { return ipText_; }
    uint32_t TcpPort() const { return tcpPort_; }
    LinkReport LastReport();

    // The ten indicators; the monitor reads them without a lock and puts TX and RX back
    // to idle after each look.
    PortStatus Status() const;
    uint32_t Indicator(Indicator which) const { return status_[which].load(std::memory_order_relaxed); }
    void ResetActivity();

    // Settings (also used by the notification handlers).
    void SetBaudIndex(uint32_t index);
    void SetLineControl(uint32_t value);
    void SetModemControl(uint32_t value);

private:
    class RxSink;
    struct SocketUse {
        SocketHandle handle;
        uint32_t users;
    };
    enum class SendOutcome : uint8_t { Sent, NotWritable, Failed };
    // Control messages that the socket could not take at once, each command at most once
    // (a newer value replaces the one waiting), oldest first; and the message under way,
    // encoded, which must end before any other byte goes. Under sendLock_.
    struct ControlQueue {
        static constexpr uint32_t kCapacity = 8;
        protocol::InbandMessage waiting[kCapacity];
        uint32_t count = 0;
        uint8_t wire[protocol::kInbandMaxLength];
        uint32_t wireLength = 0;
        uint32_t wireSent = 0;
        bool Empty() const { return count == 0 && wireSent == wireLength; }
        void Clear() { count = wireLength = wireSent = 0; }
    };
    // A modem status received behind data not yet handed to the driver: it is reported
    // once the data before it (up to `at` in the pending buffer) is in.
    struct QueuedStatus {
        uint32_t at;
        uint8_t status;
    };

    void SetLed(enum Indicator which, uint32_t value) { status_[which].store(value, std::memory_order_relaxed); }
    void LinkLostLocked(uint32_t reason);
    void ArmReconnectLocked();
    void ReportLocked(uint32_t kind, uint32_t failed, uint32_t status);
    void NotePortOpened(uint32_t value);
    void NotePortClosed();

    // Connect's parts.
    bool KeyExchange();
    void SendCurrentSettings();

    // The socket is shared by three threads: each use is counted, and a socket that is
    // given up while in use is shut down and closed by its last user.
    SocketHandle AcquireSocketLocked(bool pump);
    void ReleaseSocket(SocketHandle socket);
    void RetireSocketLocked();
    bool UpLocked() const { return connected_ && !linkLost_ && socket_ != kNoSocket; }

    // One send attempt of `length` bytes, already encoded; `sent` tells how many left.
    // Called with sendLock_ held.
    SendOutcome SendOnce(SocketHandle socket, const uint8_t* data, uint32_t length, uint32_t* sent);
    // Sends what the control queue holds, as far as the socket takes it. sendLock_ held.
    SendOutcome FlushControlLocked(SocketHandle socket);
    // One control message: sent now, or queued behind what the socket cannot take yet;
    // false only when there is no link or it broke.
    bool SendMessage(const protocol::InbandMessage& message);

    // The transmit pass with txPassLock_ held; `drained` tells whether nothing is left,
    // in the driver (a fetch found nothing), the ring, the chunk or the control queue.
    // `mustFetch`: fetch whether or not the driver signalled writes (the close's drain,
    // which needs an empty fetch to know that nothing is left).
    PumpPass TxPassLocked(bool* drained, bool mustFetch);
    // Sends what was written before the close, for at most kCloseDrainMs.
    void DrainForClose();
    // Ends the connection in order: no more sends, then what the server sends is read
    // and dropped until it ends its side too (at most kCloseLingerMs).
    void FinishConnection();

    // Receive processing of one block, with rxLock_ held.
    void ProcessBlock(const uint8_t* block, uint32_t length);
    // Reads once from the socket into the receive processing, at most `most` bytes, with
    // rxLock_ held. Returns false when the link broke; *full: the read filled its buffer
    // (more may be waiting).
    bool ReceiveOnce(SocketHandle socket, uint32_t waitUs, uint32_t most, bool* received, bool* full);
    // The most the driver's receive ring takes in one put (from empty).
    static constexpr uint32_t kDriverRingHolds = 8095;
    // Hands pending received data to the driver, each modem status after the data before
    // it; false while some of it stays.
    bool DeliverPending(bool* delivered);
    void VerifyLink(bool lastDeliveryOk);
    void QueueModemStatus(uint8_t status);
    void ReportModemStatus(uint8_t status);

    const uint32_t slot_;
    const uint32_t aliveTxMs_;
    const uint32_t aliveRxMs_;
    WorkerHost& host_;

    std::mutex txPassLock_;
    std::mutex stateLock_;
    std::mutex sendLock_;
    std::mutex rxLock_;
    std::mutex keysLock_;
    std::mutex ringLock_;

    std::atomic<bool> stopping_{false};
    std::atomic<bool> removalHold_{false};
    std::atomic<bool> inUse_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> linkLost_{false};
    std::atomic<bool> connecting_{false};
    std::atomic<bool> closing_{false};  // the connection is being ended in order
    std::atomic<bool> sentSinceUp_{false};
    std::atomic<bool> linkVerified_{false};
    std::atomic<uint8_t> keyState_{protocol::KEY_NONE};
    std::atomic<bool> raw_{false};
    std::atomic<uint32_t> protocol_{0};
    std::atomic<uint32_t> baudIndex_{kDefaultBaudIndex};
    std::atomic<uint32_t> lineControl_{3};
    std::atomic<uint32_t> modemControl_{3};
    std::atomic<uint32_t> modemStatus_{0};
    std::atomic<uint32_t> status_[kIndicatorCount];
    // Counts fresh sessions (not reconnections): a chunk of an earlier one is dropped.
    std::atomic<uint32_t> session_{0};
    // When bytes last left and last came (or the driver could not take what came).
    std::atomic<uint64_t> lastTxMs_{0};
    std::atomic<uint64_t> lastRxMs_{0};
    std::atomic<uint64_t> droppedTx_{0};

    // Under stateLock_.
    uint32_t ipAddress_ = 0;
    uint32_t tcpPort_ = 0;
    char ipText_[16] = {};
    uint32_t openedValue_ = 0;
    uint32_t epoch_ = 0;  // counts disconnects, so a connect knows it was overtaken
    SocketHandle socket_ = kNoSocket;
    SocketUse uses_[4] = {};
    LinkReport report_ = {};

    // Under keysLock_.
    protocol::LinkKeys keys_;
    protocol::KeyGenerator keyGen_;
    uint8_t key_[protocol::kKeyLength] = {};

    // Under ringLock_.
    protocol::NetTxRing ring_;

    // Under sendLock_.
    ControlQueue control_;

    // Under txPassLock_: the chunk being sent, kept in plain form until it is out.
    uint8_t txChunk_[protocol::kTransferBufferSize];
    uint32_t txChunkLength_ = 0;
    uint32_t txChunkSession_ = 0;
    uint8_t txWire_[protocol::kTransferBufferSize];
    uint8_t fetchBuffer_[protocol::kTransferBufferSize];

    // Under rxLock_: the scanner and received data not yet taken by the driver.
    protocol::ReceiveScanner scanner_;
    static constexpr uint32_t kPendingCapacity = 4 * protocol::kTransferBufferSize;
    uint8_t pending_[kPendingCapacity];
    uint32_t pendingStart_ = 0;
    uint32_t pendingEnd_ = 0;
    static constexpr uint32_t kStatusCapacity = 64;
    QueuedStatus statuses_[kStatusCapacity];
    uint32_t statusCount_ = 0;
    uint8_t recvBuffer_[protocol::kTransferBufferSize];
};

// Receive processing's output: data into the pending buffer, messages acted on.
class WorkerCore::RxSink : public protocol::ReceiveSink {
public:
    explicit RxSink(WorkerCore& core) : core_(core) {}
    bool Produced() const { return produced_; }

    void Deliver(const uint8_t* data, size_t length) override
    {
        // The caller leaves room for a whole block and the bytes the scanner holds.
        memcpy(core_.pending_ + core_.pendingEnd_, data, length);
        core_.pendingEnd_ += static_cast<uint32_t>(length);
        produced_ = true;
    }
    void OnMessage(const protocol::ReceivedMessage& message) override
    {
        if (message.command == protocol::MSG_MODEM_STATUS) core_.QueueModemStatus(message.payload[0]);
        if (message.command == protocol::MSG_KEY && message.keyAccepted) core_.keyState_ = protocol::KEY_ACTIVE;
    }

private:
    WorkerCore& core_;
    bool produced_ = false;
};

}  // namespace worker
}  // namespace pta
