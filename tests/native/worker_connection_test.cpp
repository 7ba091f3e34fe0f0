// The worker's connection: open and close answers, the three protocols on the wire,
// keep-alives, a lost link and the reconnection, and what the indicators show.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "worker_fake_host.h"

using namespace worker_test;
using Texts = std::vector<std::string>;

namespace {

constexpr LinkNotification Notify(uint32_t code, uint32_t value = 0) { return {code, value}; }

struct Worker {
    FakeHost host;
    WorkerCore core{3, 2500, 7000, host};

    // An application opens the port: the driver's open request, then (on success) the
    // settings and the opened notification, as the driver posts them.
    void Open()
    {
        core.OnNotification(Notify(NOTIFY_OPEN_REQUEST));
        if (host.reports.empty() || host.reports.back().Failed) return;
        core.OnNotification(Notify(NOTIFY_PORT_OPENED, 5));
    }
    void Close()
    {
        core.OnNotification(Notify(NOTIFY_CLOSE_REQUEST));
        core.OnNotification(Notify(NOTIFY_PORT_CLOSED, 5));
    }
};

}  // namespace

TEST(WorkerConnection, OpenSendsWhatEachProtocolSends)
{
    struct Case {
        uint32_t protocol;
        Texts messages;  // as the server decodes them
        uint8_t keyState;
        bool raw;
    } cases[] = {
        {ProtocolCom, {"S 06", "L 03", "M 03"}, protocol::KEY_NONE, false},
        {ProtocolEncryption, {"E", "S 06", "L 03", "M 03"}, protocol::KEY_ACTIVE, false},
        {ProtocolRaw, {}, protocol::KEY_NONE, true},
        {7, {"S 06", "L 03", "M 03"}, protocol::KEY_NONE, false},  // unknown behaves as COM
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.protocol);
        Worker w;
        w.host.config.protocol = c.protocol;
        w.Open();
        EXPECT_EQ(w.host.ReportTexts(), Texts{"1 0 0"});
        EXPECT_EQ(w.host.server.messages, c.messages);
        EXPECT_EQ(w.core.KeyState(), c.keyState);
        EXPECT_EQ(w.core.Raw(), c.raw);
        EXPECT_STREQ(w.core.IpText(), "127.0.0.1");
        EXPECT_EQ(w.host.timers[TIMER_ALIVE_TX], 2500u);
        EXPECT_EQ(w.host.timers[TIMER_ALIVE_RX], 7000u + kAliveRxGraceMs);
        EXPECT_EQ(w.host.timers[TIMER_RECONNECT], 0u);
        const PortStatus s = w.core.Status();
        EXPECT_EQ(s.value[IND_ACT], kLedOn);
        EXPECT_EQ(s.value[IND_CON], kLedOn);
        EXPECT_EQ(s.value[IND_ERR], kLedOff);
        EXPECT_EQ(s.value[IND_DTR], c.raw ? kLedOff : kLedOn);
        EXPECT_EQ(w.host.slotOpenChanges, std::vector<bool>{true});

        // Encrypted or not, the server gets the application's bytes as they were.
        w.host.appWrites.push_back({0x7F, 0x00, 0x41, 0xF7});
        w.core.TxPass();
        EXPECT_EQ(w.host.server.data, (std::vector<uint8_t>{0x7F, 0x00, 0x41, 0xF7}));
    }
}

