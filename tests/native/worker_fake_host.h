// A WorkerHost for tests: a driver device that records reports and serves queued writes,
// a device server at the other end of an in-memory socket (it decodes what the engine
// sends, answers the key and can be told to go silent or close), timers that only record,
// and a clock that moves while the worker waits for the socket.
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
    std::deque<std::vector<uint8_t>> appWrites;  // queued application writes
    uint32_t fetches = 0;
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
    uint32_t sendRoom = 1u << 30;  // bytes the socket takes before it is full
    uint32_t sendLimitPerCall = 1u << 30;
    uint32_t recvError = 0;
    bool peerClosed = false;

    // Timers: the armed period of each, 0 when not armed.
    uint32_t timers[kTimerCount] = {};
    uint32_t aliveTxArms = 0;

    uint64_t now = 1000;
    uint32_t wakes = 0;
    std::vector<bool> slotOpenChanges;

    bool Report(const LinkReport& report) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        reports.push_back(report);
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
    int32_t PutRx(const uint8_t* data, uint32_t length) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        ++putCalls;
        if (putLimit == -1) return -1;
        uint32_t take = putLimit < 0 ? length : std::min<uint32_t>(length, static_cast<uint32_t>(putLimit));
        rxDelivered.insert(rxDelivered.end(), data, data + take);
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
        if (!ready) now += timeoutUs / 1000 ? timeoutUs / 1000 : 1;
        return ready ? SocketReady::Ready : SocketReady::NotReady;
    }
    SocketResult SocketSend(SocketHandle s, const uint8_t* data, uint32_t length) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        if (s != socket || !socketOpen) return {SocketResult::Error, 0, 10038};
        const uint32_t n = std::min({length, sendRoom, sendLimitPerCall});
        if (n == 0) return {SocketResult::WouldBlock, 0, 0};
        if (sendRoom < (1u << 30)) sendRoom -= n;
        server.sendSizes.push_back(n);
        server.scanner.Receive(data, n, server);
        server.scanner.Flush(server);
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
        if (t == TIMER_ALIVE_TX) ++aliveTxArms;
    }
    void CancelTimer(WorkerTimer t) override
    {
        std::lock_guard<std::recursive_mutex> g(lock);
        timers[t] = 0;
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
        server.messages.clear();
        server.data.clear();
        server.sendSizes.clear();
    }
};

}  // namespace worker_test
