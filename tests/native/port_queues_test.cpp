// The data path: the receive ring, received bytes into waiting reads, the read time-outs
// on a driven clock, the transmit queue and its fetch, wait-on-mask, purge and flush.
#include "port_bench.h"

using namespace bench;

TEST(RxRingTest, HoldsOneByteLessThanItsCapacityAndWraps)
{
    static RxRing ring;
    ring.Clear();
    std::vector<uint8_t> in(16384), out(RxRing::kCapacity);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 13);
    EXPECT_EQ(ring.Put(in.data(), 8000), 8000u);
    EXPECT_EQ(ring.Put(in.data() + 8000, 200), 95u);
    EXPECT_EQ(ring.Used(), 8095u);
    EXPECT_EQ(ring.Get(out.data(), 7000), 7000u);
    // The next put wraps past the end; the bytes come back in order.
    EXPECT_EQ(ring.Put(in.data() + 8095, 5000), 5000u);
    EXPECT_EQ(ring.Get(out.data(), 8096), 6095u);
    EXPECT_EQ(std::memcmp(out.data(), in.data() + 7000, 6095), 0);
    EXPECT_EQ(ring.Used(), 0u);
}

using DataPath = PortBench;

TEST_F(DataPath, PutIntoAFullishRingTakesWhatFits)
{
    OpenPort();
    EXPECT_EQ(PutRx(8000).information, 8000u);
    EXPECT_EQ(PutRx(200).information, 95u);
    EXPECT_EQ(port.RxUsed(), 8095u);
    EXPECT_EQ(port.Settings().receivedCount, 8095u);
}

TEST_F(DataPath, PutFillsAWaitingReadThenTheRing)
{
    OpenPort();
    SetTimeouts(0, 0, 1000);
    ASSERT_EQ(port.Read(Handle(2), Req(1), readBuffer, 10).status, kStatusPending);
    const IoResult put = PutRx(100, 1);
    EXPECT_EQ(put.status, kStatusSuccess);
    EXPECT_EQ(put.information, 100u);
    const Completion* read = host.Find(Req(1));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->status, kStatusSuccess);
    EXPECT_EQ(read->information, 10u);
    EXPECT_EQ(readBuffer[0], 1);
    EXPECT_EQ(readBuffer[9], 10);
    EXPECT_EQ(port.RxUsed(), 90u);
    // Bytes handed straight to a read are not counted as received.
    EXPECT_EQ(port.Settings().receivedCount, 90u);
    EXPECT_FALSE(host.Armed(TIMER_READ));
}

TEST_F(DataPath, ReadReturnsWhatTheRingHoldsAtOnce)
{
    OpenPort();
    SetTimeouts(0, 0, 1000);
    PutRx(20, 40);
    const IoResult r = port.Read(Handle(2), Req(1), readBuffer, 50);
    EXPECT_EQ(r.status, kStatusSuccess);
    EXPECT_EQ(r.information, 20u);
    EXPECT_EQ(readBuffer[0], 40);
}

TEST_F(DataPath, SecondReadCompletesTheFirstEmpty)
{
    OpenPort();
    SetTimeouts(0, 0, 1000);
    ASSERT_EQ(port.Read(Handle(2), Req(1), readBuffer, 10).status, kStatusPending);
    ASSERT_EQ(port.Read(Handle(2), Req(2), readBuffer, 10).status, kStatusPending);
    ASSERT_NE(host.Find(Req(1)), nullptr);
    EXPECT_EQ(host.Find(Req(1))->status, kStatusSuccess);
    EXPECT_EQ(host.Find(Req(1))->information, 0u);
    EXPECT_EQ(host.Find(Req(2)), nullptr);
}