TEST(WorkerConnection, FailedOpensAreAnsweredWithAccessDenied)
{
    struct Case {
        const char* what;
        void (*setup)(Worker& w);
        uint32_t connects;
    } cases[] = {
        {"unreachable server", [](Worker& w) { w.host.connectError = 10061; }, 1},
        {"marked for removal", [](Worker& w) { w.core.SetRemovalHold(true); }, 0},
        {"no key answer",
         [](Worker& w) {
             w.host.config.protocol = ProtocolEncryption;
             w.host.server.answerKey = false;
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Worker w;
        c.setup(w);
        w.core.OnNotification(Notify(NOTIFY_OPEN_REQUEST));
        EXPECT_EQ(w.host.ReportTexts(), Texts{"1 1 C0000022"});
        EXPECT_EQ(w.host.connects, c.connects);
        EXPECT_FALSE(w.core.Connected());
        EXPECT_FALSE(w.host.socketOpen);
        EXPECT_EQ(w.core.Indicator(IND_CON), kLedOff);
        EXPECT_EQ(w.host.timers[TIMER_ALIVE_RX], 0u);
        EXPECT_EQ(w.host.timers[TIMER_RECONNECT], 0u);
    }
}

TEST(WorkerConnection, SecondOpenWhileInUseIsRefusedAndCloseAnswers)
{
    Worker w;
    w.Open();
    w.host.ClearRecords();
    w.core.OnNotification(Notify(NOTIFY_OPEN_REQUEST));
    EXPECT_EQ(w.host.ReportTexts(), Texts{"1 1 C0000022"});
    EXPECT_TRUE(w.core.Connected());  // the first application keeps its connection

    // Opened twice in a row: the second changes nothing.
    w.core.OnNotification(Notify(NOTIFY_PORT_OPENED, 5));
    EXPECT_EQ(w.host.slotOpenChanges.size(), 1u);

    w.host.ClearRecords();
    w.Close();
    EXPECT_EQ(w.host.ReportTexts(), (Texts{"2 0 0", "2 0 0"}));
    EXPECT_FALSE(w.core.Connected());
    EXPECT_FALSE(w.core.InUse());
    EXPECT_FALSE(w.host.socketOpen);
    EXPECT_EQ(w.core.Indicator(IND_ACT), kLedOff);
    EXPECT_EQ(w.core.Indicator(IND_CON), kLedOff);
    for (uint32_t t : w.host.timers) EXPECT_EQ(t, 0u);
    EXPECT_EQ(w.host.slotOpenChanges, (std::vector<bool>{true, false}));
}

TEST(WorkerConnection, SettingsFollowTheProtocol)
{
    struct Case {
        uint32_t protocol;
        uint32_t code, value;
        Texts messages;
        uint32_t baud, line, modem, sendBuffer;
    } cases[] = {
        {ProtocolCom, NOTIFY_BAUD_RATE, 10, {"S 0A"}, 10, 3, 3, 512},
        {ProtocolCom, NOTIFY_BAUD_RATE, 14, {}, 6, 3, 3, 0},  // not a table index
        {ProtocolCom, NOTIFY_LINE_CONTROL, 0x1B, {"L 1B"}, 6, 0x1B, 3, 0},
        {ProtocolCom, NOTIFY_MODEM_CONTROL, 1, {"M 01"}, 6, 3, 1, 0},
        {ProtocolRaw, NOTIFY_BAUD_RATE, 10, {}, 6, 3, 3, 0},   // ignored entirely
        {ProtocolRaw, NOTIFY_BAUD_RATE, 6, {}, 6, 3, 3, 256},  // taken, not announced
        {ProtocolRaw, NOTIFY_LINE_CONTROL, 0x1B, {}, 6, 3, 3, 0},
        {ProtocolRaw, NOTIFY_MODEM_CONTROL, 0, {}, 6, 3, 3, 0},
        {ProtocolEncryption, NOTIFY_MODEM_CONTROL, 2, {"M 02"}, 6, 3, 2, 0},
        {ProtocolCom, 99, 1, {}, 6, 3, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.protocol << " " << c.code << " " << c.value);
        Worker w;
        w.host.config.protocol = c.protocol;
        w.Open();
        w.host.ClearRecords();
        w.host.sendBuffer = 0;
        w.core.OnNotification(Notify(c.code, c.value));
        EXPECT_EQ(w.host.server.messages, c.messages);
        EXPECT_EQ(w.core.BaudIndex(), c.baud);
        EXPECT_EQ(w.core.LineControl(), c.line);
        EXPECT_EQ(w.core.ModemControl(), c.modem);
        EXPECT_EQ(w.host.sendBuffer, c.sendBuffer);
    }
}

TEST(WorkerConnection, KeepAliveLeavesInEveryProtocol)
{
    for (uint32_t protocol : {0u, 1u, 2u}) {
        SCOPED_TRACE(protocol);
        Worker w;
        w.host.config.protocol = protocol;
        w.Open();
        w.host.ClearRecords();
        w.core.ResetActivity();
        const uint32_t arms = w.host.aliveTxArms;
        w.host.now += 2500;
        w.core.OnAliveTxTimer();
        EXPECT_EQ(w.host.server.messages, Texts{"A 00"});
        EXPECT_EQ(w.host.aliveTxArms, arms + 1);  // for a whole period again
        EXPECT_EQ(w.host.timers[TIMER_ALIVE_TX], 2500u);
        EXPECT_EQ(w.core.Indicator(IND_TX), kLedSent);
    }
    // Without a connection a keep-alive goes nowhere.
    Worker w;
    w.core.OnAliveTxTimer();
    EXPECT_EQ(w.host.server.sendSizes.size(), 0u);
}

TEST(WorkerConnection, SilentServerLinkLostAndReconnection)
{
    for (uint32_t protocol : {0u, 1u}) {
        SCOPED_TRACE(protocol);
        Worker w;
        w.host.config.protocol = protocol;
        w.Open();
        w.host.ClearRecords();

        RunTimers(w.host, w.core, 7000 + kAliveRxGraceMs);
        EXPECT_EQ(w.host.ReportTexts(), Texts{"4 10053 0"});
        EXPECT_TRUE(w.core.Connected());
        EXPECT_TRUE(w.core.IsLinkLost());
        EXPECT_FALSE(w.host.socketOpen);
        EXPECT_EQ(w.core.Indicator(IND_ERR), kLedLinkLost);
        EXPECT_EQ(w.core.Indicator(IND_CON), kLedOn);
        EXPECT_EQ(w.host.timers[TIMER_RECONNECT], 1000u);
        // A second loss while re-establishing says nothing more.
        w.core.LinkLost(10054);
        EXPECT_EQ(w.host.reports.size(), 1u);
        // Nothing moves while the link is lost.
        EXPECT_EQ(w.core.RxPass(0), PumpPass::Idle);

        // The server is still away: the attempt fails and is tried again a second later.
        w.host.ClearRecords();
        w.host.connectError = 10061;
        w.core.OnReconnectTimer();
        EXPECT_EQ(w.host.ReportTexts(), Texts{"1 1 C0000022"});
        EXPECT_TRUE(w.core.IsLinkLost());
        EXPECT_EQ(w.host.timers[TIMER_RECONNECT], 1000u);
        EXPECT_EQ(w.core.Indicator(IND_ERR), kLedLinkLost);

        // It answers again: open result, then link up; settings are announced again.
        w.host.ClearRecords();
        w.host.connectError = 0;
        w.core.OnReconnectTimer();
        EXPECT_EQ(w.host.ReportTexts(), (Texts{"1 0 0", "5 0 0"}));
        EXPECT_FALSE(w.core.IsLinkLost());
        EXPECT_EQ(w.host.timers[TIMER_RECONNECT], 0u);
        EXPECT_EQ(w.host.timers[TIMER_ALIVE_RX], 7000u + kAliveRxGraceMs);
        EXPECT_EQ(w.core.Indicator(IND_ERR), kLedOff);
        EXPECT_EQ(w.host.server.messages.size(), protocol == ProtocolEncryption ? 4u : 3u);

        // A stale reconnect tick changes nothing.
        w.host.ClearRecords();
        w.core.OnReconnectTimer();
        EXPECT_TRUE(w.host.reports.empty());
    }
}

TEST(WorkerConnection, FailedKeyExchangeDuringReconnectionKeepsRetrying)
{
    Worker w;
    w.host.config.protocol = ProtocolEncryption;
    w.Open();
    w.core.LinkLost(10054);
    w.host.server.answerKey = false;
    w.host.ClearRecords();
    w.core.OnReconnectTimer();
    EXPECT_EQ(w.host.ReportTexts(), Texts{"1 1 C0000022"});
    EXPECT_TRUE(w.core.Connected());
    EXPECT_TRUE(w.core.IsLinkLost());
    EXPECT_FALSE(w.host.socketOpen);
    EXPECT_EQ(w.host.timers[TIMER_RECONNECT], 1000u);

    w.host.server.answerKey = true;
    w.host.ClearRecords();
    w.core.OnReconnectTimer();
    EXPECT_EQ(w.host.ReportTexts(), (Texts{"1 0 0", "5 0 0"}));
    EXPECT_EQ(w.core.KeyState(), protocol::KEY_ACTIVE);
}

TEST(WorkerConnection, LinkBreaksOnReceiveAndSendErrors)
{
    struct Case {
        const char* what;
        void (*breakIt)(Worker& w);
        const char* report;
    } cases[] = {
        {"orderly close", [](Worker& w) { w.host.peerClosed = true; w.core.RxPass(0); }, "4 10053 0"},
        {"receive error", [](Worker& w) { w.host.recvError = 10054; w.core.RxPass(0); }, "4 10054 0"},
        {"send error",
         [](Worker& w) {
             w.host.socketOpen = false;
             w.host.appWrites.push_back({1, 2, 3});
             w.core.TxPass();
         },
         "4 10038 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Worker w;
        w.Open();
        w.host.ClearRecords();
        c.breakIt(w);
        EXPECT_EQ(w.host.ReportTexts(), Texts{c.report});
        EXPECT_TRUE(w.core.IsLinkLost());
        EXPECT_EQ(w.host.timers[TIMER_RECONNECT], 1000u);
    }
}

TEST(WorkerConnection, StopAndForcedClose)
{
    Worker w;
    EXPECT_FALSE(w.core.ForceClose());  // nothing open
    EXPECT_TRUE(w.core.MayStop(false));
    w.Open();
    EXPECT_FALSE(w.core.MayStop(false));
    EXPECT_TRUE(w.core.InUse());

    w.host.ClearRecords();
    EXPECT_TRUE(w.core.ForceClose());
    EXPECT_EQ(w.host.ReportTexts(), Texts{"2 0 0"});
    EXPECT_EQ(w.host.forceCloses, 1u);
    EXPECT_FALSE(w.core.InUse());
    EXPECT_FALSE(w.host.socketOpen);
    EXPECT_EQ(w.core.Indicator(IND_ACT), kLedOff);

    w.Open();
    EXPECT_TRUE(w.core.MayStop(true));
    EXPECT_FALSE(w.core.InUse());
}

TEST(WorkerConnection, OddKeepAliveTimesAreBounded)
{
    struct Case {
        uint32_t stored, fallback, used;
    } cases[] = {
        {0, 2500, 2500}, {1, 7000, kMinAliveMs}, {25000, 7000, 25000}, {0xFFFFFFFF, 7000, kMaxAliveMs},
    };
    for (const Case& c : cases) EXPECT_EQ(AliveTimeOf(c.stored, c.fallback), c.used) << c.stored;

    // The times in force are the ones the timers get.
    FakeHost host;
    WorkerCore core(0, 0xFFFFFFFF, 1, host);
    core.OnNotification({NOTIFY_OPEN_REQUEST, 0});
    EXPECT_EQ(host.timers[TIMER_ALIVE_TX], kMaxAliveMs);
    EXPECT_EQ(host.timers[TIMER_ALIVE_RX], kMinAliveMs + kAliveRxGraceMs);
}

TEST(WorkerConnection, KeepAlivesGoByTheLastSendAndTheLastReceive)
{
    Worker w;
    w.Open();
    w.host.ClearRecords();
    // Data leaves 1000 ms in: the keep-alive tick at 2500 sends nothing and comes back
    // when 2500 ms have passed since that send.
    w.host.now += 1000;
    w.host.appWrites.push_back({1});
    w.core.TxPass();
    RunTimers(w.host, w.core, 1500);
    EXPECT_TRUE(w.host.server.messages.empty());
    EXPECT_EQ(w.host.timers[TIMER_ALIVE_TX], 1000u);
    RunTimers(w.host, w.core, 1000);
    EXPECT_EQ(w.host.server.messages, Texts{"A 00"});
    EXPECT_EQ(w.host.timers[TIMER_ALIVE_TX], 2500u);
    // A tick that comes early (a coarse system clock) is not taken for a due one.
    w.host.ClearRecords();
    w.host.now += 2490;
    w.core.OnAliveTxTimer();
    EXPECT_TRUE(w.host.server.messages.empty());
    EXPECT_EQ(w.host.timers[TIMER_ALIVE_TX], 10u);

    // The receive side: heard from 3000 ms in, so the tick at 7200 re-arms for the rest.
    Worker r;
    r.Open();
    r.host.now += 3000;
    r.host.server.Send({0x7F, 0xFE, 0x41, 0x00, 0xF7});
    r.core.RxPass(0);
    RunTimers(r.host, r.core, 4200);
    EXPECT_FALSE(r.core.IsLinkLost());
    EXPECT_EQ(r.host.timers[TIMER_ALIVE_RX], 3000u);
}

TEST(WorkerConnection, AServerThatSendsOncePerAliveRxTimerIsNeverLost)
{
    // Exactly once per period, or every other one up to just under the grace late; for an
    // hour of the clock.
    for (uint32_t lateness : {0u, kAliveRxGraceMs - 1}) {
        SCOPED_TRACE(lateness);
        Worker w;
        w.Open();
        uint64_t previous = 0;
        for (uint64_t k = 1; k <= 3600 / 7; ++k) {
            const uint64_t at = 7000 * k + (k % 2 ? lateness : 0);
            RunTimers(w.host, w.core, at - previous);
            previous = at;
            w.host.server.Send({0x7F, 0xFE, 0x41, 0x00, 0xF7});
            w.core.RxPass(0);
        }
        EXPECT_FALSE(w.core.IsLinkLost());
        EXPECT_EQ(w.host.ReportTexts(), Texts{"1 0 0"});
    }
    // Once it falls silent it is lost when the period and the grace have passed, not before.
    Worker w;
    w.Open();
    RunTimers(w.host, w.core, 7000);
    w.host.server.Send({0x7F, 0xFE, 0x41, 0x00, 0xF7});
    w.core.RxPass(0);
    RunTimers(w.host, w.core, 7000 + kAliveRxGraceMs - 1);
    EXPECT_FALSE(w.core.IsLinkLost());
    RunTimers(w.host, w.core, 1);
    EXPECT_TRUE(w.core.IsLinkLost());
}

// A link lost (or a reconnection tick) on one thread while the port is closed on another:
// whichever comes second, nothing of the loss outlives the close.
TEST(WorkerConnection, NoStrayTimerOrErrorOutlivesADisconnect)
{
    for (int round = 0; round < 300; ++round) {
        Worker w;
        w.Open();
        const bool reconnect = round % 2 == 1;
        if (reconnect) {
            w.core.LinkLost(10054);
            w.host.connectError = 10061;
        }
        std::atomic<bool> go{false};
        std::thread other([&] {
            while (!go) {
            }
            if (reconnect)
                w.core.OnReconnectTimer();
            else
                w.core.LinkLost(10054);
        });
        go = true;
        w.core.Disconnect();
        other.join();
        SCOPED_TRACE(round);
        EXPECT_FALSE(w.core.Connected());
        EXPECT_NE(w.core.Indicator(IND_ERR), kLedLinkLost);
        for (uint32_t t : w.host.timers) EXPECT_EQ(t, 0u);
        ASSERT_FALSE(testing::Test::HasFailure());
    }
}
