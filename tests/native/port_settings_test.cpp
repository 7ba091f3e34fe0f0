// Serial settings: line control, read time-outs, handflow, and the buffer rules and
// statuses of every standard control code.
#include "handflow_rules.h"
#include "line_control.h"
#include "port_bench.h"
#include "read_timeouts.h"

using namespace bench;

TEST(LineControl, EncodesValidRecordsAndRefusesTheRest)
{
    struct Row {
        uint8_t stop, parity, word;
        bool valid;
        uint8_t image, mask;
    };
    const Row rows[] = {
        {STOP_BIT_1, NO_PARITY, 8, true, 0x03, 0xFF},
        {STOP_BIT_1, EVEN_PARITY, 7, true, 0x1A, 0x7F},
        {STOP_BIT_1, ODD_PARITY, 6, true, 0x09, 0x3F},
        {STOP_BIT_1, MARK_PARITY, 5, true, 0x28, 0x1F},
        {STOP_BIT_1, SPACE_PARITY, 8, true, 0x3B, 0xFF},
        {STOP_BITS_1_5, NO_PARITY, 5, true, 0x04, 0x1F},
        {STOP_BITS_1_5, NO_PARITY, 6, false, 0, 0},
        {STOP_BITS_1_5, NO_PARITY, 8, false, 0, 0},
        {STOP_BITS_2, NO_PARITY, 6, true, 0x05, 0x3F},
        {STOP_BITS_2, NO_PARITY, 8, true, 0x07, 0xFF},
        {STOP_BITS_2, NO_PARITY, 5, false, 0, 0},
        {3, NO_PARITY, 8, false, 0, 0},
        {STOP_BIT_1, 5, 8, false, 0, 0},
        {STOP_BIT_1, NO_PARITY, 4, false, 0, 0},
        {STOP_BIT_1, NO_PARITY, 9, false, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << int(r.stop) << "/" << int(r.parity) << "/" << int(r.word));
        const EncodedLineControl e = EncodeLineControl({r.stop, r.parity, r.word}, 0x00);
        EXPECT_EQ(e.valid, r.valid);
        if (!r.valid) continue;
        EXPECT_EQ(e.lineControl, r.image);
        EXPECT_EQ(e.validDataMask, r.mask);
        const SerialLineControl back = DecodeLineControl(e.lineControl);
        EXPECT_EQ(back.StopBits, r.stop);
        EXPECT_EQ(back.Parity, r.parity);
        EXPECT_EQ(back.WordLength, r.word);
    }
}

TEST(LineControl, KeepsTheBreakBitAndNothingElseOfTheOldImage)
{
    const EncodedLineControl e = EncodeLineControl({STOP_BIT_1, NO_PARITY, 8}, 0x40 | 0x3F);
    EXPECT_EQ(e.lineControl, 0x43);
}

TEST(ReadTimeouts, AllThreeReadValuesMaxAreInvalid)
{
    const uint32_t M = MAXULONG32;
    EXPECT_FALSE(TimeoutsValid({M, M, M, 0, 0}));
    EXPECT_TRUE(TimeoutsValid({M, 0, 0, 0, 0}));
    EXPECT_TRUE(TimeoutsValid({M, M, 5, 0, 0}));
    EXPECT_TRUE(TimeoutsValid({0, M, M, 0, 0}));
}

// The eight behaviours of a read that finds the ring empty, for a 5-byte read.
TEST(ReadTimeouts, EmptyRingReadBehaviour)
{
    const uint32_t M = MAXULONG32;
    const int64_t kImmediate = 1;  // marker: no wait at all
    struct Row {
        uint32_t interval, multiplier, constant;
        int64_t due;
    };
    const Row rows[] = {
        {0, 0, 0, kImmediate},
        {M, 0, 0, kImmediate},
        {M, 7, M, kImmediate},
        {M, M, 250, -250 * 10000},
        {M, 10, 100, -(5 * 10 + 100) * 10000},
        {0, 10, 100, -150 * 10000},
        {0, 0, 40, -40 * 10000},
        {1, 0, 0, -1},
        {19999, 50, 50, -1},
        {20000, 0, 0, -10000000},
        {M - 1, 3, 3, -10000000},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.interval << "/" << r.multiplier << "/" << r.constant);
        const ReadParams p = ComputeReadParams({r.interval, r.multiplier, r.constant, 0, 0});
        EXPECT_EQ(p.readImmediate, r.due == kImmediate);
        if (r.due != kImmediate) {
            EXPECT_EQ(ReadDueTime(p, 5), r.due);
        }
    }
}

