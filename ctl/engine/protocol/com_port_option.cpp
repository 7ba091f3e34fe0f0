#include "com_port_option.h"

#include <string.h>

#include "link_channel.h"

namespace pta {
namespace protocol {

bool TelnetMessage::AddBytes(const uint8_t* data, size_t n)
{
    if (n > kCapacity - length) return false;
    memcpy(bytes + length, data, n);
    length = static_cast<uint8_t>(length + n);
    return true;
}

bool TelnetMessage::AddCommand(uint8_t code, const uint8_t* value, size_t valueLength)
{
    uint8_t wire[kCapacity];
    if (valueLength > (kCapacity - 6) / 2) return false;
    size_t n = 0;
    wire[n++] = TELNET_IAC;
    wire[n++] = TELNET_SB;
    wire[n++] = OPTION_COM_PORT;
    wire[n++] = code;
    n += TelnetEncodeData(value, valueLength, wire + n);
    wire[n++] = TELNET_IAC;
    wire[n++] = TELNET_SE;
    return AddBytes(wire, n);
}

bool TelnetMessage::AddCommand32(uint8_t code, uint32_t value)
{
    const uint8_t be[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                           static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return AddCommand(code, be, 4);
}

namespace {

// Parity bits of the line control byte and the option's values, one row each.
struct ParityRow {
    uint8_t bits;
    uint8_t parity;
};
const ParityRow kParityRows[] = {
    {kLineParityOdd, CPO_PARITY_ODD},
    {kLineParityEven, CPO_PARITY_EVEN},
    {kLineParityMark, CPO_PARITY_MARK},
    {kLineParitySpace, CPO_PARITY_SPACE},
};
constexpr uint8_t kLineParityEnable = 0x08;

}  // namespace

ComPortLine ComPortLineOf(uint8_t lc)
{
    ComPortLine line;
    line.dataSize = static_cast<uint8_t>((lc & kLineWordLengthMask) + 5);
    line.parity = CPO_PARITY_NONE;
    if (lc & kLineParityEnable) {
        for (const ParityRow& row : kParityRows) {
            if ((lc & kLineParityMask) == row.bits) line.parity = row.parity;
        }
    }
    line.stopSize = !(lc & kLineExtraStopBits) ? CPO_STOP_1 : line.dataSize == 5 ? CPO_STOP_15 : CPO_STOP_2;
    line.breakOn = (lc & kLineBreak) != 0;
    return line;
}

uint8_t LineControlOf(const ComPortLine& line, uint8_t previous)
{
    uint8_t lc = previous;
    if (line.dataSize >= 5 && line.dataSize <= 8) {
        lc = static_cast<uint8_t>((lc & ~kLineWordLengthMask) | (line.dataSize - 5));
    }
    if (line.parity == CPO_PARITY_NONE) lc = static_cast<uint8_t>(lc & ~kLineParityMask);
    for (const ParityRow& row : kParityRows) {
        if (line.parity == row.parity) lc = static_cast<uint8_t>((lc & ~kLineParityMask) | row.bits);
    }
    if (line.stopSize == CPO_STOP_1) lc = static_cast<uint8_t>(lc & ~kLineExtraStopBits);
    if (line.stopSize == CPO_STOP_2 || line.stopSize == CPO_STOP_15) lc |= kLineExtraStopBits;
    lc = static_cast<uint8_t>(line.breakOn ? (lc | kLineBreak) : (lc & ~kLineBreak));
    return lc;
}

TelnetMessage ComPortBaud(uint32_t baudIndex)
{
    TelnetMessage m;
    m.AddCommand32(CPO_SET_BAUDRATE, BaudTable[baudIndex < kBaudCount ? baudIndex : kDefaultBaudIndex]);
    return m;
}

TelnetMessage ComPortLineControl(uint8_t lineControl)
{
    const ComPortLine line = ComPortLineOf(lineControl);
    TelnetMessage m;
    m.AddCommand(CPO_SET_DATASIZE, line.dataSize);
    m.AddCommand(CPO_SET_PARITY, line.parity);
    m.AddCommand(CPO_SET_STOPSIZE, line.stopSize);
    m.AddCommand(CPO_SET_CONTROL, line.breakOn ? CPO_CONTROL_BREAK_ON : CPO_CONTROL_BREAK_OFF);
    return m;
}

TelnetMessage ComPortModemControl(uint8_t modemControl)
{
    TelnetMessage m;
    m.AddCommand(CPO_SET_CONTROL, (modemControl & kModemControlDtr) ? CPO_CONTROL_DTR_ON : CPO_CONTROL_DTR_OFF);
    m.AddCommand(CPO_SET_CONTROL, (modemControl & kModemControlRts) ? CPO_CONTROL_RTS_ON : CPO_CONTROL_RTS_OFF);
    return m;
}

TelnetMessage ComPortModemStateMask()
{
    TelnetMessage m;
    m.AddCommand(CPO_SET_MODEMSTATE_MASK, 0xFF);
    return m;
}

TelnetMessage ComPortKeepAlive()
{
    TelnetMessage m;
    const uint8_t nop[2] = {TELNET_IAC, TELNET_NOP};
    m.AddBytes(nop, 2);
    m.AddCommand32(CPO_SET_BAUDRATE, 0);
    return m;
}

}  // namespace protocol
}  // namespace pta