// A 5-byte read on a silent port, for each row of the time-out table: how long it waits
// (0: answered at once) before completing with no data.
TEST_F(DataPath, ReadTimeoutsOnTheClock)
{
    OpenPort();
    const uint32_t M = MAXULONG32;
    struct Row {
        uint32_t interval, multiplier, constant;
        int64_t waitTicks;  // 100 ns units; 0 = immediate
    };
    const Row rows[] = {
        {0, 0, 0, 0},
        {M, 0, 0, 0},
        {M, 9, M, 0},
        {M, M, 70, 70 * 10000},
        {M, 10, 100, 150 * 10000},
        {0, 10, 100, 150 * 10000},
        {500, 0, 0, 1},
        {20000, 0, 0, 10000000},
    };
    uintptr_t n = 10;
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.interval << "/" << r.multiplier << "/" << r.constant);
        ASSERT_EQ(SetTimeouts(r.interval, r.multiplier, r.constant).status, kStatusSuccess);
        IoRequest* req = Req(++n);
        const IoResult res = port.Read(Handle(2), req, readBuffer, 5);
        if (r.waitTicks == 0) {
            EXPECT_EQ(res.status, kStatusSuccess);
            EXPECT_EQ(res.information, 0u);
            continue;
        }
        ASSERT_EQ(res.status, kStatusPending);
        host.AdvanceTicks(port, r.waitTicks - 1);
        EXPECT_EQ(host.Find(req), nullptr);
        host.AdvanceTicks(port, 1);
        ASSERT_NE(host.Find(req), nullptr);
        EXPECT_EQ(host.Find(req)->information, 0u);
        EXPECT_EQ(host.Find(req)->status, kStatusSuccess);
    }
}

// A timer expiry that raced with a cancel or a re-arm (the shell could not take it back)
// ends nothing before its time.
TEST_F(DataPath, LateTimerExpiriesAreIgnored)
{
    OpenPort();
    SetTimeouts(0, 0, 100);
    ASSERT_EQ(port.Read(Handle(2), Req(1), readBuffer, 4).status, kStatusPending);
    PutRx(2);
    port.OnTimer(TIMER_READ);  // the first read's expiry, already cancelled
    ASSERT_EQ(port.Read(Handle(2), Req(5), readBuffer, 4).status, kStatusPending);
    host.Advance(port, 50);
    port.OnTimer(TIMER_READ);  // an expiry of an earlier arming arrives early
    EXPECT_EQ(host.Find(Req(5)), nullptr);
    host.Advance(port, 49);
    EXPECT_EQ(host.Find(Req(5)), nullptr);
    host.Advance(port, 1);
    ASSERT_NE(host.Find(Req(5)), nullptr);
    port.OnTimer(TIMER_WAIT);
    port.OnTimer(TIMER_HANDSHAKE);
    EXPECT_EQ(port.State(), PORT_OPEN);
}

TEST_F(DataPath, FetchMovesWholeWritesOnly)
{
    OpenPort();
    ASSERT_EQ(Write(10, Req(1)).status, kStatusPending);
    EXPECT_EQ(Fetch(4).information, 0u);
    EXPECT_EQ(host.Find(Req(1)), nullptr);
    const IoResult all = Fetch(4096);
    EXPECT_EQ(all.information, 10u);
    EXPECT_EQ(std::memcmp(buffer.data(), written.data(), 10), 0);
    ASSERT_NE(host.Find(Req(1)), nullptr);
    EXPECT_EQ(host.Find(Req(1))->status, kStatusSuccess);
    EXPECT_EQ(host.Find(Req(1))->information, 10u);
}

TEST_F(DataPath, FetchStopsAtTheFirstWriteThatDoesNotFit)
{
    OpenPort();
    for (uintptr_t i = 1; i <= 3; ++i) ASSERT_EQ(Write(2000, Req(i)).status, kStatusPending);
    EXPECT_EQ(port.TxPendingBytes(), 6000u);
    EXPECT_EQ(Fetch(4096).information, 4000u);
    EXPECT_NE(host.Find(Req(2)), nullptr);
    EXPECT_EQ(host.Find(Req(3)), nullptr);
    EXPECT_EQ(Fetch(4096).information, 2000u);
    EXPECT_EQ(host.Find(Req(3))->information, 2000u);
    EXPECT_EQ(Fetch(4096).information, 0u);
}