TEST(ReadTimeouts, HugeTotalsSaturateInsteadOfWrapping)
{
    const ReadParams p = ComputeReadParams({0, MAXULONG32, MAXULONG32, 0, 0});
    const int64_t due = ReadDueTime(p, MAXULONG32);
    EXPECT_LT(due, 0);
    EXPECT_EQ(due, -(INT64_MAX / kTicksPerMs) * kTicksPerMs);
}

TEST(Handflow, ValidationTable)
{
    struct Row {
        uint32_t shake, replace;
        int32_t xon, xoff;
        bool valid;
    };
    const Row rows[] = {
        {0x01, 0x40, 4048, 1012, true},
        {0x01, 0x40, 8096, 8096, true},
        {0x01, 0x40, 8097, 0, false},
        {0x01, 0x40, 0, 8097, false},
        {0x01, 0x40, -1, 0, false},
        {0x01, 0x40, 0, -1, false},
        {0x03, 0x40, 0, 0, false},           // DTR mode 3 does not exist
        {0x04, 0x40, 0, 0, false},           // reserved bit
        {0x80000000u | 0x79, 0xC3 | 0x80000000u, 0, 0, true},  // top bits are allowed
        {0x01, 0x20, 0, 0, false},           // reserved FlowReplace bit
        {0x01, 0x100, 0, 0, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r.shake << "/" << r.replace << std::dec
                                        << "/" << r.xon << "/" << r.xoff);
        EXPECT_EQ(HandflowValid({r.shake, r.replace, r.xon, r.xoff}), r.valid);
    }
}

using ControlCodes = PortBench;

// Every standard code with a buffer rule: one byte short fails with the code's status and
// changes nothing; the exact size succeeds.
TEST_F(ControlCodes, BufferRules)
{
    struct Row {
        uint32_t code;
        uint32_t in, out;
        NtStatus shortStatus;
        uint32_t returned;
    };
    const NtStatus small = kStatusBufferTooSmall, invalid = kStatusInvalidParameter;
    const Row rows[] = {
        {IOCTL_SERIAL_SET_BAUD_RATE, 4, 0, small, 0},
        {IOCTL_SERIAL_SET_LINE_CONTROL, 3, 0, small, 0},
        {IOCTL_SERIAL_SET_TIMEOUTS, 20, 0, small, 0},
        {IOCTL_SERIAL_GET_WAIT_MASK, 0, 4, invalid, 4},
        {IOCTL_SERIAL_SET_WAIT_MASK, 4, 0, invalid, 0},
        {IOCTL_SERIAL_WAIT_ON_MASK, 0, 4, invalid, 4},
        {IOCTL_SERIAL_PURGE, 4, 0, invalid, 0},
        {IOCTL_SERIAL_GET_BAUD_RATE, 0, 4, small, 4},
        {IOCTL_SERIAL_GET_LINE_CONTROL, 0, 3, small, 3},
        {IOCTL_SERIAL_GET_CHARS, 0, 6, small, 6},
        {IOCTL_SERIAL_SET_CHARS, 6, 0, small, 0},
        {IOCTL_SERIAL_GET_HANDFLOW, 0, 16, small, 16},
        {IOCTL_SERIAL_SET_HANDFLOW, 16, 0, small, 0},
        {IOCTL_SERIAL_GET_MODEMSTATUS, 0, 4, small, 4},
        {IOCTL_SERIAL_GET_COMMSTATUS, 0, 20, small, 20},
        {IOCTL_SERIAL_GET_STATS, 0, 24, small, 24},
    };
    // Valid contents for the set codes, so that the exact size succeeds.
    uint8_t valid[24] = {};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r.code);
        std::memset(valid, 0, sizeof valid);
        if (r.code == IOCTL_SERIAL_SET_LINE_CONTROL) valid[2] = 8;
        if (r.code == IOCTL_SERIAL_PURGE || r.code == IOCTL_SERIAL_SET_WAIT_MASK) valid[0] = 1;
        const SerialContext before = port.Settings();

        const IoResult shortIn = Ioctl(Handle(2), r.code, valid, r.in ? r.in - 1 : 0, r.out ? r.out - 1 : 0);
        EXPECT_EQ(shortIn.status, r.shortStatus);
        EXPECT_EQ(shortIn.information, 0u);
        EXPECT_EQ(std::memcmp(&before, &port.Settings(), sizeof before), 0);

        // No buffer at all counts as too short as well.
        EXPECT_EQ(port.DeviceControl(Handle(2), Req(1), r.code, nullptr, r.in, r.out).status,
                  r.shortStatus);

        if (r.code == IOCTL_SERIAL_WAIT_ON_MASK) Set(IOCTL_SERIAL_SET_WAIT_MASK, uint32_t{EV_RXCHAR});
        const IoResult exact = Ioctl(Handle(2), r.code, valid, r.in, r.out, Req(50));
        if (r.code == IOCTL_SERIAL_WAIT_ON_MASK) {
            EXPECT_EQ(exact.status, kStatusPending);
            host.Advance(port, 100);
            ASSERT_NE(host.Find(Req(50)), nullptr);
            continue;
        }
        EXPECT_EQ(exact.status, kStatusSuccess);
        EXPECT_EQ(exact.information, r.returned);
    }
}

