// The internal serial requests of drivers above a port: saving, zeroing and restoring the
// time-outs and handflow, with DTR, RTS and the hold reasons that follow from them.
#include <gtest/gtest.h>

#include <cstring>

#include "link_channel.h"
#include "serial_settings.h"

using namespace pta;

namespace {

SerialSettings Defaults()
{
    SerialSettings s{};
    s.Timeouts = {1, 2, 3, 4, 5};
    s.HandFlow = {0x01, 0x40, 4048, 1012};  // DTR control, RTS control
    s.ModemControl = kModemControlDtr | kModemControlRts;
    return s;
}

}  // namespace

TEST(InternalSerialRequests, StatusAndBufferChecks)
{
    struct Row {
        uint32_t code;
        uint32_t inputLength, outputLength;
        NtStatus status;
    };
    const Row rows[] = {
        {IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE_CODE, 44, 44, kStatusNotSupported},
        {IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS_CODE, 44, 43, kStatusBufferTooSmall},
        {IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS_CODE, 0, 44, kStatusSuccess},
        {IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS_CODE, 43, 44, kStatusBufferTooSmall},
        {IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS_CODE, 44, 0, kStatusSuccess},
        {0x001B0008, 0, 0, kStatusSuccess},  // cancel wait-wake, not served: success
        {0x001B0014, 0, 0, kStatusSuccess},
    };
    for (const Row& r : rows) {
        SerialSettings s = Defaults();
        const SerialSettings before = s;
        SerialBasicSettings buffer{};
        const InternalResult got =
            HandleInternalSerialRequest(r.code, s, PORT_OPEN, &buffer, r.inputLength, r.outputLength);
        EXPECT_EQ(r.status, got.status) << std::hex << r.code;
        if (got.status != kStatusSuccess || !got.handflowApplied) {
            EXPECT_EQ(0, std::memcmp(&before, &s, sizeof s)) << std::hex << r.code << ": unchanged";
        }
    }
    SerialSettings s = Defaults();
    EXPECT_EQ(kStatusBufferTooSmall,
              HandleInternalSerialRequest(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS_CODE, s, PORT_OPEN,
                                          nullptr, 44, 44).status);
}

TEST(InternalSerialRequests, BasicSettingsSavesThenZeroesAndRestoreBringsBack)
{
    const SerialSettings defaults = Defaults();
    SerialSettings s = defaults;
    SerialBasicSettings saved;
    std::memset(&saved, 0xCC, sizeof saved);
    InternalResult r = HandleInternalSerialRequest(IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS_CODE, s,
                                                   PORT_OPEN, &saved, 0, sizeof saved);
    ASSERT_EQ(kStatusSuccess, r.status);
    EXPECT_TRUE(r.handflowApplied);
    EXPECT_EQ(0, std::memcmp(&saved.Timeouts, &defaults.Timeouts, sizeof saved.Timeouts));
    EXPECT_EQ(0, std::memcmp(&saved.HandFlow, &defaults.HandFlow, sizeof saved.HandFlow));
    EXPECT_EQ(100u, saved.RxFifo);
    EXPECT_EQ(4u, saved.TxFifo);

    const SerialTimeouts zeroTimeouts{};
    const SerialHandflow zeroFlow{};
    EXPECT_EQ(0, std::memcmp(&s.Timeouts, &zeroTimeouts, sizeof zeroTimeouts));
    EXPECT_EQ(0, std::memcmp(&s.HandFlow, &zeroFlow, sizeof zeroFlow));
    EXPECT_EQ(0, s.ModemControl) << "DTR and RTS drop";

    r = HandleInternalSerialRequest(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS_CODE, s, PORT_OPEN,
                                    &saved, sizeof saved, 0);
    ASSERT_EQ(kStatusSuccess, r.status);
    EXPECT_TRUE(r.handflowApplied);
    EXPECT_EQ(0, std::memcmp(&s.Timeouts, &defaults.Timeouts, sizeof s.Timeouts));
    EXPECT_EQ(0, std::memcmp(&s.HandFlow, &defaults.HandFlow, sizeof s.HandFlow));
    EXPECT_EQ(kModemControlDtr | kModemControlRts, s.ModemControl);
}