// The control program fetches again only when told: a fetch that leaves writes queued
// signals the spare event, as a new write does; one that empties the queue does not.
TEST_F(DataPath, FetchLeavingWritesQueuedSignalsTheSpareEvent)
{
    OpenPort();
    const int start = host.Signals(FakeHost::kSpareHandle);
    ASSERT_EQ(Write(10000, Req(1)).status, kStatusPending);
    ASSERT_EQ(Write(10, Req(2)).status, kStatusPending);
    EXPECT_EQ(host.Signals(FakeHost::kSpareHandle), start + 2);
    const uint32_t expected[] = {4096, 4096, 1808 + 10, 0};
    int signals = start + 2;
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Fetch(4096).information, expected[i]);
        if (i < 2) ++signals;  // writes are left after the first two
        EXPECT_EQ(host.Signals(FakeHost::kSpareHandle), signals);
    }
    EXPECT_NE(host.Find(Req(2)), nullptr);
}

// Long writes are fetched in pieces of at most 4096 bytes: every one of them fits a
// 4096-byte fetch, the bytes arrive in order, and the write completes with its full
// length when its last piece is fetched.
TEST_F(DataPath, LongWritesAreSplitSoTheyCanBeFetched)
{
    OpenPort();
    const uint32_t lengths[] = {4096, 4097, 10000, 65536};
    uintptr_t n = 0;
    for (uint32_t length : lengths) {
        SCOPED_TRACE(length);
        IoRequest* req = Req(++n);
        ASSERT_EQ(Write(length, req).status, kStatusPending);
        EXPECT_EQ(port.TxPendingBytes(), length);
        std::vector<uint8_t> sent;
        for (int guard = 0; guard < 100 && !host.Find(req); ++guard) {
            const IoResult f = Fetch(4096);
            ASSERT_GT(f.information, 0u);
            ASSERT_LE(f.information, 4096u);
            sent.insert(sent.end(), buffer.begin(), buffer.begin() + f.information);
        }
        ASSERT_NE(host.Find(req), nullptr);
        EXPECT_EQ(host.Find(req)->information, length);
        EXPECT_EQ(sent, written);
    }
}

// However long, a queued write holds one small record and refers to the request's own
// buffer: nothing of it is allocated or copied until it is fetched.
TEST_F(DataPath, LongWritePinsOneSmallRecord)
{
    OpenPort();
    const int before = host.liveBlocks;
    std::vector<uint8_t> data(8u << 20, 0x5A);
    ASSERT_EQ(port.Write(Handle(2), Req(1), data.data(), static_cast<uint32_t>(data.size())).status,
              kStatusPending);
    EXPECT_EQ(host.liveBlocks, before + 1);
    EXPECT_EQ(port.TxPendingBytes(), data.size());
    data[4096] = 0xA5;  // the fetch reads the request's buffer
    EXPECT_EQ(Fetch(8192).information, 8192u);
    EXPECT_EQ(buffer[4096], 0xA5);
    EXPECT_EQ(port.TxPendingBytes(), data.size() - 8192);
    EXPECT_TRUE(port.Cancel(Req(1)));
    EXPECT_EQ(host.Find(Req(1))->information, 8192u);
    EXPECT_EQ(host.liveBlocks, before);
}

