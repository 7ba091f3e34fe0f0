// The control channel: attaching, notifications, reports, handle roles, the open and close
// handshakes on a driven clock, forced close, and cancellation of pending requests.
#include "port_bench.h"

using namespace bench;

// The channel's cases, with one more set-up they share: an open port whose application
// (handle 2) has a read (request 1) and a wait-on-mask (request 2) pending.
struct Channel : PortBench {
    std::vector<uint8_t> waitOutput = std::vector<uint8_t>(4);

    void OpenWithReadAndWaitPending()
    {
        OpenPort();
        SetTimeouts(0, 0, 1000);
        Set(IOCTL_SERIAL_SET_WAIT_MASK, uint32_t{EV_CTS});
        ASSERT_EQ(port.Read(Handle(2), Req(1), readBuffer, 4).status, kStatusPending);
        ASSERT_EQ(port.DeviceControl(Handle(2), Req(2), IOCTL_SERIAL_WAIT_ON_MASK,
                                     waitOutput.data(), 0, 4).status,
                  kStatusPending);
    }
};

TEST_F(Channel, StartNeedsBothEventsAndAnUnattachedChannel)
{
    ASSERT_EQ(port.Create(Handle(1), Req(1), false).status, kStatusSuccess);
    EXPECT_EQ(Ioctl(Handle(1), IOCTL_LINK_START, nullptr, 0, 0).status, kStatusAccessDenied);
    const uint64_t bad = 0x99, zero = 0;
    EXPECT_EQ(Set(IOCTL_LINK_SET_NOTIFY_EVENT, bad, Handle(1)).status, kStatusInvalidParameter);
    EXPECT_EQ(Set(IOCTL_LINK_SET_NOTIFY_EVENT, zero, Handle(1)).status, kStatusInvalidParameter);
    EXPECT_EQ(Set(IOCTL_LINK_SET_NOTIFY_EVENT, FakeHost::kNotifyHandle, Handle(1)).status, kStatusSuccess);
    EXPECT_EQ(Ioctl(Handle(1), IOCTL_LINK_START, nullptr, 0, 0).status, kStatusAccessDenied);
    EXPECT_EQ(Set(IOCTL_LINK_SET_SPARE_EVENT, FakeHost::kSpareHandle, Handle(1)).status, kStatusSuccess);
    // Registering again replaces the slot's object and drops the old reference.
    EXPECT_EQ(Set(IOCTL_LINK_SET_SPARE_EVENT, FakeHost::kSpareHandle, Handle(1)).status, kStatusSuccess);
    EXPECT_EQ(host.references[FakeHost::EventFor(FakeHost::kSpareHandle)], 1);
    EXPECT_EQ(Ioctl(Handle(1), IOCTL_LINK_START, nullptr, 0, 0).status, kStatusSuccess);
    EXPECT_TRUE(port.Channel().attached);
    EXPECT_EQ(Ioctl(Handle(1), IOCTL_LINK_START, nullptr, 0, 0).status, kStatusAccessDenied);
}

TEST_F(Channel, OpenAnsweredAnnouncesTheSettings)
{
    AttachControl();
    ASSERT_EQ(port.Create(Handle(2), Req(1), false).status, kStatusPending);
    EXPECT_EQ(port.State(), PORT_OPENING);
    EXPECT_EQ(AsPairs(Drain()), (Notes{{NOTIFY_OPEN_REQUEST, 0}}));
    EXPECT_EQ(host.Signals(FakeHost::kNotifyHandle), 1);
    Report(REPORT_OPEN_RESULT, 0, 0);
    ASSERT_NE(host.Find(Req(1)), nullptr);
    EXPECT_EQ(host.Find(Req(1))->status, kStatusSuccess);
    EXPECT_EQ(port.State(), PORT_OPEN);
    EXPECT_TRUE(port.Channel().applicationOpen);
    EXPECT_FALSE(host.Armed(TIMER_HANDSHAKE));
    EXPECT_EQ(AsPairs(Drain()), (Notes{{NOTIFY_BAUD_RATE, 6},
                                       {NOTIFY_LINE_CONTROL, 0x1A},
                                       {NOTIFY_MODEM_CONTROL, 3},
                                       {NOTIFY_MODEM_CONTROL, 3},
                                       {NOTIFY_PORT_OPENED, kCom}}));
}

