// The worker's data pump: chunking by baud index, the fetch rule, receive processing with
// in-band messages, link verification, and bytes that must not be lost on the way.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "worker_fake_host.h"

using namespace worker_test;
using protocol_test::Bytes;

namespace {

struct OpenWorker {
    FakeHost host;
    WorkerCore core{0, 2500, 7000, host};

    explicit OpenWorker(uint32_t protocol = ProtocolCom)
    {
        host.config.protocol = protocol;
        core.OnNotification({NOTIFY_OPEN_REQUEST, 0});
        core.OnNotification({NOTIFY_PORT_OPENED, 5});
        host.ClearRecords();
    }
    void AtBaud(uint32_t index)
    {
        core.OnNotification({NOTIFY_BAUD_RATE, index});
        host.ClearRecords();
    }
};

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
    return v;
}

// The application writes `data` in writes of `size` bytes, queued in the driver.
void QueueWrites(FakeHost& host, const std::vector<uint8_t>& data, size_t size)
{
    for (size_t at = 0; at < data.size(); at += size)
        host.appWrites.push_back(std::vector<uint8_t>(data.begin() + at, data.begin() + std::min(data.size(), at + size)));
}

}  // namespace

TEST(WorkerPump, ChunksFollowTheBaudIndex)
{
    struct Case {
        uint32_t baud, bytes;
        std::vector<uint32_t> sizes;
    } cases[] = {
        {6, 1000, std::vector<uint32_t>(15, 64)},  // plus one of 40, added below
        {0, 40, {32, 8}},
        {10, 1024, {512, 512}},
        {13, 3000, {2048, 952}},
    };
    cases[0].sizes.push_back(40);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baud);
        OpenWorker w;
        w.AtBaud(c.baud);
        const auto data = Pattern(c.bytes);
        w.host.appWrites.push_back(data);
        EXPECT_EQ(w.core.TxPass(), PumpPass::Busy);
        EXPECT_EQ(w.host.server.sendSizes, c.sizes);
        EXPECT_EQ(w.host.server.data, data);
        EXPECT_EQ(w.core.Indicator(IND_TX), kLedSent);
        // Nothing more queued: the next pass fetches once and finds nothing.
        EXPECT_EQ(w.core.TxPass(), PumpPass::Quiet);
    }
}

TEST(WorkerPump, NothingIsFetchedWhileTheRingCannotTakeAWholeBuffer)
{
    OpenWorker w;
    // The socket takes nothing: the first chunk waits, and the fetched bytes pile up in
    // the ring. The link stays up: a server that does not read is holding the data back.
    w.host.sendRoom = 0;
    for (uint32_t size : {4032u, 4032u, 4096u, 100u}) w.host.appWrites.push_back(std::vector<uint8_t>(size, 1));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(w.core.TxPass(), PumpPass::Stalled);
    EXPECT_FALSE(w.core.IsLinkLost());
    // 12160 fetched, one 64-byte chunk taken out: 12096 in the ring, 4096 free, which is
    // not more than a whole buffer, so the last write stays with the driver.
    EXPECT_EQ(w.host.fetches, 3u);
    EXPECT_EQ(w.host.appWrites.size(), 1u);
}

TEST(WorkerPump, PartialSendsLoseNothing)
{
    OpenWorker w;
    w.AtBaud(13);
    w.host.sendLimitPerCall = 700;
    const auto data = Pattern(4000);
    w.host.appWrites.push_back(data);
    // A partial send ends the pass; the rest goes in the passes after it.
    EXPECT_EQ(w.core.TxPass(), PumpPass::Stalled);
    while (w.core.TxPass() != PumpPass::Quiet) {
    }
    EXPECT_EQ(w.host.server.data, data);
}

