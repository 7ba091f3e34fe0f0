// The control channel between the port driver and the control program: private control
// codes on \\.\ptaser2N, the records they carry, and the port states and baud table.
#pragma once

#include "pta_base.h"

namespace pta {

constexpr uint32_t kFileDeviceSerialPort = 0x1B;

// A buffered, any-access control code of the serial port device type: the standard
// serial codes and the private link codes alike.
constexpr uint32_t SerialPortCode(uint32_t function)
{
    return CtlCode(kFileDeviceSerialPort, function, kMethodBuffered, kFileAnyAccess);
}

constexpr uint32_t IOCTL_LINK_PROBE = SerialPortCode(100);
constexpr uint32_t IOCTL_LINK_SET_NOTIFY_EVENT = SerialPortCode(101);
constexpr uint32_t IOCTL_LINK_SET_SPARE_EVENT = SerialPortCode(102);
constexpr uint32_t IOCTL_LINK_START = SerialPortCode(103);
constexpr uint32_t IOCTL_LINK_GET_NOTIFICATIONS = SerialPortCode(110);
constexpr uint32_t IOCTL_LINK_REPORT = SerialPortCode(111);
constexpr uint32_t IOCTL_LINK_FETCH_TX = SerialPortCode(120);
constexpr uint32_t IOCTL_LINK_PUT_RX = SerialPortCode(121);
constexpr uint32_t IOCTL_LINK_REFRESH_NAMES = SerialPortCode(130);
constexpr uint32_t IOCTL_LINK_FORCE_CLOSE = SerialPortCode(131);
// Our own query, beyond the range of the link codes above: the port's request counters
// (LinkCounters) for diagnostics and the benchmark. Served on any handle of the port, the
// application's included; changes nothing.
constexpr uint32_t IOCTL_LINK_QUERY_COUNTERS = SerialPortCode(140);

// Buffer sizes the control program passes with its requests.
constexpr uint32_t kNotificationBufferSize = 1024;
constexpr uint32_t kFetchTxBufferSize = 4096;
// Event handles travel as 8 bytes whatever the caller's pointer width.
constexpr uint32_t kEventHandleSize = 8;

// Driver to control program, packed back to back in the output of
// IOCTL_LINK_GET_NOTIFICATIONS.
struct LinkNotification {
    uint32_t Code;
    uint32_t Value;
};

enum NotifyCode : uint32_t {
    NOTIFY_PORT_OPENED = 1,     // Value: COM number
    NOTIFY_PORT_CLOSED = 2,     // Value: COM number
    NOTIFY_OPEN_REQUEST = 3,    // answer with REPORT_OPEN_RESULT
    NOTIFY_CLOSE_REQUEST = 4,   // answer with REPORT_CLOSE_DONE
    NOTIFY_BAUD_RATE = 5,       // Value: index into BaudTable
    NOTIFY_LINE_CONTROL = 6,    // Value: line control byte
    NOTIFY_MODEM_CONTROL = 7,   // Value: bit 0 DTR, bit 1 RTS
};

// Control program to driver, the input of IOCTL_LINK_REPORT.
struct LinkReport {
    uint32_t Kind;
    uint32_t Failed;  // open result: nonzero = failed; modem status: the byte; link down: reason
    uint32_t Status;  // open result: the status to fail the open with
};

enum ReportKind : uint32_t {
    REPORT_OPEN_RESULT = 1,
    REPORT_CLOSE_DONE = 2,
    REPORT_MODEM_STATUS = 3,
    REPORT_LINK_DOWN = 4,
    REPORT_LINK_UP = 5,
};

// The output of IOCTL_LINK_QUERY_COUNTERS: how many requests of each kind the port has
// served since its device started (each wraps at 2^32). The query itself is not counted.
struct LinkCounters {
    uint32_t Size;                // sizeof(LinkCounters) of the driver that filled it
    uint32_t Reads;               // application reads
    uint32_t Writes;              // application writes
    uint32_t SerialControls;      // standard serial control codes, and codes nobody knows
    uint32_t Fetches;             // IOCTL_LINK_FETCH_TX
    uint32_t EmptyFetches;        // of those, the ones that moved no byte
    uint32_t Puts;                // IOCTL_LINK_PUT_RX
    uint32_t NotificationDrains;  // IOCTL_LINK_GET_NOTIFICATIONS
    uint32_t EmptyDrains;         // of those, the ones that found no notification
    uint32_t Reports;             // IOCTL_LINK_REPORT
    uint32_t OtherLinkControls;   // the other link codes (probe, events, start, names, close)
};

// The status the control program sends with a failed open (STATUS_ACCESS_DENIED).
constexpr uint32_t kOpenFailedStatus = 0xC0000022u;

enum PortState : uint32_t {
    PORT_ABSENT = 0,
    PORT_CLOSED = 1,
    PORT_CLOSING = 2,
    PORT_SUSPENDED = 3,
    PORT_OPENING = 4,
    PORT_OPEN = 5,
};

// Modem control byte (NOTIFY_MODEM_CONTROL and the in-band message).
constexpr uint8_t kModemControlDtr = 0x01;
constexpr uint8_t kModemControlRts = 0x02;

// Modem status byte: the 16550 modem status register.
constexpr uint8_t kModemStatusCts = 0x10;
constexpr uint8_t kModemStatusDsr = 0x20;
constexpr uint8_t kModemStatusRi = 0x40;
constexpr uint8_t kModemStatusDcd = 0x80;

// Line control byte: the 16550 line control register.
constexpr uint8_t kLineWordLengthMask = 0x03;  // 0 = 5 bits .. 3 = 8 bits
constexpr uint8_t kLineExtraStopBits = 0x04;   // 2 stop bits, 1.5 with 5-bit words
constexpr uint8_t kLineParityMask = 0x38;
constexpr uint8_t kLineParityNone = 0x00;
constexpr uint8_t kLineParityOdd = 0x08;
constexpr uint8_t kLineParityEven = 0x18;
constexpr uint8_t kLineParityMark = 0x28;
constexpr uint8_t kLineParitySpace = 0x38;
constexpr uint8_t kLineBreak = 0x40;

// Baud rates travel as an index into this table.
constexpr uint32_t kBaudCount = 14;
constexpr uint32_t BaudTable[kBaudCount] = {
    150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600,
};
// A rate that is not in the table is announced as 9600.
constexpr uint32_t kDefaultBaudIndex = 6;

constexpr uint32_t BaudIndexOf(uint32_t rate)
{
    for (uint32_t i = 0; i < kBaudCount; ++i) {
        if (BaudTable[i] == rate) return i;
    }
    return kDefaultBaudIndex;
}

static_assert(sizeof(LinkNotification) == 8, "LinkNotification is 8 bytes");
static_assert(offsetof(LinkNotification, Value) == 4, "LinkNotification.Value at 4");
static_assert(sizeof(LinkReport) == 12, "LinkReport is 12 bytes");
static_assert(offsetof(LinkReport, Failed) == 4, "LinkReport.Failed at 4");
static_assert(offsetof(LinkReport, Status) == 8, "LinkReport.Status at 8");
static_assert(sizeof(LinkCounters) == 44, "LinkCounters is 11 u32");
static_assert(sizeof(PortState) == 4, "PortState is a u32");

}  // namespace pta