TEST_F(Channel, OpenRefusedOrUnanswered)
{
    struct Row {
        const char* what;
        bool answer;
        uint32_t failed, status;
    };
    const Row rows[] = {
        {"refused with access denied", true, 1, 0xC0000022u},
        {"refused with another status", true, 1, 0xC0000001u},
        {"refused without a status", true, 1, 0},
        {"unanswered", false, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Restart();
        AttachControl();
        ASSERT_EQ(port.Create(Handle(2), Req(1), false).status, kStatusPending);
        if (r.answer) {
            Report(REPORT_OPEN_RESULT, r.failed, r.status);
        } else {
            host.Advance(port, 9999);
            EXPECT_EQ(host.Find(Req(1)), nullptr);
            host.Advance(port, 1);
        }
        ASSERT_NE(host.Find(Req(1)), nullptr);
        EXPECT_EQ(host.Find(Req(1))->status, kStatusAccessDenied);
        EXPECT_EQ(port.State(), PORT_CLOSED);
        EXPECT_FALSE(port.Channel().applicationOpen);
        // No close request for a port that never opened.
        EXPECT_EQ(AsPairs(Drain()), (Notes{{NOTIFY_OPEN_REQUEST, 0}}));
        // The refused application's close leaves the channel attached.
        EXPECT_EQ(port.Close(Handle(2), Req(2)).status, kStatusSuccess);
        EXPECT_TRUE(port.Channel().attached);
        EXPECT_EQ(host.childHandleClosed, 0);
        // And the port takes the next application.
        OpenApplication(Handle(3), Req(3));
    }
}

// Closes are told apart by the role the handle was opened in.
TEST_F(Channel, CloseByRole)
{
    enum Who { OWNER, IDLE_CONTROL, REFUSED, APPLICATION, STRAY_UNATTACHED };
    struct Row {
        const char* what;
        Who who;
        bool attachedAfter;
        int childNotices;
        bool portClosedPosted;
    };
    const Row rows[] = {
        {"the control program", OWNER, false, 0, false},
        {"a control handle that never attached", IDLE_CONTROL, true, 0, false},
        {"a refused application", REFUSED, true, 0, false},
        {"the admitted application", APPLICATION, true, 0, true},
        {"any handle on an unattached port", STRAY_UNATTACHED, false, 1, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Restart();
        host.childHandleClosed = 0;
        IoHandle* closing = Handle(7);
        if (r.who == STRAY_UNATTACHED) {
            ASSERT_EQ(port.Create(closing, Req(1), false).status, kStatusSuccess);
        } else {
            // Two handles opened before the channel attaches; the first one attaches it.
            ASSERT_EQ(port.Create(Handle(6), Req(2), false).status, kStatusSuccess);
            AttachControl();
            OpenApplication(Handle(2), Req(3));
            if (r.who == OWNER) closing = Handle(1);
            if (r.who == IDLE_CONTROL) closing = Handle(6);
            if (r.who == REFUSED) {
                EXPECT_EQ(port.Create(closing, Req(4), false).status, kStatusAccessDenied);
            }
            if (r.who == APPLICATION) closing = Handle(2);
            Drain();
        }
        const IoResult closed = port.Close(closing, Req(5));
        if (closed.status == kStatusPending) Report(REPORT_CLOSE_DONE);
        EXPECT_EQ(port.Channel().attached, r.attachedAfter);
        EXPECT_EQ(host.childHandleClosed, r.childNotices);
        const Notes notes = AsPairs(Drain());
        const bool posted = !notes.empty() && notes.back().first == NOTIFY_PORT_CLOSED;
        EXPECT_EQ(posted, r.portClosedPosted);
    }
}

TEST_F(Channel, OneApplicationAtATime)
{
    AttachControl();
    ASSERT_EQ(port.Create(Handle(2), Req(1), false).status, kStatusPending);
    EXPECT_EQ(port.Create(Handle(3), Req(2), false).status, kStatusAccessDenied);  // opening
    Report(REPORT_OPEN_RESULT);
    EXPECT_EQ(port.Create(Handle(3), Req(3), false).status, kStatusAccessDenied);  // open
    Report(REPORT_LINK_DOWN);
    EXPECT_EQ(port.Create(Handle(3), Req(4), false).status, kStatusAccessDenied);  // suspended
    // The refused one's close is not the application's close.
    EXPECT_EQ(port.Close(Handle(3), Req(5)).status, kStatusSuccess);
    EXPECT_EQ(port.State(), PORT_SUSPENDED);
    EXPECT_TRUE(port.Channel().applicationOpen);
}

TEST_F(Channel, DirectoryOpenRefused)
{
    AttachControl();
    EXPECT_EQ(port.Create(Handle(2), Req(1), true).status, kStatusNotADirectory);
    EXPECT_EQ(port.State(), PORT_CLOSED);
}

TEST_F(Channel, CloseAnsweredOrUnanswered)
{
    for (bool answer : {true, false}) {
        SCOPED_TRACE(answer ? "answered" : "unanswered");
        Restart();
        OpenPort();
        SetTimeouts(0, 0, 1000);
        ASSERT_EQ(port.Read(Handle(2), Req(1), readBuffer, 4).status, kStatusPending);
        ASSERT_EQ(port.Close(Handle(2), Req(2)).status, kStatusPending);
        EXPECT_EQ(port.State(), PORT_CLOSING);
        EXPECT_EQ(AsPairs(Drain()), (Notes{{NOTIFY_CLOSE_REQUEST, 0}}));
        if (answer) {
            Report(REPORT_CLOSE_DONE);
        } else {
            host.Advance(port, 9999);
            EXPECT_EQ(host.Find(Req(2)), nullptr);
            host.Advance(port, 1);
        }
        ASSERT_NE(host.Find(Req(2)), nullptr);
        EXPECT_EQ(host.Find(Req(2))->status, kStatusSuccess);
        ASSERT_NE(host.Find(Req(1)), nullptr);  // the flush ended the read
        EXPECT_EQ(port.State(), PORT_CLOSED);
        EXPECT_FALSE(port.Channel().applicationOpen);
        EXPECT_TRUE(port.Channel().attached);
        EXPECT_EQ(AsPairs(Drain()), (Notes{{NOTIFY_PORT_CLOSED, kCom}}));
    }
}

TEST_F(Channel, SuspendedPortClosesWithoutARequest)
{
    OpenPort();
    Report(REPORT_LINK_DOWN);
    EXPECT_EQ(port.Close(Handle(2), Req(1)).status, kStatusSuccess);
    EXPECT_EQ(port.State(), PORT_CLOSED);
    EXPECT_EQ(AsPairs(Drain()), (Notes{{NOTIFY_PORT_CLOSED, kCom}}));
}

TEST_F(Channel, LinkReportsMoveOnlyBetweenOpenAndSuspended)
{
    struct Row {
        PortState from;
        uint32_t kind;
        PortState to;
    };
    const Row rows[] = {
        {PORT_OPEN, REPORT_LINK_DOWN, PORT_SUSPENDED},  {PORT_SUSPENDED, REPORT_LINK_UP, PORT_OPEN},
        {PORT_OPEN, REPORT_LINK_UP, PORT_OPEN},         {PORT_SUSPENDED, REPORT_LINK_DOWN, PORT_SUSPENDED},
        {PORT_CLOSED, REPORT_LINK_DOWN, PORT_CLOSED},   {PORT_CLOSED, REPORT_LINK_UP, PORT_CLOSED},
        {PORT_OPENING, REPORT_LINK_DOWN, PORT_OPENING}, {PORT_OPEN, 99, PORT_OPEN},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.from << " " << r.kind);
        Restart();
        AttachControl();
        if (r.from != PORT_CLOSED) {
            ASSERT_EQ(port.Create(Handle(2), Req(1), false).status, kStatusPending);
        }
        if (r.from == PORT_OPEN || r.from == PORT_SUSPENDED) Report(REPORT_OPEN_RESULT);
        if (r.from == PORT_SUSPENDED) Report(REPORT_LINK_DOWN);
        ASSERT_EQ(port.State(), r.from);
        EXPECT_EQ(Report(r.kind).status, kStatusSuccess);
        EXPECT_EQ(port.State(), r.to);
    }
}

TEST_F(Channel, NotificationsDrainOneRecordThroughTwelveBytes)
{
    OpenPort();
    Set(IOCTL_SERIAL_SET_BAUD_RATE, uint32_t{14400});
    const SerialLineControl lc = {STOP_BIT_1, NO_PARITY, 8};
    Set(IOCTL_SERIAL_SET_LINE_CONTROL, lc);
    Notes got;
    for (int i = 0; i < 3; ++i) {
        const IoResult r = Ioctl(Handle(1), IOCTL_LINK_GET_NOTIFICATIONS, nullptr, 0, 12);
        EXPECT_EQ(r.status, kStatusSuccess);
        EXPECT_EQ(r.information, i < 2 ? 8u : 0u);
        if (r.information) {
            LinkNotification n;
            std::memcpy(&n, buffer.data(), 8);
            got.push_back({n.Code, n.Value});
        }
    }
    EXPECT_EQ(got, (Notes{{NOTIFY_BAUD_RATE, 6}, {NOTIFY_LINE_CONTROL, 0x03}}));
}

TEST_F(Channel, LostNotificationDoesNotFailTheOperation)
{
    OpenPort();
    host.failAllocations = true;
    EXPECT_EQ(Set(IOCTL_SERIAL_SET_BAUD_RATE, uint32_t{19200}).status, kStatusSuccess);
    host.failAllocations = false;
    EXPECT_TRUE(Drain().empty());
}

TEST_F(Channel, ForceClose)
{
    ASSERT_NO_FATAL_FAILURE(OpenWithReadAndWaitPending());
    ASSERT_EQ(Write(8, Req(3)).status, kStatusPending);

    EXPECT_EQ(Ioctl(Handle(1), IOCTL_LINK_FORCE_CLOSE, nullptr, 0, 0).status, kStatusSuccess);
    EXPECT_EQ(port.State(), PORT_CLOSED);
    EXPECT_FALSE(port.Channel().applicationOpen);
    for (uintptr_t i = 1; i <= 3; ++i) {
        ASSERT_NE(host.Find(Req(i)), nullptr);
        EXPECT_EQ(host.Find(Req(i))->status, kStatusSuccess);
    }
    EXPECT_TRUE(Drain().empty());  // no notification, no handshake
    EXPECT_EQ(port.Read(Handle(2), Req(4), readBuffer, 4).status, kStatusTimeout);

    // Another application may open; the forced-off one is shut out of its data.
    OpenApplication(Handle(3), Req(5));
    PutRx(6);
    EXPECT_EQ(port.Read(Handle(2), Req(6), readBuffer, 4).status, kStatusTimeout);
    EXPECT_EQ(port.Read(Handle(3), Req(7), readBuffer, 10).information, 6u);
    // The forced-off application's close touches neither the channel nor the new holder.
    Drain();
    EXPECT_EQ(port.Close(Handle(2), Req(8)).status, kStatusSuccess);
    EXPECT_TRUE(port.Channel().attached);
    EXPECT_EQ(port.State(), PORT_OPEN);
    EXPECT_TRUE(Drain().empty());
}

TEST_F(Channel, ForcedOffHandleNeverCountsAsTheApplicationAgain)
{
    OpenPort();
    Ioctl(Handle(1), IOCTL_LINK_FORCE_CLOSE, nullptr, 0, 0);
    EXPECT_EQ(port.Channel().application, nullptr);
    // A second application's open is being answered when the forced-off handle closes.
    ASSERT_EQ(port.Create(Handle(3), Req(1), false).status, kStatusPending);
    Drain();
    EXPECT_EQ(port.Close(Handle(2), Req(2)).status, kStatusSuccess);
    EXPECT_EQ(port.State(), PORT_OPENING);
    EXPECT_TRUE(Drain().empty());
    // A third open waits its turn instead of taking over the pending handshake.
    EXPECT_EQ(port.Create(Handle(4), Req(3), false).status, kStatusAccessDenied);
    Report(REPORT_OPEN_RESULT);
    ASSERT_NE(host.Find(Req(1)), nullptr);
    EXPECT_EQ(host.Find(Req(1))->status, kStatusSuccess);
    EXPECT_EQ(port.State(), PORT_OPEN);
    const Notes notes = AsPairs(Drain());
    EXPECT_NE(std::find(notes.begin(), notes.end(), std::make_pair(uint32_t{NOTIFY_PORT_OPENED}, kCom)),
              notes.end());
    EXPECT_EQ(port.Close(Handle(4), Req(4)).status, kStatusSuccess);
    EXPECT_EQ(port.State(), PORT_OPEN);
}

TEST_F(Channel, ForceCloseDuringTheCloseHandshakeEndsIt)
{
    OpenPort();
    ASSERT_EQ(port.Close(Handle(2), Req(1)).status, kStatusPending);
    // The same handle closing again leaves the handshake be.
    EXPECT_EQ(port.Close(Handle(2), Req(2)).status, kStatusSuccess);
    EXPECT_EQ(port.Create(Handle(3), Req(3), false).status, kStatusAccessDenied);
    EXPECT_EQ(host.Find(Req(1)), nullptr);
    Ioctl(Handle(1), IOCTL_LINK_FORCE_CLOSE, nullptr, 0, 0);
    ASSERT_NE(host.Find(Req(1)), nullptr);
    EXPECT_EQ(host.Find(Req(1))->status, kStatusSuccess);
    EXPECT_FALSE(host.Armed(TIMER_HANDSHAKE));
    OpenApplication(Handle(3), Req(4));
}

TEST_F(Channel, ControlProgramClosesWhileAnApplicationHoldsThePort)
{
    OpenPort();
    SetTimeouts(0, 0, 1000);
    ASSERT_EQ(port.Read(Handle(2), Req(1), readBuffer, 4).status, kStatusPending);
    ASSERT_EQ(Write(8, Req(2)).status, kStatusPending);

    // The control program's close detaches at once and closes the port.
    EXPECT_EQ(port.Close(Handle(1), Req(3)).status, kStatusSuccess);
    EXPECT_FALSE(port.Channel().attached);
    EXPECT_EQ(port.State(), PORT_CLOSED);
    EXPECT_EQ(host.references[FakeHost::EventFor(FakeHost::kNotifyHandle)], 0);
    EXPECT_EQ(host.references[FakeHost::EventFor(FakeHost::kSpareHandle)], 0);
    EXPECT_NE(host.Find(Req(1)), nullptr);
    EXPECT_NE(host.Find(Req(2)), nullptr);
    EXPECT_EQ(host.childHandleClosed, 0);

    // The application's reads time out at once and its writes are dropped.
    const IoResult read = port.Read(Handle(2), Req(4), readBuffer, 4);
    EXPECT_EQ(read.status, kStatusTimeout);
    EXPECT_EQ(read.information, 0u);
    EXPECT_EQ(Write(8, Req(5)).status, kStatusSuccess);

    // A new control program serves the next application at once; nothing of the first
    // control program's notifications reaches it.
    AttachControl(Handle(4));
    EXPECT_TRUE(Drain().empty());
    EXPECT_EQ(Ioctl(Handle(4), IOCTL_LINK_FORCE_CLOSE, nullptr, 0, 0).status, kStatusSuccess);
    ASSERT_EQ(port.Create(Handle(5), Req(6), false).status, kStatusPending);
    Report(REPORT_OPEN_RESULT);
    EXPECT_EQ(host.Find(Req(6))->status, kStatusSuccess);
    EXPECT_EQ(port.Read(Handle(2), Req(7), readBuffer, 4).status, kStatusTimeout);

    // The stale application's close is no one's: the new holder keeps the port.
    Drain();
    EXPECT_EQ(port.Close(Handle(2), Req(8)).status, kStatusSuccess);
    EXPECT_TRUE(port.Channel().attached);
    EXPECT_EQ(port.State(), PORT_OPEN);
    EXPECT_TRUE(Drain().empty());
}

TEST_F(Channel, ControlProgramClosesDuringAHandshake)
{
    AttachControl();
    ASSERT_EQ(port.Create(Handle(2), Req(1), false).status, kStatusPending);
    port.Close(Handle(1), Req(2));
    ASSERT_NE(host.Find(Req(1)), nullptr);
    EXPECT_EQ(host.Find(Req(1))->status, kStatusAccessDenied);
    EXPECT_EQ(port.State(), PORT_CLOSED);
    EXPECT_FALSE(host.Armed(TIMER_HANDSHAKE));

    AttachControl(Handle(3));
    OpenApplication(Handle(4), Req(3));
    ASSERT_EQ(port.Close(Handle(4), Req(4)).status, kStatusPending);
    port.Close(Handle(3), Req(5));
    ASSERT_NE(host.Find(Req(4)), nullptr);
    EXPECT_EQ(host.Find(Req(4))->status, kStatusSuccess);
    EXPECT_EQ(port.State(), PORT_CLOSED);
}

TEST_F(Channel, OpenWithoutAControlProgramOpensNothing)
{
    ASSERT_EQ(port.Create(Handle(2), Req(1), false).status, kStatusSuccess);
    EXPECT_EQ(port.Read(Handle(2), Req(2), readBuffer, 4).status, kStatusTimeout);
    EXPECT_EQ(port.Write(Handle(2), Req(3), readBuffer, 4).information, 4u);
    // A handle of neither end closing on an unattached port tells the bus.
    EXPECT_EQ(port.Close(Handle(2), Req(4)).status, kStatusSuccess);
    EXPECT_EQ(host.childHandleClosed, 1);
}

TEST_F(Channel, RefreshNamesOnlyWhileClosedAndNoOpenUntilDone)
{
    AttachControl();
    const uint32_t com = 7;
    // Two refreshes at once: opens stay refused until the shell has ended both.
    EXPECT_EQ(Set(IOCTL_LINK_REFRESH_NAMES, com, Handle(1)).status, kStatusSuccess);
    EXPECT_EQ(Set(IOCTL_LINK_REFRESH_NAMES, com, Handle(1)).status, kStatusSuccess);
    EXPECT_EQ(host.refreshNames, 2);
    EXPECT_EQ(port.Create(Handle(2), Req(1), false).status, kStatusAccessDenied);
    port.EndRename(7, 1);
    EXPECT_EQ(port.Create(Handle(2), Req(2), false).status, kStatusAccessDenied);
    port.EndRename(7, 1);
    EXPECT_FALSE(port.Renaming());
    // Not while an open is being answered, nor while it is open.
    ASSERT_EQ(port.Create(Handle(2), Req(3), false).status, kStatusPending);
    EXPECT_EQ(Set(IOCTL_LINK_REFRESH_NAMES, com, Handle(1)).status, kStatusSuccess);
    Report(REPORT_OPEN_RESULT);
    EXPECT_EQ(Set(IOCTL_LINK_REFRESH_NAMES, com, Handle(1)).status, kStatusSuccess);
    EXPECT_EQ(host.refreshNames, 2);
    EXPECT_FALSE(port.Renaming());
    Drain();
    // The port's notifications name the new number.
    ASSERT_EQ(port.Close(Handle(2), Req(4)).status, kStatusPending);
    Report(REPORT_CLOSE_DONE);
    EXPECT_EQ(AsPairs(Drain()).back(), (std::pair<uint32_t, uint32_t>{NOTIFY_PORT_CLOSED, com}));
}

TEST_F(Channel, ModemStatusIgnoredUnlessOpeningOrOpen)
{
    AttachControl();
    Report(REPORT_MODEM_STATUS, 0xB0);
    EXPECT_EQ(port.Settings().lines.ModemStatus, 0);
    ASSERT_EQ(port.Create(Handle(2), Req(1), false).status, kStatusPending);
    Report(REPORT_MODEM_STATUS, 0xB0);
    EXPECT_EQ(port.Settings().lines.ModemStatus, 0xB0);
}

TEST_F(Channel, OpenResetsWhatAnEarlierApplicationLeft)
{
    OpenPort();
    Set(IOCTL_SERIAL_SET_BAUD_RATE, uint32_t{115200});
    Set(IOCTL_SERIAL_SET_WAIT_MASK, uint32_t{EV_RXCHAR});
    PutRx(40);
    Report(REPORT_LINK_DOWN);
    port.Close(Handle(2), Req(1));
    OpenApplication(Handle(3), Req(2));
    EXPECT_EQ(port.Settings().baudRate, 9600u);
    EXPECT_EQ(port.Settings().waitMask, 0u);
    EXPECT_EQ(port.Settings().receivedCount, 0u);
    EXPECT_EQ(port.RxUsed(), 0u);
}

// ---- Requests must not outlive their handle ----

TEST_F(Channel, CleanupCancelsEverythingTheHandleLeftPending)
{
    ASSERT_NO_FATAL_FAILURE(OpenWithReadAndWaitPending());
    ASSERT_EQ(Write(5000, Req(3)).status, kStatusPending);
    ASSERT_EQ(Write(10, Req(4)).status, kStatusPending);
    EXPECT_EQ(Fetch(4096).information, 4096u);  // part of the first write went out

    port.Cleanup(Handle(2));
    struct Row {
        uintptr_t req;
        uint32_t information;
    };
    const Row rows[] = {{1, 0}, {2, 0}, {3, 4096}, {4, 0}};
    for (const Row& r : rows) {
        const Completion* c = host.Find(Req(r.req));
        ASSERT_NE(c, nullptr) << r.req;
        EXPECT_EQ(c->status, kStatusCancelled) << r.req;
        EXPECT_EQ(c->information, r.information) << r.req;
    }
    EXPECT_EQ(port.TxPendingBytes(), 0u);
    EXPECT_FALSE(host.Armed(TIMER_READ));
    EXPECT_FALSE(host.Armed(TIMER_WAIT));
    // The timers firing late find nothing to complete twice.
    port.OnTimer(TIMER_READ);
    port.OnTimer(TIMER_WAIT);
}

TEST_F(Channel, CancelCompletesOnlyTheCancelledRequest)
{
    OpenPort();
    SetTimeouts(0, 0, 1000);
    ASSERT_EQ(Write(10, Req(1)).status, kStatusPending);
    ASSERT_EQ(Write(20, Req(2)).status, kStatusPending);
    ASSERT_EQ(port.Read(Handle(2), Req(3), readBuffer, 4).status, kStatusPending);
    EXPECT_TRUE(port.Cancel(Req(1)));
    EXPECT_EQ(host.Find(Req(1))->status, kStatusCancelled);
    EXPECT_EQ(port.TxPendingBytes(), 20u);
    EXPECT_TRUE(port.Cancel(Req(3)));
    EXPECT_FALSE(port.Cancel(Req(3)));
    EXPECT_FALSE(port.Cancel(Req(77)));
    EXPECT_EQ(Fetch(4096).information, 20u);
    EXPECT_EQ(host.Find(Req(2))->status, kStatusSuccess);
}

TEST_F(Channel, CancelledOpenEndsTheHandshake)
{
    AttachControl();
    ASSERT_EQ(port.Create(Handle(2), Req(1), false).status, kStatusPending);
    EXPECT_TRUE(port.Cancel(Req(1)));
    EXPECT_EQ(host.Find(Req(1))->status, kStatusCancelled);
    EXPECT_EQ(port.State(), PORT_CLOSED);
    Report(REPORT_OPEN_RESULT);  // a late answer changes nothing
    EXPECT_EQ(port.State(), PORT_CLOSED);
}

TEST_F(Channel, DeviceStopEndsEverything)
{
    struct Row {
        const char* what;
        bool opening;
    };
    for (const Row& r : {Row{"open", false}, Row{"opening", true}}) {
        SCOPED_TRACE(r.what);
        Restart();
        AttachControl();
        if (r.opening) {
            ASSERT_EQ(port.Create(Handle(2), Req(1), false).status, kStatusPending);
        } else {
            OpenApplication(Handle(2), Req(1));
            SetTimeouts(0, 0, 1000);
            ASSERT_EQ(port.Read(Handle(2), Req(2), readBuffer, 4).status, kStatusPending);
            ASSERT_EQ(Write(10, Req(3)).status, kStatusPending);
        }
        Drain();
        port.DeviceStop();
        EXPECT_EQ(port.State(), PORT_ABSENT);
        for (uintptr_t i = 1; i <= (r.opening ? 1u : 3u); ++i) EXPECT_NE(host.Find(Req(i)), nullptr) << i;
        if (r.opening) {
            EXPECT_EQ(host.Find(Req(1))->status, kStatusAccessDenied);
        } else {
            EXPECT_EQ(AsPairs(Drain()), (Notes{{NOTIFY_CLOSE_REQUEST, 0}, {NOTIFY_PORT_CLOSED, kCom}}));
        }
        // No wait outlives the port's timer.
        Set(IOCTL_SERIAL_SET_WAIT_MASK, uint32_t{EV_RXCHAR});
        EXPECT_EQ(port.DeviceControl(Handle(2), Req(4), IOCTL_SERIAL_WAIT_ON_MASK,
                                     waitOutput.data(), 0, 4).status,
                  kStatusDeviceNotReady);

        // The control program stays attached across the stop; the old handle is shut out.
        port.DeviceStart();
        EXPECT_EQ(port.State(), PORT_CLOSED);
        EXPECT_TRUE(port.Channel().attached);
        OpenApplication(Handle(3), Req(5));
        EXPECT_EQ(port.Read(Handle(2), Req(6), readBuffer, 4).status, kStatusTimeout);
        EXPECT_EQ(port.Close(Handle(2), Req(7)).status, kStatusSuccess);
        EXPECT_EQ(port.State(), PORT_OPEN);
    }
}

TEST_F(Channel, AttachBeforeTheFirstStartSurvivesTheStart)
{
    port.~SerialPort();
    new (&port) SerialPort(host, kCom);
    AttachControl();
    port.DeviceStart();
    EXPECT_TRUE(port.Channel().attached);
    OpenApplication();
}

// The request counters: every request the port serves is counted by its kind, on
// whichever handle it comes; reading them is not counted and changes nothing.
TEST_F(Channel, CountersCountEveryRequestByKind)
{
    const auto counters = [&](IoHandle* handle) { return Get<LinkCounters>(IOCTL_LINK_QUERY_COUNTERS, handle); };
    OpenPort();  // attach (two events, start), an open answered, a drain to empty
    const LinkCounters opened = counters(Handle(1));
    EXPECT_EQ(opened.Size, sizeof(LinkCounters));
    EXPECT_EQ(opened.OtherLinkControls, 3u);
    EXPECT_EQ(opened.Reports, 1u);
    EXPECT_GE(opened.NotificationDrains, 1u);
    EXPECT_EQ(opened.EmptyDrains, 1u);
    EXPECT_EQ(opened.Reads + opened.Writes + opened.Fetches + opened.Puts, 0u);

    SetTimeouts(0, 0, 1000);                                   // 1 serial control
    Write(10, Req(1));                                         // 1 write
    EXPECT_EQ(Fetch(4).information, 0u);                       // too small: an empty fetch
    EXPECT_EQ(Fetch(4096).information, 10u);                   // a fetch that moves the write
    EXPECT_EQ(Fetch(0).status, kStatusInvalidParameter);       // refused, still a fetch
    PutRx(5);                                                  // 1 put
    port.Read(Handle(2), Req(2), readBuffer, 5);               // 1 read
    Report(REPORT_MODEM_STATUS, 0x30);                         // 1 report
    Ioctl(Handle(1), IOCTL_LINK_PROBE, nullptr, 0, 0);         // 1 other link code
    Ioctl(Handle(2), 0x001BFFFCu, nullptr, 0, 0);              // a code nobody knows
    Drain();                                                   // 1 drain, empty

    // Read on the application's handle, twice: the reads change nothing.
    const LinkCounters now = counters(Handle(2)), again = counters(Handle(2));
    EXPECT_EQ(std::memcmp(&now, &again, sizeof now), 0);
    EXPECT_EQ(now.SerialControls - opened.SerialControls, 2u);
    EXPECT_EQ(now.Writes, 1u);
    EXPECT_EQ(now.Fetches, 3u);
    EXPECT_EQ(now.EmptyFetches, 1u);
    EXPECT_EQ(now.Puts, 1u);
    EXPECT_EQ(now.Reads, 1u);
    EXPECT_EQ(now.Reports - opened.Reports, 1u);
    EXPECT_EQ(now.OtherLinkControls - opened.OtherLinkControls, 1u);
    EXPECT_EQ(now.NotificationDrains - opened.NotificationDrains, 1u);
    EXPECT_EQ(now.EmptyDrains - opened.EmptyDrains, 1u);

    // A buffer too short for the record is refused; a new device start counts from 0.
    EXPECT_EQ(Ioctl(Handle(2), IOCTL_LINK_QUERY_COUNTERS, nullptr, 0, sizeof(LinkCounters) - 1).status,
              kStatusBufferTooSmall);
    port.DeviceStop();
    port.DeviceStart();
    const LinkCounters fresh = counters(Handle(2));
    EXPECT_EQ(fresh.Size, sizeof(LinkCounters));
    EXPECT_EQ(fresh.Reads + fresh.Writes + fresh.SerialControls + fresh.Fetches + fresh.Puts +
                  fresh.NotificationDrains + fresh.Reports + fresh.OtherLinkControls,
              0u);
}