// The write total time-out runs for the write at the head of the queue, from the moment
// it gets there; a write that runs out ends with time-out and the bytes fetched of it.
TEST_F(DataPath, WriteTimeoutsEndTheWriteAtTheHead)
{
    OpenPort();
    const SerialTimeouts t = {0, 0, 0, 1, 100};  // 1 ms a byte + 100 ms
    Set(IOCTL_SERIAL_SET_TIMEOUTS, t);
    ASSERT_EQ(Write(5000, Req(1)).status, kStatusPending);
    ASSERT_EQ(Write(10, Req(2)).status, kStatusPending);
    EXPECT_EQ(Fetch(4096).information, 4096u);
    host.Advance(port, 5099);
    EXPECT_EQ(host.Find(Req(1)), nullptr);
    host.Advance(port, 1);
    ASSERT_NE(host.Find(Req(1)), nullptr);
    EXPECT_EQ(host.Find(Req(1))->status, kStatusTimeout);
    EXPECT_EQ(host.Find(Req(1))->information, 4096u);
    // The second write's 110 ms start now.
    host.Advance(port, 109);
    EXPECT_EQ(host.Find(Req(2)), nullptr);
    host.Advance(port, 1);
    ASSERT_NE(host.Find(Req(2)), nullptr);
    EXPECT_EQ(host.Find(Req(2))->status, kStatusTimeout);
    EXPECT_EQ(host.Find(Req(2))->information, 0u);
    EXPECT_EQ(port.TxPendingBytes(), 0u);
    EXPECT_FALSE(host.Armed(TIMER_WRITE));

    // A write fetched in time completes as sent; the next one's time-out takes over.
    ASSERT_EQ(Write(10, Req(3)).status, kStatusPending);
    ASSERT_EQ(Write(10, Req(4)).status, kStatusPending);
    host.Advance(port, 100);
    EXPECT_EQ(Fetch(10).information, 10u);
    EXPECT_EQ(host.Find(Req(3))->status, kStatusSuccess);
    host.Advance(port, 109);
    EXPECT_EQ(host.Find(Req(4)), nullptr);
    host.Advance(port, 1);
    EXPECT_EQ(host.Find(Req(4))->status, kStatusTimeout);

    // Without write time-outs a write waits for its fetch however long that takes.
    SetTimeouts(0, 0, 0);
    ASSERT_EQ(Write(10, Req(5)).status, kStatusPending);
    host.Advance(port, 24 * 3600 * 1000LL);
    EXPECT_EQ(host.Find(Req(5)), nullptr);
    EXPECT_EQ(Fetch(10).information, 10u);
}

// A total time-out too long for the clock saturates; it never wraps into the past.
TEST_F(DataPath, VeryLongReadTimeoutsDoNotFireEarly)
{
    OpenPort();
    SetTimeouts(0, MAXULONG32, 0);
    std::vector<uint8_t> big(300000);
    ASSERT_EQ(port.Read(Handle(2), Req(1), big.data(), 300000).status, kStatusPending);
    host.Advance(port, 30LL * 24 * 3600 * 1000);
    EXPECT_EQ(host.Find(Req(1)), nullptr);
    PutRx(7);
    ASSERT_NE(host.Find(Req(1)), nullptr);
    EXPECT_EQ(host.Find(Req(1))->information, 7u);
}

TEST_F(DataPath, QueuedWriteSignalsTheSpareEvent)
{
    OpenPort();
    const int before = host.Signals(FakeHost::kSpareHandle);
    ASSERT_EQ(Write(10, Req(1)).status, kStatusPending);
    EXPECT_EQ(host.Signals(FakeHost::kSpareHandle), before + 1);
    // A dropped write has nothing to fetch.
    EXPECT_EQ(Write(0, Req(2)).status, kStatusSuccess);
    EXPECT_EQ(host.Signals(FakeHost::kSpareHandle), before + 1);
}

TEST_F(DataPath, WritesWithNobodyToCarryThemAreDropped)
{
    AttachControl();
    // Not opened by an application: the control handle's own write.
    EXPECT_EQ(port.Write(Handle(1), Req(1), readBuffer, 7).status, kStatusSuccess);
    OpenApplication();
    port.SetPoweredDown(true);
    EXPECT_EQ(Write(9, Req(3)).information, 9u);
    EXPECT_EQ(port.Read(Handle(2), Req(4), readBuffer, 5).status, kStatusSuccess);
    EXPECT_EQ(port.TxPendingBytes(), 0u);
}

// A write made while the link is down waits for it to come back, and its time-out applies.
TEST_F(DataPath, WritesWhileTheLinkIsDownWaitForIt)
{
    OpenPort();
    Report(REPORT_LINK_DOWN);
    ASSERT_EQ(Write(9, Req(1)).status, kStatusPending);
    Report(REPORT_LINK_UP);
    EXPECT_EQ(Fetch(4096).information, 9u);
    EXPECT_EQ(host.Find(Req(1))->information, 9u);

    const SerialTimeouts t = {0, 0, 0, 0, 500};
    Set(IOCTL_SERIAL_SET_TIMEOUTS, t);
    Report(REPORT_LINK_DOWN);
    ASSERT_EQ(Write(9, Req(2)).status, kStatusPending);
    host.Advance(port, 500);
    ASSERT_NE(host.Find(Req(2)), nullptr);
    EXPECT_EQ(host.Find(Req(2))->status, kStatusTimeout);
    EXPECT_EQ(host.Find(Req(2))->information, 0u);
}

