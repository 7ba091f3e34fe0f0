// A WorkerHost for tests: a driver device that records reports and serves queued writes,
// a device server at the other end of an in-memory socket (it decodes what the engine
// sends, answers the key, can be told to go silent, to close, to stop reading or to read
// slowly), timers that record when they are due, and a clock that starts 50 days after
// boot (past 32 bits of milliseconds) and moves while the worker waits for the socket.
#pragma once

#include <stdio.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "protocol_recorder.h"
#include "registry_layout.h"
#include "worker_core.h"

namespace worker_test {

using namespace pta;
using namespace pta::worker;
using protocol_test::Hex;

// The device server's side of the link: decodes what the engine sends into messages and
// data, answers MSG_KEY, and encodes what it sends once its key is out.
struct FakeServer : protocol::ReceiveSink {
    protocol::LinkKeys keys;
    protocol::ReceiveScanner scanner{protocol::LinkSide::DeviceServer, keys};
    std::vector<std::string> messages;  // "S 06", "E", "A 00", ...
    std::vector<uint8_t> data;          // application bytes as decoded
    std::vector<uint32_t> sendSizes;    // length of every send call that moved bytes
    std::deque<uint8_t> toEngine;
    bool answerKey = true;

    void Deliver(const uint8_t* bytes, size_t length) override { data.insert(data.end(), bytes, bytes + length); }
    void OnMessage(const protocol::ReceivedMessage& m) override
    {
        messages.push_back(m.command == protocol::MSG_KEY
                               ? std::string("E")
                               : std::string(1, static_cast<char>(m.command)) + " " + Hex(m.payload, m.payloadLength));
        if (m.command == protocol::MSG_KEY && m.keyAccepted && answerKey) {
            const uint8_t key[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 11, 12, 13, 14, 15, 16};
            const protocol::InbandMessage answer = keys.Answer(key);
            toEngine.insert(toEngine.end(), answer.bytes, answer.bytes + answer.length);
        }
    }
    void Reset()
    {
        keys.Reset();
        keys.Expect();
        scanner.Reset();
        toEngine.clear();
    }
    // Bytes the server sends (data or messages), encoded once its key is out.
    void Send(std::vector<uint8_t> bytes)
    {
        keys.EncodeTx(bytes.data(), bytes.size());
        toEngine.insert(toEngine.end(), bytes.begin(), bytes.end());
    }
};

class FakeHost : public WorkerHost {
public:
    std::recursive_mutex lock;

    // Driver.
    std::vector<LinkReport> reports;
    std::vector<std::string> driverEvents;  // "put 41 42", "report 3 48 0", in order
    std::deque<std::vector<uint8_t>> appWrites;  // queued application writes
    uint32_t fetches = 0;
    bool writesSignalled = true;  // what WritesSignalled answers
    uint32_t signalQueries = 0;
    std::vector<uint8_t> rxDelivered;
    uint32_t putCalls = 0;
    int32_t putLimit = -2;  // -2: take everything; -1: fail; n: take at most n per call
    uint32_t forceCloses = 0;

    // Settings and server.
    SlotConfig config = {0x7F000001, 4001, 0};
    uint32_t connectError = 0;
    uint32_t connects = 0;
    FakeServer server;
    bool socketOpen = false;
    SocketHandle nextSocket = 100;
    SocketHandle socket = kNoSocket;
    std::vector<SocketHandle> closed;
    uint32_t sendBuffer = 0;
    uint32_t sendRoom = kUnlimited;  // bytes the socket takes before it is full
    uint32_t sendLimitPerCall = kUnlimited;
    uint32_t readPerMs = 0;         // while full, the server makes this much room a millisecond
    uint32_t recvError = 0;
    bool peerClosed = false;
    bool closesOnEnd = true;        // the server ends its side when the engine ends its own
    uint32_t sendShutdowns = 0;

    // Timers: the armed period of each (0 when not armed) and when it is due next.
    uint32_t timers[kTimerCount] = {};
    uint64_t due[kTimerCount] = {};
    uint32_t aliveTxArms = 0;

    static constexpr uint64_t kBoot = 50ull * 24 * 3600 * 1000;
    static constexpr uint32_t kUnlimited = 1u << 30;
    uint64_t now = kBoot + 7 * 3600 * 1000;
    uint32_t wakes = 0;
    std::vector<bool> slotOpenChanges;