TEST(WorkerPump, ReceivedBlocksLoseTheirMessages)
{
    struct Case {
        std::vector<uint8_t> block;
        std::vector<uint8_t> delivered;
        uint32_t cts, dsr, dcd;
        std::vector<std::string> reports;
    } cases[] = {
        {Bytes({0x41, 0x42, 0x7F, 0xFE, 0x6D, 0x30, 0xF7, 0x43}), Bytes({0x41, 0x42, 0x43}), 2, 2, 1, {"3 48 0"}},
        {Bytes({0x7F, 0xFE, 0x41, 0x00, 0xF7}), {}, 1, 1, 1, {}},
        {Bytes({0x7F, 0xFE, 0x6D, 0x30}), Bytes({0x7F, 0xFE, 0x6D, 0x30}), 1, 1, 1, {}},
        {Bytes({0x7F, 0x7F, 0xFE, 0x41, 0x00, 0xF7}), Bytes({0x7F}), 1, 1, 1, {}},
        {Bytes({0x7F, 0xFE, 0x70, 0x01, 0xF7, 0x55}), Bytes({0x55}), 1, 1, 1, {}},
        {Bytes({0x7F, 0xFE, 0x6D, 0x90, 0xF7}), {}, 2, 1, 2, {"3 144 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.block.data(), c.block.size()));
        OpenWorker w;
        w.host.server.Send(c.block);
        w.core.RxPass(0);
        w.core.RxPass(0);  // the socket is idle now: held bytes are decided
        EXPECT_EQ(w.host.rxDelivered, c.delivered);
        EXPECT_EQ(w.core.Indicator(IND_CTS), c.cts);
        EXPECT_EQ(w.core.Indicator(IND_DSR), c.dsr);
        EXPECT_EQ(w.core.Indicator(IND_DCD), c.dcd);
        EXPECT_EQ(w.host.ReportTexts(), c.reports);
        EXPECT_EQ(w.core.Indicator(IND_RX), kLedReceived);
    }
}

TEST(WorkerPump, NothingIsReadWhileNoApplicationHasThePortOpen)
{
    FakeHost host;
    WorkerCore core(0, 2500, 7000, host);
    core.OnNotification({NOTIFY_OPEN_REQUEST, 0});
    host.server.Send(Bytes({1, 2, 3}));
    host.appWrites.push_back(Bytes({4}));
    EXPECT_EQ(core.RxPass(0), PumpPass::Idle);
    EXPECT_EQ(core.TxPass(), PumpPass::Idle);
    EXPECT_EQ(host.server.toEngine.size(), 3u);
    EXPECT_EQ(host.fetches, 0u);
    // Once the port is open they flow.
    core.OnNotification({NOTIFY_PORT_OPENED, 5});
    core.RxPass(0);
    EXPECT_EQ(host.rxDelivered, Bytes({1, 2, 3}));
}

TEST(WorkerPump, BytesTheDriverCannotTakeYetAreHandedInLater)
{
    OpenWorker w;
    const auto data = Pattern(3000);
    w.host.server.Send(data);
    w.host.putLimit = 0;
    EXPECT_EQ(w.core.RxPass(0), PumpPass::Blocked);
    EXPECT_EQ(w.core.RxPass(0), PumpPass::Blocked);
    w.host.putLimit = 1000;
    while (w.core.RxPass(0) != PumpPass::Quiet) {
    }
    EXPECT_EQ(w.host.rxDelivered, data);
    EXPECT_EQ(w.host.ReportTexts(), std::vector<std::string>{});  // the link stays up
}

// A burst larger than one receive reaches the driver in puts as large as its ring takes:
// a full read is followed by one more, without waiting, before the put.
TEST(WorkerPump, ABurstIsHandedInUpToTheDriversRingAtATime)
{
    struct Case {
        size_t bytes;
        std::vector<uint32_t> puts;  // bytes per put
    } cases[] = {
        {100, {100}},
        {4096, {4096}},
        {5000, {5000}},
        {20000, {8095, 8095, 3810}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        OpenWorker w;
        const auto data = Pattern(c.bytes);
        w.host.server.Send(data);
        std::vector<uint32_t> puts;
        size_t before = 0;
        for (int i = 0; i < 10 && w.host.rxDelivered.size() < c.bytes; ++i) {
            w.core.RxPass(0);
            if (w.host.rxDelivered.size() > before) puts.push_back(static_cast<uint32_t>(w.host.rxDelivered.size() - before));
            before = w.host.rxDelivered.size();
        }
        EXPECT_EQ(w.host.rxDelivered, data);
        EXPECT_EQ(puts, c.puts);
        EXPECT_EQ(w.host.putCalls, c.puts.size());
    }
}

TEST(WorkerPump, LinkIsVerifiedOnceDataFlowedBothWays)
{
    // The settings messages count as sent; a received block completes the check.
    OpenWorker w;
    EXPECT_FALSE(w.core.LinkVerified());
    w.host.server.Send(Bytes({7}));
    w.core.RxPass(0);
    EXPECT_TRUE(w.core.LinkVerified());
    // "Raw" sends no settings: nothing was sent yet, so nothing is verified.
    OpenWorker quiet(ProtocolRaw);
    quiet.host.server.Send(Bytes({7}));
    quiet.core.RxPass(0);
    EXPECT_FALSE(quiet.core.LinkVerified());
    // A failed delivery does not verify.
    OpenWorker refused;
    refused.host.putLimit = -1;
    refused.host.server.Send(Bytes({7}));
    refused.core.RxPass(0);
    EXPECT_FALSE(refused.core.LinkVerified());
}

TEST(WorkerPump, FirstKeyExchangeKeepsTheDataThatFollowsTheKey)
{
    // The server answers the key and sends data and a modem status right behind it,
    // before the driver has the port open.
    FakeHost host;
    WorkerCore core(0, 2500, 7000, host);
    host.config.protocol = ProtocolEncryption;
    core.OnNotification({NOTIFY_OPEN_REQUEST, 0});
    ASSERT_EQ(host.ReportTexts(), std::vector<std::string>{"1 0 0"});
    host.server.Send(Bytes({0x10, 0x7F, 0xFE, 0x6D, 0x10, 0xF7, 0x20}));
    core.OnNotification({NOTIFY_PORT_OPENED, 5});
    core.RxPass(0);
    EXPECT_EQ(host.rxDelivered, Bytes({0x10, 0x20}));
    EXPECT_EQ(core.Indicator(IND_CTS), kLedOn);
}

TEST(WorkerPump, UnsentBytesSurviveAReconnection)
{
    OpenWorker w;
    const auto data = Pattern(3000);
    w.host.appWrites.push_back(data);
    w.host.sendRoom = 1000;  // 1000 bytes leave, then the socket stays full
    EXPECT_EQ(w.core.TxPass(), PumpPass::Stalled);
    // ... and the server falls silent as well: lost by the keep-alive.
    RunTimers(w.host, w.core, 7000 + kAliveRxGraceMs);
    ASSERT_TRUE(w.core.IsLinkLost());
    w.host.sendRoom = FakeHost::kUnlimited;
    EXPECT_EQ(w.host.server.data.size(), 1000u);
    w.core.OnReconnectTimer();
    ASSERT_FALSE(w.core.IsLinkLost());
    w.core.TxPass();
    const std::vector<uint8_t>& all = w.host.server.data;  // both connections
    EXPECT_EQ(all, data);
}

// A modem status reaches the driver after the data that came before it, also when the
// driver's ring takes that data only bit by bit.
TEST(WorkerPump, ModemStatusWaitsBehindTheDataBeforeIt)
{
    using Events = std::vector<std::string>;
    const std::vector<uint8_t> block = Bytes({0x41, 0x42, 0x7F, 0xFE, 0x6D, 0x30, 0xF7, 0x43});
    {
        OpenWorker w;
        w.host.server.Send(block);
        w.core.RxPass(0);
        EXPECT_EQ(w.host.driverEvents, (Events{"put 41 42", "report 3 48 0", "put 43"}));
    }
    {
        OpenWorker w;
        w.host.putLimit = 0;  // the application is not reading
        w.host.server.Send(block);
        EXPECT_EQ(w.core.RxPass(0), PumpPass::Blocked);
        EXPECT_TRUE(w.host.driverEvents.empty());
        EXPECT_EQ(w.core.Indicator(IND_CTS), kLedOff);
        w.host.putLimit = 1;
        EXPECT_EQ(w.core.RxPass(0), PumpPass::Blocked);
        EXPECT_EQ(w.host.driverEvents, Events{"put 41"});
        while (w.core.RxPass(0) != PumpPass::Quiet) {
        }
        EXPECT_EQ(w.host.driverEvents, (Events{"put 41", "put 42", "report 3 48 0", "put 43"}));
        EXPECT_EQ(w.core.Indicator(IND_CTS), kLedOn);
    }
    {
        // Statuses in a row, and one behind data that arrives in a later block.
        OpenWorker w;
        w.host.putLimit = 0;
        w.host.server.Send(Bytes({0x7F, 0xFE, 0x6D, 0x10, 0xF7, 0x7F, 0xFE, 0x6D, 0x30, 0xF7, 0x01}));
        w.core.RxPass(0);
        w.host.server.Send(Bytes({0x02, 0x7F, 0xFE, 0x6D, 0x00, 0xF7}));
        w.core.RxPass(0);
        w.host.putLimit = -2;
        while (w.core.RxPass(0) != PumpPass::Quiet) {
        }
        EXPECT_EQ(w.host.driverEvents,
                  (Events{"report 3 16 0", "report 3 48 0", "put 01", "put 02", "report 3 0 0"}));
    }
}

// A device server that keeps sending but does not read (a serial device held off by flow
// control): the data waits, fetching stops once the ring is full, and the link stays up.
// Settings and keep-alives never wait behind the data.
TEST(WorkerPump, AServerThatStopsReadingHoldsTheDataBack)
{
    OpenWorker w;
    w.host.sendRoom = 0;
    const auto data = Pattern(20000);
    QueueWrites(w.host, data, 1000);
    for (int second = 0; second < 30; ++second) {
        for (int i = 0; i < 10; ++i) EXPECT_EQ(w.core.TxPass(), PumpPass::Stalled);
        w.host.server.Send(Bytes({0x7F, 0xFE, 0x41, 0x00, 0xF7}));
        w.core.RxPass(0);
        RunTimers(w.host, w.core, 1000);
    }
    EXPECT_FALSE(w.core.IsLinkLost());
    EXPECT_TRUE(w.host.ReportTexts().empty());
    EXPECT_FALSE(w.host.appWrites.empty());  // still with the driver: not completed

    // A setting given meanwhile comes back at once and does not move the clock.
    const uint64_t before = w.host.now;
    w.core.OnNotification({NOTIFY_BAUD_RATE, 10});
    w.core.OnNotification({NOTIFY_BAUD_RATE, 12});
    w.core.OnNotification({NOTIFY_LINE_CONTROL, 0x1B});
    EXPECT_EQ(w.host.now, before);
    EXPECT_TRUE(w.host.server.sendSizes.empty());

    // The server reads again: the newest settings and one keep-alive, then every byte.
    w.host.sendRoom = FakeHost::kUnlimited;
    while (w.core.TxPass() != PumpPass::Quiet) {
    }
    EXPECT_EQ(w.host.server.messages, (std::vector<std::string>{"A 00", "S 0C", "L 1B"}));
    EXPECT_EQ(w.host.server.data, data);
}

TEST(WorkerPump, AControlMessageUnderWayEndsBeforeAnyOtherByte)
{
    OpenWorker w;
    w.host.sendRoom = 2;  // two bytes of the message leave, three wait
    w.core.OnNotification({NOTIFY_LINE_CONTROL, 0x1B});
    w.host.appWrites.push_back(Bytes({0x7F, 0x01, 0x02}));
    EXPECT_EQ(w.core.TxPass(), PumpPass::Stalled);
    w.host.sendRoom = 1;
    EXPECT_EQ(w.core.TxPass(), PumpPass::Stalled);
    w.host.sendRoom = FakeHost::kUnlimited;
    EXPECT_EQ(w.core.TxPass(), PumpPass::Busy);
    EXPECT_EQ(w.host.server.messages, std::vector<std::string>{"L 1B"});
    EXPECT_EQ(w.host.server.data, Bytes({0x7F, 0x01, 0x02}));
    EXPECT_EQ(w.host.server.sendSizes, (std::vector<uint32_t>{2, 1, 2, 3}));
}

// What the application wrote before it closed the port reaches the server before the
// close is answered, and the connection ends in order; only what cannot leave in time
// is dropped, and then it is counted and shown.
TEST(WorkerPump, WhatWasWrittenBeforeTheCloseLeavesFirst)
{
    struct Case {
        const char* what;
        uint32_t baud, written;
        void (*server)(FakeHost& host);
        uint32_t arrives;
        uint32_t err;
    } cases[] = {
        {"9600 baud, 4096 bytes", 6, 4096, [](FakeHost&) {}, 4096, kLedOff},
        {"9600 baud, 65536 bytes", 6, 65536, [](FakeHost&) {}, 65536, kLedOff},
        {"a slow reader", 6, 4096,
         [](FakeHost& h) {
             h.sendRoom = 256;
             h.readPerMs = 2;
         },
         4096, kLedOff},
        {"a server that does not end its side", 6, 4096, [](FakeHost& h) { h.closesOnEnd = false; }, 4096,
         kLedOff},
        {"a server that does not read", 6, 4096, [](FakeHost& h) { h.sendRoom = 1000; }, 1000, kLedTxDropped},
        {"a lost link", 6, 4096, [](FakeHost& h) { h.socketOpen = false; }, 0, kLedTxDropped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpenWorker w;
        w.AtBaud(c.baud);
        const auto data = Pattern(c.written);
        QueueWrites(w.host, data, 4096);
        // The pump took one write before the close came.
        c.server(w.host);
        w.core.TxPass();
        const uint64_t start = w.host.now;
        w.core.OnNotification({NOTIFY_CLOSE_REQUEST, 0});
        EXPECT_EQ(w.host.server.data.size(), c.arrives);
        EXPECT_TRUE(std::equal(w.host.server.data.begin(), w.host.server.data.end(), data.begin()));
        EXPECT_LE(w.host.now - start, uint64_t{kCloseDrainMs} + kCloseLingerMs + 100);
        EXPECT_EQ(w.host.ReportTexts().back(), "2 0 0");
        EXPECT_FALSE(w.core.Connected());
        EXPECT_EQ(w.core.Indicator(IND_ERR), c.err);
        // What was fetched from the driver and did not leave is what was dropped.
        const uint32_t fetched = c.written - static_cast<uint32_t>(w.host.appWrites.size()) * 4096;
        EXPECT_EQ(w.core.DroppedTxBytes(), fetched - c.arrives);
        // The closed notification that follows changes none of it.
        w.core.OnNotification({NOTIFY_PORT_CLOSED, 5});
        EXPECT_EQ(w.core.Indicator(IND_ERR), c.err);
        EXPECT_EQ(w.core.DroppedTxBytes(), fetched - c.arrives);
    }
    // The next application's open clears the mark.
    OpenWorker w;
    w.host.sendRoom = 0;
    w.host.appWrites.push_back(Bytes({1, 2, 3}));
    w.core.OnNotification({NOTIFY_CLOSE_REQUEST, 0});
    w.core.OnNotification({NOTIFY_PORT_CLOSED, 5});
    EXPECT_EQ(w.core.Indicator(IND_ERR), kLedTxDropped);
    w.host.sendRoom = FakeHost::kUnlimited;
    w.core.OnNotification({NOTIFY_OPEN_REQUEST, 0});
    w.core.OnNotification({NOTIFY_PORT_OPENED, 5});
    EXPECT_EQ(w.core.Indicator(IND_ERR), kLedOff);
}

// A fetch is made only after the driver signalled writes, and the signal is taken only
// when a fetch can be made: one that comes while the ring is full waits for room. The
// close's drain fetches regardless, to be sure nothing is left.
TEST(WorkerPump, FetchesOnlyWhenTheDriverSignalledWrites)
{
    OpenWorker w;
    w.AtBaud(13);
    w.host.writesSignalled = false;
    w.host.appWrites.push_back(Pattern(100));
    EXPECT_EQ(w.core.TxPass(), PumpPass::Quiet);
    EXPECT_EQ(w.host.fetches, 0u);
    EXPECT_EQ(w.host.signalQueries, 1u);
    w.host.writesSignalled = true;
    EXPECT_EQ(w.core.TxPass(), PumpPass::Busy);
    EXPECT_EQ(w.host.fetches, 1u);
    EXPECT_EQ(w.host.server.data, Pattern(100));

    // The socket takes nothing: the ring fills to where no whole fetch fits, and the
    // signal is no longer asked for.
    w.host.sendRoom = 0;
    QueueWrites(w.host, Pattern(40000), 4096);
    for (int i = 0; i < 10; ++i) w.core.TxPass();
    const uint32_t fetches = w.host.fetches, queries = w.host.signalQueries;
    w.core.TxPass();
    EXPECT_EQ(w.host.fetches, fetches);
    EXPECT_EQ(w.host.signalQueries, queries);

    // Without a signal the close's drain still fetches what is left, and finds the end.
    w.host.writesSignalled = false;
    w.host.sendRoom = FakeHost::kUnlimited;
    w.core.OnNotification({NOTIFY_CLOSE_REQUEST, 0});
    EXPECT_TRUE(w.host.appWrites.empty());
    EXPECT_EQ(w.host.server.data.size(), 100u + 40000u);
    EXPECT_EQ(w.core.DroppedTxBytes(), 0u);
}

// Stop and forced close do not wait for the data.
TEST(WorkerPump, ForcedCloseDropsWhatIsQueuedAtOnce)
{
    OpenWorker w;
    w.host.sendRoom = 0;
    w.host.appWrites.push_back(Pattern(3000));
    w.core.TxPass();
    const uint64_t start = w.host.now;
    EXPECT_TRUE(w.core.ForceClose());
    EXPECT_EQ(w.host.now, start);
    EXPECT_EQ(w.host.sendShutdowns, 0u);
    EXPECT_EQ(w.core.DroppedTxBytes(), 3000u);
    EXPECT_EQ(w.core.Indicator(IND_ERR), kLedTxDropped);
}

// The three threads at once, the way the shell runs them, with an echoing server: every
// byte comes back once and in order.
TEST(WorkerPump, ThreadsMoveAMegabyteThroughAnEchoServer)
{
    FakeHost host;
    WorkerCore core(0, 2500, 7000, host);
    core.OnNotification({NOTIFY_OPEN_REQUEST, 0});
    core.OnNotification({NOTIFY_BAUD_RATE, 12});
    core.OnNotification({NOTIFY_PORT_OPENED, 5});
    host.ClearRecords();
    const auto data = Pattern(1 << 20);
    QueueWrites(host, data, 1000);

    std::atomic<bool> stop{false};
    std::thread tx([&] { while (!stop) core.TxPass(); });
    std::thread rx([&] {
        while (!stop) {
            core.RxPass(0);
            std::lock_guard<std::recursive_mutex> g(host.lock);
            // Echo what the server got since the last look.
            static size_t echoed = 0;
            host.server.Send(std::vector<uint8_t>(host.server.data.begin() + echoed, host.server.data.end()));
            echoed = host.server.data.size();
        }
    });
    std::thread control([&] {
        while (!stop) {
            core.OnAliveTxTimer();
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 20000; ++i) {
        {
            std::lock_guard<std::recursive_mutex> g(host.lock);
            if (host.rxDelivered.size() >= data.size()) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    tx.join();
    rx.join();
    control.join();
    EXPECT_EQ(host.rxDelivered, data);
}