// The system may let an application write before its create has completed here: what the
// opening handle writes meanwhile is kept for the open, and fetched in order once it is
// answered. Any other handle's write is still dropped.
TEST_F(DataPath, WritesWhileTheOpenIsPendingAreKeptForIt)
{
    AttachControl();
    ASSERT_EQ(port.Create(Handle(2), Req(200), false).status, kStatusPending);
    ASSERT_EQ(port.State(), PORT_OPENING);
    const int before = host.Signals(FakeHost::kSpareHandle);
    EXPECT_EQ(port.Write(Handle(3), Req(2), readBuffer, 5).information, 5u);
    ASSERT_EQ(Write(9000, Req(1)).status, kStatusPending);
    EXPECT_EQ(port.TxPendingBytes(), 9000u);
    EXPECT_EQ(host.Signals(FakeHost::kSpareHandle), before + 1);
    Report(REPORT_OPEN_RESULT, 0, 0);
    ASSERT_EQ(port.State(), PORT_OPEN);
    // Told again once the port is open: the first signal may have found nobody fetching.
    EXPECT_EQ(host.Signals(FakeHost::kSpareHandle), before + 2);
    EXPECT_EQ(host.Find(Req(1)), nullptr);

    std::vector<uint8_t> sent;
    for (IoResult r = Fetch(4096); r.information > 0; r = Fetch(4096))
        sent.insert(sent.end(), buffer.data(), buffer.data() + r.information);
    EXPECT_EQ(sent, written);
    ASSERT_NE(host.Find(Req(1)), nullptr);
    EXPECT_EQ(host.Find(Req(1))->status, kStatusSuccess);
    EXPECT_EQ(host.Find(Req(1))->information, 9000u);
}

TEST_F(DataPath, WritesWhileTheOpenIsPendingFailWithIt)
{
    for (bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "refused" : "unanswered");
        Restart();
        AttachControl();
        ASSERT_EQ(port.Create(Handle(2), Req(200), false).status, kStatusPending);
        ASSERT_EQ(Write(5000, Req(1)).status, kStatusPending);
        if (answered)
            Report(REPORT_OPEN_RESULT, 1, 0);
        else
            host.Advance(port, 10000);
        ASSERT_EQ(port.State(), PORT_CLOSED);
        ASSERT_NE(host.Find(Req(1)), nullptr);
        EXPECT_EQ(host.Find(Req(1))->status, kStatusCancelled);
        EXPECT_EQ(host.Find(Req(1))->information, 0u);
        EXPECT_EQ(port.TxPendingBytes(), 0u);
        EXPECT_EQ(Fetch(4096).information, 0u);
    }
}

TEST_F(DataPath, OutOfMemoryDropsTheWholeWrite)
{
    OpenPort();
    host.failAllocations = true;
    const IoResult r = Write(9000, Req(1));
    EXPECT_EQ(r.status, kStatusSuccess);
    EXPECT_EQ(r.information, 9000u);
    EXPECT_EQ(port.TxPendingBytes(), 0u);
    host.failAllocations = false;
}

TEST_F(DataPath, PutRxDropsEverythingUnlessOpen)
{
    AttachControl();
    EXPECT_EQ(PutRx(50).information, 50u);
    EXPECT_EQ(port.RxUsed(), 0u);
    OpenApplication();
    Report(REPORT_LINK_DOWN);
    EXPECT_EQ(PutRx(50).information, 50u);
    EXPECT_EQ(port.RxUsed(), 0u);
}

