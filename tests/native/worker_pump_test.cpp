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
};

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
    return v;
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
        w.core.OnNotification({NOTIFY_BAUD_RATE, c.baud});
        w.host.ClearRecords();
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
    // The socket takes nothing: the first chunk stalls until the link counts as lost,
    // and the fetched bytes pile up in the ring.
    w.host.sendRoom = 0;
    for (uint32_t size : {4032u, 4032u, 4096u, 100u}) w.host.appWrites.push_back(std::vector<uint8_t>(size, 1));
    for (int i = 0; i < 4; ++i) w.core.TxPass();
    EXPECT_TRUE(w.core.IsLinkLost());
    // 12160 fetched, one 64-byte chunk taken out: 12096 in the ring, 4096 free, which is
    // not more than a whole buffer, so the last write stays with the driver.
    EXPECT_EQ(w.host.fetches, 3u);
    EXPECT_EQ(w.host.appWrites.size(), 1u);
}

TEST(WorkerPump, PartialSendsLoseNothing)
{
    OpenWorker w;
    w.core.OnNotification({NOTIFY_BAUD_RATE, 13});
    w.host.sendLimitPerCall = 700;
    const auto data = Pattern(4000);
    w.host.appWrites.push_back(data);
    w.core.TxPass();
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
        EXPECT_EQ(w.host.timers[TIMER_ALIVE_RX], 7000u);
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
    w.host.sendRoom = 1000;  // 1000 bytes leave, then the socket stays full: link lost
    w.core.TxPass();
    ASSERT_TRUE(w.core.IsLinkLost());
    w.host.sendRoom = 1u << 30;
    EXPECT_EQ(w.host.server.data.size(), 1000u);
    w.core.OnReconnectTimer();
    ASSERT_FALSE(w.core.IsLinkLost());
    w.core.TxPass();
    const std::vector<uint8_t>& all = w.host.server.data;  // both connections
    EXPECT_EQ(all, data);
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
    for (size_t at = 0; at < data.size(); at += 1000)
        host.appWrites.push_back(std::vector<uint8_t>(data.begin() + at, data.begin() + std::min(data.size(), at + 1000)));

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