TEST_F(ControlCodes, UnknownCodesSucceedWithNoData)
{
    const uint32_t codes[] = {IOCTL_SERIAL_GET_TIMEOUTS, IOCTL_SERIAL_SET_QUEUE_SIZE,
                              IOCTL_SERIAL_SET_BREAK_ON, IOCTL_LINK_PROBE, 0x00220000};
    for (uint32_t code : codes) {
        const IoResult r = Ioctl(Handle(2), code, nullptr, 0, 64);
        EXPECT_EQ(r.status, kStatusSuccess) << std::hex << code;
        EXPECT_EQ(r.information, 0u);
    }
}

TEST_F(ControlCodes, DefaultsAfterStart)
{
    const SerialContext& s = port.Settings();
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_EQ(s.baudIndex, 6u);
    EXPECT_EQ(s.lineControl, 0x1A);
    EXPECT_EQ(s.validDataMask, 0x7F);
    EXPECT_EQ(s.lines.HandFlow.ControlHandShake, 1u);
    EXPECT_EQ(s.lines.HandFlow.FlowReplace, 0x40u);
    EXPECT_EQ(s.lines.HandFlow.XonLimit, 4048);
    EXPECT_EQ(s.lines.HandFlow.XoffLimit, 1012);
    EXPECT_EQ(s.chars.XonChar, 0x11);
    EXPECT_EQ(s.chars.XoffChar, 0x13);
    EXPECT_EQ(s.chars.EofChar, 0);
    EXPECT_EQ(port.State(), PORT_CLOSED);
}

TEST_F(ControlCodes, LineControlThroughTheCodes)
{
    struct Row {
        SerialLineControl record;
        NtStatus status;
        uint8_t image;
    };
    const Row rows[] = {
        {{STOP_BITS_1_5, NO_PARITY, 8}, kStatusInvalidParameter, 0x1A},
        {{STOP_BITS_1_5, NO_PARITY, 5}, kStatusSuccess, 0x04},
        {{STOP_BIT_1, NO_PARITY, 8}, kStatusSuccess, 0x03},
    };
    for (const Row& r : rows) {
        Restart();
        EXPECT_EQ(Set(IOCTL_SERIAL_SET_LINE_CONTROL, r.record).status, r.status);
        EXPECT_EQ(port.Settings().lineControl, r.image);
    }
}

TEST_F(ControlCodes, TimeoutsAllReadMaxRefusedAndNothingStored)
{
    const uint32_t M = MAXULONG32;
    EXPECT_EQ(SetTimeouts(M, M, M).status, kStatusInvalidParameter);
    EXPECT_EQ(port.Settings().lines.Timeouts.ReadIntervalTimeout, 0u);
    EXPECT_EQ(SetTimeouts(M, 0, 0).status, kStatusSuccess);
    EXPECT_TRUE(port.Settings().readParams.readImmediate);
}