TEST_F(DataPath, LinkCodesRefuseMissingBuffers)
{
    OpenPort();
    struct Row {
        uint32_t code, in, out;
    };
    const Row rows[] = {
        {IOCTL_LINK_FETCH_TX, 0, 0},
        {IOCTL_LINK_PUT_RX, 0, 0},
        {IOCTL_LINK_GET_NOTIFICATIONS, 0, 7},
        {IOCTL_LINK_REPORT, 11, 0},
        {IOCTL_LINK_REFRESH_NAMES, 3, 0},
        {IOCTL_LINK_SET_NOTIFY_EVENT, 7, 0},
        {IOCTL_LINK_SET_SPARE_EVENT, 4, 0},
        // The put's count would be copied into any output buffer as if it were data.
        {IOCTL_LINK_PUT_RX, 10, 4},
        {IOCTL_LINK_PUT_RX, 10, 100},
    };
    for (const Row& r : rows) {
        const uint8_t zeros[128] = {};
        const IoResult res = Ioctl(Handle(1), r.code, zeros, r.in, r.out);
        EXPECT_EQ(res.status, kStatusInvalidParameter) << std::hex << r.code;
        EXPECT_EQ(res.information, 0u);
    }
    EXPECT_EQ(port.State(), PORT_OPEN);
    EXPECT_EQ(port.RxUsed(), 0u);
}

// ---- Wait on mask ----

TEST_F(DataPath, WaitOnMaskRules)
{
    OpenPort();
    EXPECT_EQ(Ioctl(Handle(2), IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4).status,
              kStatusInvalidParameter);  // mask 0
    Set(IOCTL_SERIAL_SET_WAIT_MASK, uint32_t{EV_RXCHAR});
    EXPECT_EQ(Get<uint32_t>(IOCTL_SERIAL_GET_WAIT_MASK), EV_RXCHAR);
    ASSERT_EQ(Ioctl(Handle(2), IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4, Req(1)).status,
              kStatusPending);
    uint8_t* waitOut = buffer.data();
    // A second wait while one is pending.
    std::vector<uint8_t> other(4);
    EXPECT_EQ(port.DeviceControl(Handle(2), Req(2), IOCTL_SERIAL_WAIT_ON_MASK, other.data(), 0, 4).status,
              kStatusInvalidParameter);
    host.Advance(port, 99);
    EXPECT_EQ(host.Find(Req(1)), nullptr);
    host.Advance(port, 1);
    ASSERT_NE(host.Find(Req(1)), nullptr);
    EXPECT_EQ(host.Find(Req(1))->information, 4u);
    uint32_t events;
    std::memcpy(&events, waitOut, 4);
    EXPECT_EQ(events, 0u);
}

TEST_F(DataPath, ReceivedBytesWakeAWaitWithRxChar)
{
    OpenPort();
    Set(IOCTL_SERIAL_SET_WAIT_MASK, uint32_t{EV_RXCHAR | EV_TXEMPTY});
    std::vector<uint8_t> out(4);
    ASSERT_EQ(port.DeviceControl(Handle(2), Req(1), IOCTL_SERIAL_WAIT_ON_MASK, out.data(), 0, 4).status,
              kStatusPending);
    PutRx(3);
    ASSERT_NE(host.Find(Req(1)), nullptr);
    uint32_t events;
    std::memcpy(&events, out.data(), 4);
    EXPECT_EQ(events, EV_RXCHAR);

    // Events raised with no wait pending are kept for the next wait.
    Write(5, Req(2));
    Fetch(4096);
    const IoResult now = port.DeviceControl(Handle(2), Req(3), IOCTL_SERIAL_WAIT_ON_MASK, out.data(), 0, 4);
    EXPECT_EQ(now.status, kStatusSuccess);
    std::memcpy(&events, out.data(), 4);
    EXPECT_EQ(events, EV_TXEMPTY);
}

TEST_F(DataPath, ModemStatusChangesRaiseCtsAndDsr)
{
    OpenPort();
    struct Row {
        uint32_t mask;
        uint8_t status;
        uint32_t events;  // 0: the wait stays pending
    };
    const Row rows[] = {
        {EV_CTS, 0x10, EV_CTS},
        {EV_CTS, 0x30, EV_DSR},            // DSR changed: raised although not in the mask
        {EV_RLSD, 0x00, EV_CTS | EV_DSR},
        {EV_RLSD, 0x80, 0},                // DCD alone raises nothing
        {EV_DSR, 0x30, 0},                 // the mask needs CTS or RLSD
    };
    uintptr_t n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r.mask << "/" << int(r.status));
        Set(IOCTL_SERIAL_SET_WAIT_MASK, r.mask);
        std::vector<uint8_t> out(4);
        IoRequest* req = Req(++n);
        ASSERT_EQ(port.DeviceControl(Handle(2), req, IOCTL_SERIAL_WAIT_ON_MASK, out.data(), 0, 4).status,
                  kStatusPending);
        Report(REPORT_MODEM_STATUS, r.status);
        EXPECT_EQ(port.Settings().lines.ModemStatus, r.status);
        if (r.events == 0) {
            EXPECT_EQ(host.Find(req), nullptr);
            host.Advance(port, 100);
            continue;
        }
        ASSERT_NE(host.Find(req), nullptr);
        uint32_t events;
        std::memcpy(&events, out.data(), 4);
        EXPECT_EQ(events, r.events);
    }
}

