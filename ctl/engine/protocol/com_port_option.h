// The Telnet COM port control option (option 44): its commands, and how the port's
// settings map onto them: the baud index to the real rate, the line control byte to data
// size, parity and stop size (and break), the modem control byte to DTR and RTS.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "telnet_codec.h"

namespace pta {
namespace protocol {

// Client to server; the server answers with the same code + 100.
enum ComPortCommand : uint8_t {
    CPO_SIGNATURE = 0,
    CPO_SET_BAUDRATE = 1,
    CPO_SET_DATASIZE = 2,
    CPO_SET_PARITY = 3,
    CPO_SET_STOPSIZE = 4,
    CPO_SET_CONTROL = 5,
    CPO_NOTIFY_LINESTATE = 6,
    CPO_NOTIFY_MODEMSTATE = 7,
    CPO_FLOWCONTROL_SUSPEND = 8,
    CPO_FLOWCONTROL_RESUME = 9,
    CPO_SET_LINESTATE_MASK = 10,
    CPO_SET_MODEMSTATE_MASK = 11,
    CPO_PURGE_DATA = 12,
};
constexpr uint8_t kComPortServerOffset = 100;

enum ComPortParity : uint8_t { CPO_PARITY_NONE = 1, CPO_PARITY_ODD = 2, CPO_PARITY_EVEN = 3, CPO_PARITY_MARK = 4, CPO_PARITY_SPACE = 5 };
enum ComPortStopSize : uint8_t { CPO_STOP_1 = 1, CPO_STOP_2 = 2, CPO_STOP_15 = 3 };
enum ComPortControl : uint8_t {
    CPO_CONTROL_BREAK_ON = 5,
    CPO_CONTROL_BREAK_OFF = 6,
    CPO_CONTROL_DTR_ON = 8,
    CPO_CONTROL_DTR_OFF = 9,
    CPO_CONTROL_RTS_ON = 11,
    CPO_CONTROL_RTS_OFF = 12,
};

// One or more encoded commands, ready to send as they are.
struct TelnetMessage {
    static constexpr size_t kCapacity = 48;
    uint8_t bytes[kCapacity];
    uint8_t length = 0;

    // IAC SB 44 code value IAC SE, with 0xFF in the value doubled. False if it does not fit.
    bool AddCommand(uint8_t code, const uint8_t* value, size_t valueLength);
    bool AddCommand(uint8_t code, uint8_t value) { return AddCommand(code, &value, 1); }
    bool AddCommand32(uint8_t code, uint32_t value);
    bool AddBytes(const uint8_t* data, size_t n);
};

// Data size, parity, stop size and break of a 16550 line control byte, and back.
struct ComPortLine {
    uint8_t dataSize;  // 5..8
    uint8_t parity;    // ComPortParity
    uint8_t stopSize;  // ComPortStopSize
    bool breakOn;
};
ComPortLine ComPortLineOf(uint8_t lineControl);
// Values outside the option's ranges keep what `previous` had for them.
uint8_t LineControlOf(const ComPortLine& line, uint8_t previous);

// The settings as the engine announces them.
TelnetMessage ComPortBaud(uint32_t baudIndex);  // the BaudTable rate; outside the table: 9600
TelnetMessage ComPortLineControl(uint8_t lineControl);
TelnetMessage ComPortModemControl(uint8_t modemControl);
// Every modem state change reported, and the current state asked for.
TelnetMessage ComPortModemStateMask();
// The keep-alive: a NOP, and a baud rate query (rate 0) that the server must answer.
TelnetMessage ComPortKeepAlive();

}  // namespace protocol
}  // namespace pta