TEST(Handflow, DtrAndRtsFollowChangedControlModes)
{
    struct Row {
        const char* what;
        uint32_t portState;
        uint32_t oldShake, oldFlow;
        uint8_t oldModem;
        uint32_t newShake, newFlow;
        uint8_t expectedModem;
    };
    const uint8_t D = kModemControlDtr, R = kModemControlRts;
    const Row rows[] = {
        {"DTR control on", PORT_OPEN, 0x00, 0x00, 0, 0x01, 0x00, D},
        {"DTR handshake on", PORT_OPEN, 0x00, 0x00, 0, 0x02, 0x00, D},
        {"DTR off", PORT_OPEN, 0x01, 0x00, D, 0x00, 0x00, 0},
        {"DTR mode unchanged keeps a cleared DTR", PORT_OPEN, 0x01, 0x00, 0, 0x01, 0x00, 0},
        {"opening applies DTR even when unchanged", PORT_OPENING, 0x01, 0x00, 0, 0x01, 0x00, D},
        {"RTS control on", PORT_OPEN, 0, 0x00, 0, 0, 0x40, R},
        {"RTS handshake on", PORT_OPEN, 0, 0x00, 0, 0, 0x80, R},
        {"transmit toggle keeps RTS on", PORT_OPEN, 0, 0x40, R, 0, 0xC0, R},
        {"transmit toggle keeps RTS off", PORT_OPEN, 0, 0x00, 0, 0, 0xC0, 0},
        {"RTS off", PORT_OPEN, 0, 0x40, R, 0, 0x00, 0},
        {"RTS mode unchanged keeps a cleared RTS", PORT_OPEN, 0, 0x40, 0, 0, 0x40, 0},
        {"opening applies RTS even when unchanged", PORT_OPENING, 0, 0x40, 0, 0, 0x40, R},
        {"both at once", PORT_OPEN, 0x01, 0x40, D | R, 0x00, 0x00, 0},
    };
    for (const Row& r : rows) {
        SerialSettings s{};
        s.HandFlow = {r.oldShake, r.oldFlow, 0, 0};
        s.ModemControl = r.oldModem;
        const SerialHandflow next{r.newShake, r.newFlow, 10, 20};
        ApplyHandflow(s, next, r.portState);
        EXPECT_EQ(r.expectedModem, s.ModemControl) << r.what;
        EXPECT_EQ(0, std::memcmp(&next, &s.HandFlow, sizeof next)) << r.what;
    }
}

TEST(Handflow, HoldReasons)
{
    struct Row {
        uint32_t shake;
        uint8_t modemStatus;
        uint32_t txBefore, rxBefore;
        uint32_t txAfter, rxAfter;
    };
    const Row rows[] = {
        {0x40, 0x00, 0, 0, 0, kRxHoldDsr},                       // DSR sensitivity, DSR low
        {0x40, kModemStatusDsr, 0, kRxHoldDsr, 0, 0},            // DSR back
        {0x00, 0x00, 0x07, 0, 0, 0},                             // no handshake clears all tx holds
        {0x20, 0x00, 0, 0, kTxHoldDcd, 0},                       // DCD handshake, DCD low
        {0x20, kModemStatusDcd, kTxHoldDcd, 0, 0, 0},            // DCD present
        {0x08, 0x00, 0x07, 0, 0x03, 0},                          // CTS handshake: only the DCD hold is cleared
    };
    for (const Row& r : rows) {
        SerialSettings s{};
        s.HandFlow.ControlHandShake = r.shake;
        s.ModemStatus = r.modemStatus;
        s.TxHolding = r.txBefore;
        s.RxHolding = r.rxBefore;
        RecomputeHolds(s);
        EXPECT_EQ(r.txAfter, s.TxHolding) << std::hex << r.shake;
        EXPECT_EQ(r.rxAfter, s.RxHolding) << std::hex << r.shake;
    }
}