TEST_F(ControlCodes, ModemLinesRefusedUnderTheirHandshakes)
{
    struct Row {
        uint32_t shake, replace, code;
        NtStatus status;
    };
    const NtStatus ok = kStatusSuccess, invalid = kStatusInvalidParameter;
    const Row rows[] = {
        {0x02, 0x40, IOCTL_SERIAL_SET_DTR, invalid}, {0x02, 0x40, IOCTL_SERIAL_CLR_DTR, invalid},
        {0x01, 0x40, IOCTL_SERIAL_SET_DTR, ok},      {0x00, 0x40, IOCTL_SERIAL_CLR_DTR, ok},
        {0x01, 0x80, IOCTL_SERIAL_SET_RTS, invalid}, {0x01, 0xC0, IOCTL_SERIAL_CLR_RTS, invalid},
        {0x01, 0x40, IOCTL_SERIAL_SET_RTS, ok},      {0x01, 0x00, IOCTL_SERIAL_CLR_RTS, ok},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r.shake << "/" << r.replace << "/" << r.code);
        const SerialHandflow h = {r.shake, r.replace, 0, 0};
        ASSERT_EQ(Set(IOCTL_SERIAL_SET_HANDFLOW, h).status, kStatusSuccess);
        const uint8_t before = port.Settings().lines.ModemControl;
        EXPECT_EQ(Ioctl(Handle(2), r.code, nullptr, 0, 0).status, r.status);
        if (r.status != ok) {
            EXPECT_EQ(port.Settings().lines.ModemControl, before);
        }
    }
}

TEST_F(ControlCodes, HandflowLimitsThroughTheCode)
{
    SerialHandflow h = {1, 0x40, 8097, 100};
    EXPECT_EQ(Set(IOCTL_SERIAL_SET_HANDFLOW, h).status, kStatusInvalidParameter);
    EXPECT_EQ(port.Settings().lines.HandFlow.XonLimit, 4048);
    h.XonLimit = 8096;
    EXPECT_EQ(Set(IOCTL_SERIAL_SET_HANDFLOW, h).status, kStatusSuccess);
    EXPECT_EQ(port.Settings().lines.HandFlow.XonLimit, 8096);
}

TEST_F(ControlCodes, PurgeMaskMustBeOneToFifteen)
{
    const uint32_t masks[] = {0, 0x10, 0x11, 0x80000000u};
    for (uint32_t mask : masks)
        EXPECT_EQ(Set(IOCTL_SERIAL_PURGE, mask).status, kStatusInvalidParameter) << mask;
    for (uint32_t mask = 1; mask <= 15; ++mask)
        EXPECT_EQ(Set(IOCTL_SERIAL_PURGE, mask).status, kStatusSuccess) << mask;
}

TEST_F(ControlCodes, BaudRateStoredAndAnnouncedAsTableIndex)
{
    OpenPort();
    struct Row {
        uint32_t rate, index;
    };
    const Row rows[] = {{14400, 6}, {115200, 10}, {150, 0}, {921600, 13}, {0, 6}};
    for (const Row& r : rows) {
        ASSERT_EQ(Set(IOCTL_SERIAL_SET_BAUD_RATE, r.rate).status, kStatusSuccess);
        EXPECT_EQ(Get<uint32_t>(IOCTL_SERIAL_GET_BAUD_RATE), r.rate);
        EXPECT_EQ(AsPairs(Drain()), (Notes{{NOTIFY_BAUD_RATE, r.index}}));
    }
}

TEST_F(ControlCodes, SettingsAreOnlyStoredWhileNoApplicationHasThePort)
{
    AttachControl();
    Drain();
    ASSERT_EQ(Set(IOCTL_SERIAL_SET_BAUD_RATE, uint32_t{19200}).status, kStatusSuccess);
    ASSERT_EQ(Ioctl(Handle(2), IOCTL_SERIAL_SET_DTR, nullptr, 0, 0).status, kStatusSuccess);
    EXPECT_TRUE(Drain().empty());
    EXPECT_EQ(port.Settings().baudIndex, 7u);
}