TEST_F(DataPath, SetWaitMaskEndsAPendingWait)
{
    OpenPort();
    Set(IOCTL_SERIAL_SET_WAIT_MASK, uint32_t{EV_RXCHAR});
    std::vector<uint8_t> out(4, 0xEE);
    port.DeviceControl(Handle(2), Req(1), IOCTL_SERIAL_WAIT_ON_MASK, out.data(), 0, 4);
    Set(IOCTL_SERIAL_SET_WAIT_MASK, uint32_t{EV_CTS});
    ASSERT_NE(host.Find(Req(1)), nullptr);
    EXPECT_EQ(host.Find(Req(1))->information, 4u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(port.Settings().waitMask, EV_CTS);
}

// ---- Purge ----

TEST_F(DataPath, PurgeInItsOrder)
{
    const NtStatus kQueued = 1;  // marker: the write is still queued
    struct Row {
        uint32_t mask;
        bool withRead;  // a read waits; otherwise the ring holds 15 bytes
        uint32_t ringAfter;
        NtStatus writeStatus;
        bool readEnded;
    };
    const Row rows[] = {
        {SERIAL_PURGE_RXCLEAR, false, 0, kStatusSuccess, false},
        {SERIAL_PURGE_RXCLEAR, true, 0, kStatusSuccess, true},
        {SERIAL_PURGE_TXABORT, false, 15, kStatusCancelled, false},
        {SERIAL_PURGE_RXABORT, true, 0, kQueued, true},
        {SERIAL_PURGE_TXCLEAR, true, 0, kQueued, false},
        // RX clear runs first and completes the write as sent; TX abort finds nothing.
        {SERIAL_PURGE_TXABORT | SERIAL_PURGE_RXCLEAR, false, 0, kStatusSuccess, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.mask << (r.withRead ? " read" : " ring"));
        Restart();
        OpenPort();
        SetTimeouts(0, 0, 1000);
        Set(IOCTL_SERIAL_SET_WAIT_MASK, uint32_t{EV_TXEMPTY});
        ASSERT_EQ(Write(30, Req(1)).status, kStatusPending);
        if (r.withRead)
            ASSERT_EQ(port.Read(Handle(2), Req(2), readBuffer, 4).status, kStatusPending);
        else
            PutRx(15);
        std::vector<uint8_t> out(4);
        ASSERT_EQ(port.DeviceControl(Handle(2), Req(3), IOCTL_SERIAL_WAIT_ON_MASK, out.data(), 0, 4).status,
                  kStatusPending);

        ASSERT_EQ(Set(IOCTL_SERIAL_PURGE, r.mask).status, kStatusSuccess);
        EXPECT_EQ(port.RxUsed(), r.ringAfter);
        const Completion* w = host.Find(Req(1));
        if (r.writeStatus == kQueued) {
            EXPECT_EQ(w, nullptr);
        } else {
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(w->status, r.writeStatus);
            EXPECT_EQ(w->information, 30u);
        }
        if (r.withRead) {
            EXPECT_EQ(host.Find(Req(2)) != nullptr, r.readEnded);
            if (r.readEnded) {
                EXPECT_EQ(host.Find(Req(2))->information, 0u);
            }
        }
        // Every purge ends a pending wait.
        ASSERT_NE(host.Find(Req(3)), nullptr);
        EXPECT_EQ(host.Find(Req(3))->information, 4u);
    }
}
