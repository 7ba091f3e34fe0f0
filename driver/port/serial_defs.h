// Windows serial definitions the port model needs: the standard serial control codes,
// wait-mask events, purge flags, the records the control codes carry, and the NT status
// values the model completes requests with. Defined here because the native build has no
// Windows headers; values are those of the Windows serial interface.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "link_channel.h"
#include "serial_settings.h"
#include "status_codes.h"

namespace pta {
namespace port {

constexpr uint32_t IOCTL_SERIAL_SET_BAUD_RATE = SerialPortCode(1);
constexpr uint32_t IOCTL_SERIAL_SET_QUEUE_SIZE = SerialPortCode(2);
constexpr uint32_t IOCTL_SERIAL_SET_LINE_CONTROL = SerialPortCode(3);
constexpr uint32_t IOCTL_SERIAL_SET_BREAK_ON = SerialPortCode(4);
constexpr uint32_t IOCTL_SERIAL_SET_TIMEOUTS = SerialPortCode(7);
constexpr uint32_t IOCTL_SERIAL_GET_TIMEOUTS = SerialPortCode(8);
constexpr uint32_t IOCTL_SERIAL_SET_DTR = SerialPortCode(9);
constexpr uint32_t IOCTL_SERIAL_CLR_DTR = SerialPortCode(10);
constexpr uint32_t IOCTL_SERIAL_SET_RTS = SerialPortCode(12);
constexpr uint32_t IOCTL_SERIAL_CLR_RTS = SerialPortCode(13);
constexpr uint32_t IOCTL_SERIAL_GET_WAIT_MASK = SerialPortCode(16);
constexpr uint32_t IOCTL_SERIAL_SET_WAIT_MASK = SerialPortCode(17);
constexpr uint32_t IOCTL_SERIAL_WAIT_ON_MASK = SerialPortCode(18);
constexpr uint32_t IOCTL_SERIAL_PURGE = SerialPortCode(19);
constexpr uint32_t IOCTL_SERIAL_GET_BAUD_RATE = SerialPortCode(20);
constexpr uint32_t IOCTL_SERIAL_GET_LINE_CONTROL = SerialPortCode(21);
constexpr uint32_t IOCTL_SERIAL_GET_CHARS = SerialPortCode(22);
constexpr uint32_t IOCTL_SERIAL_SET_CHARS = SerialPortCode(23);
constexpr uint32_t IOCTL_SERIAL_GET_HANDFLOW = SerialPortCode(24);
constexpr uint32_t IOCTL_SERIAL_SET_HANDFLOW = SerialPortCode(25);
constexpr uint32_t IOCTL_SERIAL_GET_MODEMSTATUS = SerialPortCode(26);
constexpr uint32_t IOCTL_SERIAL_GET_COMMSTATUS = SerialPortCode(27);
constexpr uint32_t IOCTL_SERIAL_GET_STATS = SerialPortCode(35);
constexpr uint32_t IOCTL_SERIAL_CLEAR_STATS = SerialPortCode(36);

// Wait-mask events.
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;

// Purge flags.
constexpr uint32_t SERIAL_PURGE_TXABORT = 0x0001;
constexpr uint32_t SERIAL_PURGE_RXABORT = 0x0002;
constexpr uint32_t SERIAL_PURGE_TXCLEAR = 0x0004;
constexpr uint32_t SERIAL_PURGE_RXCLEAR = 0x0008;
constexpr uint32_t kPurgeAll = 0x000F;

// Hold reasons of the comm status record.
constexpr uint32_t SERIAL_TX_WAITING_FOR_DCD = 0x04;
constexpr uint32_t SERIAL_RX_WAITING_FOR_DSR = 0x40;

// Line control record values.
constexpr uint8_t STOP_BIT_1 = 0;
constexpr uint8_t STOP_BITS_1_5 = 1;
constexpr uint8_t STOP_BITS_2 = 2;
constexpr uint8_t NO_PARITY = 0;
constexpr uint8_t ODD_PARITY = 1;
constexpr uint8_t EVEN_PARITY = 2;
constexpr uint8_t MARK_PARITY = 3;
constexpr uint8_t SPACE_PARITY = 4;

// Handflow validation masks: bits that must be clear.
constexpr uint32_t kControlHandShakeInvalid = 0x7FFFFF84;
constexpr uint32_t kFlowReplaceInvalid = 0x7FFFFF20;
constexpr uint32_t kDtrHandshake = 0x02;
constexpr uint32_t kTransmitToggle = 0xC0;

constexpr uint32_t MAXULONG32 = 0xFFFFFFFFu;

constexpr NtStatus kStatusTimeout = 0x00000102;
constexpr NtStatus kStatusAccessDenied = static_cast<NtStatus>(0xC0000022u);
constexpr NtStatus kStatusCancelled = static_cast<NtStatus>(0xC0000120u);
constexpr NtStatus kStatusNotADirectory = static_cast<NtStatus>(0xC0000103u);

// The standard serial records.
struct SerialLineControl {
    uint8_t StopBits;
    uint8_t Parity;
    uint8_t WordLength;
};

struct SerialChars {
    uint8_t EofChar;
    uint8_t ErrorChar;
    uint8_t BreakChar;
    uint8_t EventChar;
    uint8_t XonChar;
    uint8_t XoffChar;
};

struct SerialCommStatus {
    uint32_t Errors;
    uint32_t HoldReasons;
    uint32_t AmountInInQueue;
    uint32_t AmountInOutQueue;
    uint8_t EofReceived;
    uint8_t WaitForImmediate;
};

struct SerialPerfStats {
    uint32_t ReceivedCount;
    uint32_t TransmittedCount;
    uint32_t FrameErrorCount;
    uint32_t SerialOverrunErrorCount;
    uint32_t BufferOverrunErrorCount;
    uint32_t ParityErrorCount;
};

static_assert(sizeof(SerialLineControl) == 3, "line control record is 3 bytes");
static_assert(sizeof(SerialChars) == 6, "chars record is 6 bytes");
static_assert(sizeof(SerialCommStatus) == 20, "comm status record is 20 bytes");
static_assert(sizeof(SerialPerfStats) == 24, "stats record is 24 bytes");

}  // namespace port
}  // namespace pta