TEST_F(ControlCodes, StatsAndCommStatus)
{
    OpenPort();
    PutRx(30);
    ASSERT_EQ(Write(12, Req(1)).status, kStatusPending);
    const SerialPerfStats stats = Get<SerialPerfStats>(IOCTL_SERIAL_GET_STATS);
    EXPECT_EQ(stats.ReceivedCount, 30u);
    EXPECT_EQ(stats.TransmittedCount, 0u);
    EXPECT_EQ(Ioctl(Handle(2), IOCTL_SERIAL_GET_STATS, nullptr, 0, 20).status, kStatusBufferTooSmall);

    const SerialCommStatus cs = Get<SerialCommStatus>(IOCTL_SERIAL_GET_COMMSTATUS);
    EXPECT_EQ(cs.Errors, 0u);
    EXPECT_EQ(cs.AmountInInQueue, 30u);
    EXPECT_EQ(cs.AmountInOutQueue, 12u);
    EXPECT_EQ(cs.EofReceived, 0);

    Fetch(4096);
    EXPECT_EQ(Get<SerialPerfStats>(IOCTL_SERIAL_GET_STATS).TransmittedCount, 12u);
    Ioctl(Handle(2), IOCTL_SERIAL_CLEAR_STATS, nullptr, 0, 0);
    const SerialPerfStats cleared = Get<SerialPerfStats>(IOCTL_SERIAL_GET_STATS);
    EXPECT_EQ(cleared.ReceivedCount + cleared.TransmittedCount, 0u);
}

TEST_F(ControlCodes, HoldReasonsFollowHandflowAndModemStatus)
{
    OpenPort();
    struct Row {
        uint32_t shake;
        uint8_t modem;
        uint32_t holds;
    };
    const Row rows[] = {
        {0x40, 0x00, SERIAL_RX_WAITING_FOR_DSR},
        {0x40, 0x20, 0},
        {0x20, 0x00, SERIAL_TX_WAITING_FOR_DCD},
        {0x20, 0x80, 0},
        {0x60, 0x00, SERIAL_TX_WAITING_FOR_DCD | SERIAL_RX_WAITING_FOR_DSR},
        {0x08, 0x00, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r.shake << "/" << int(r.modem));
        Report(REPORT_MODEM_STATUS, r.modem);
        const SerialHandflow h = {r.shake, 0x40, 0, 0};
        ASSERT_EQ(Set(IOCTL_SERIAL_SET_HANDFLOW, h).status, kStatusSuccess);
        EXPECT_EQ(Get<uint32_t>(IOCTL_SERIAL_GET_MODEMSTATUS), r.modem);
        EXPECT_EQ(Get<SerialCommStatus>(IOCTL_SERIAL_GET_COMMSTATUS).HoldReasons, r.holds);
    }
}

// Drivers layered on the port save the settings, run with basic ones, then restore.
TEST_F(ControlCodes, InternalBasicAndRestoredSettings)
{
    OpenPort();
    SetTimeouts(5, 6, 7);
    std::vector<uint8_t> saved(44);
    EXPECT_EQ(port.InternalDeviceControl(IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS_CODE, saved.data(), 0, 43).status,
              kStatusBufferTooSmall);
    ASSERT_EQ(port.InternalDeviceControl(IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS_CODE, saved.data(), 0, 44).status,
              kStatusSuccess);
    EXPECT_EQ(port.Settings().lines.Timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_TRUE(port.Settings().readParams.readImmediate);
    EXPECT_EQ(port.Settings().lines.HandFlow.ControlHandShake, 0u);
    EXPECT_EQ(AsPairs(Drain()), (Notes{{NOTIFY_MODEM_CONTROL, 0}}));

    ASSERT_EQ(port.InternalDeviceControl(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS_CODE, saved.data(), 44, 0).status,
              kStatusSuccess);
    EXPECT_EQ(port.Settings().lines.Timeouts.ReadTotalTimeoutConstant, 7u);
    EXPECT_EQ(port.Settings().readParams.dueTime, -1);  // interval 5 ms: the next tick
    EXPECT_EQ(port.Settings().lines.HandFlow.ControlHandShake, 1u);
    EXPECT_EQ(AsPairs(Drain()), (Notes{{NOTIFY_MODEM_CONTROL, 3}}));
}