    bool Report(const LinkReport& report) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        reports.push_back(report);
        char b[48];
        snprintf(b, sizeof b, "report %u %u %X", report.Kind, report.Failed, report.Status);
        driverEvents.push_back(b);
        return true;
    }
    int32_t FetchTx(uint8_t* buffer, uint32_t size) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        ++fetches;
        uint32_t copied = 0;
        while (!appWrites.empty() && appWrites.front().size() <= size - copied) {
            std::copy(appWrites.front().begin(), appWrites.front().end(), buffer + copied);
            copied += static_cast<uint32_t>(appWrites.front().size());
            appWrites.pop_front();
        }
        return static_cast<int32_t>(copied);
    }
    bool WritesSignalled() override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        ++signalQueries;
        return writesSignalled;
    }
    int32_t PutRx(const uint8_t* data, uint32_t length) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        ++putCalls;
        if (putLimit == -1) return -1;
        uint32_t take = putLimit < 0 ? length : std::min<uint32_t>(length, static_cast<uint32_t>(putLimit));
        rxDelivered.insert(rxDelivered.end(), data, data + take);
        if (take > 0) driverEvents.push_back("put " + Hex(data, take));
        return static_cast<int32_t>(take);
    }
    bool SendForceClose() override { return ++forceCloses, true; }
    SlotConfig ReadSlotConfig() override { return config; }

    uint32_t SocketConnect(uint32_t, uint16_t, const std::atomic<bool>*, SocketHandle* out) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        ++connects;
        if (connectError) return connectError;
        socket = *out = nextSocket++;
        socketOpen = true;
        peerClosed = false;
        recvError = 0;
        server.Reset();
        return 0;
    }
    uint32_t SocketSetSendBuffer(SocketHandle, uint32_t bytes) override { return sendBuffer = bytes; }
    SocketReady SocketWait(SocketHandle s, bool forWrite, uint32_t timeoutUs, uint32_t*) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        const bool ready = s != socket || !socketOpen ? true
                           : forWrite              ? sendRoom > 0
                                                   : (!server.toEngine.empty() || peerClosed || recvError);
        if (!ready) {
            const uint32_t ms = timeoutUs / 1000 ? timeoutUs / 1000 : 1;
            now += ms;
            if (forWrite) sendRoom += readPerMs * ms;
        }
        return ready ? SocketReady::Ready : SocketReady::NotReady;
    }
    SocketResult SocketSend(SocketHandle s, const uint8_t* data, uint32_t length) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        if (s != socket || !socketOpen) return {SocketResult::Error, 0, 10038};
        const uint32_t n = std::min({length, sendRoom, sendLimitPerCall});
        if (n == 0) return {SocketResult::WouldBlock, 0, 0};
        if (sendRoom < kUnlimited) sendRoom -= n;
        server.sendSizes.push_back(n);
        // A server reads what came; only the end of a whole send decides bytes held as a
        // possible message start (a partial send is followed by the rest).
        server.scanner.Receive(data, n, server);
        if (n == length) server.scanner.Flush(server);
        return {SocketResult::Done, n, 0};
    }
    SocketResult SocketRecv(SocketHandle s, uint8_t* buffer, uint32_t size) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        if (s != socket || !socketOpen) return {SocketResult::Error, 0, 10038};
        if (recvError) return {SocketResult::Error, 0, recvError};
        uint32_t n = 0;
        while (n < size && !server.toEngine.empty()) {
            buffer[n++] = server.toEngine.front();
            server.toEngine.pop_front();
        }
        if (n == 0 && !peerClosed) return {SocketResult::WouldBlock, 0, 0};
        return {SocketResult::Done, n, 0};
    }
    void SocketShutdown(SocketHandle s) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        if (s == socket) socketOpen = false;
    }
    void SocketShutdownSend(SocketHandle s) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        ++sendShutdowns;
        if (s == socket && closesOnEnd) peerClosed = true;
    }
    void SocketClose(SocketHandle s) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        closed.push_back(s);
        if (s == socket) socketOpen = false;
    }
    void ArmTimer(WorkerTimer t, uint32_t ms) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        timers[t] = ms;
        due[t] = now + ms;
        if (t == TIMER_ALIVE_TX) ++aliveTxArms;
    }
    void CancelTimer(WorkerTimer t) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        timers[t] = 0;
        due[t] = 0;
    }
    void WakePumps() override { ++wakes; }
    void SlotOpenChanged(bool open) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        slotOpenChanges.push_back(open);
    }
    uint64_t NowMs() override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        return now;
    }
    uint64_t RandomSeed() override { return 42; }

    // Reports as text, for comparing with tables: "1 0 0", "4 10053 0".
    std::vector<std::string> ReportTexts()
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        std::vector<std::string> out;
        char b[48];
        for (const LinkReport& r : reports) {
            snprintf(b, sizeof b, "%u %u %X", r.Kind, r.Failed, r.Status);
            out.push_back(b);
        }
        return out;
    }
    void ClearRecords()
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        reports.clear();
        driverEvents.clear();
        server.messages.clear();
        server.data.clear();
        server.sendSizes.clear();
    }
};

// Lets `ms` of the clock pass, firing each timer as it falls due (a periodic timer comes
// again after its period unless its handler armed it anew), the way ControlThread does.
inline void RunTimers(FakeHost& host, WorkerCore& core, uint64_t ms)
{
    const uint64_t end = host.now + ms;
    for (;;) {
        int next = -1;
        for (int t = 0; t < static_cast<int>(kTimerCount); ++t) {
            if (host.due[t] != 0 && host.due[t] <= end && (next < 0 || host.due[t] < host.due[next])) next = t;
        }
        if (next < 0) break;
        host.now = std::max(host.now, host.due[next]);
        host.due[next] = host.now + host.timers[next];
        switch (next) {
        case TIMER_ALIVE_TX: core.OnAliveTxTimer(); break;
        case TIMER_ALIVE_RX: core.OnAliveRxTimer(); break;
        default: core.OnReconnectTimer(); break;
        }
    }
    host.now = std::max(host.now, end);
}

}  // namespace worker_test
