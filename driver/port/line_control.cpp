#include "line_control.h"

namespace pta {
namespace port {

namespace {

// Parity setting of the record, by index, as register bits.
constexpr uint8_t kParityBits[] = {
    kLineParityNone, kLineParityOdd, kLineParityEven, kLineParityMark, kLineParitySpace,
};
constexpr uint8_t kParityCount = sizeof kParityBits / sizeof kParityBits[0];

constexpr uint8_t kMinWordLength = 5;
constexpr uint8_t kMaxWordLength = 8;

}  // namespace

EncodedLineControl EncodeLineControl(const SerialLineControl& record, uint8_t current)
{
    const EncodedLineControl invalid = {false, current, 0};
    if (record.WordLength < kMinWordLength || record.WordLength > kMaxWordLength) return invalid;
    const uint8_t wordCode = static_cast<uint8_t>(record.WordLength - kMinWordLength);
    const uint8_t dataMask = static_cast<uint8_t>(0xFFu >> (kMaxWordLength - record.WordLength));

    if (record.Parity >= kParityCount) return invalid;

    uint8_t stopBits;
    switch (record.StopBits) {
    case STOP_BIT_1: stopBits = 0; break;
    case STOP_BITS_1_5:  // one and a half stop bits exist only with 5-bit words
        if (record.WordLength != 5) return invalid;
        stopBits = kLineExtraStopBits;
        break;
    case STOP_BITS_2:
        if (record.WordLength == 5) return invalid;
        stopBits = kLineExtraStopBits;
        break;
    default: return invalid;
    }

    const uint8_t image = static_cast<uint8_t>((current & kLineBreak) | wordCode |
                                               kParityBits[record.Parity] | stopBits);
    return {true, image, dataMask};
}

SerialLineControl DecodeLineControl(uint8_t lineControl)
{
    SerialLineControl record = {};
    const uint8_t wordCode = lineControl & kLineWordLengthMask;
    record.WordLength = static_cast<uint8_t>(kMinWordLength + wordCode);
    const uint8_t parity = lineControl & kLineParityMask;
    for (uint8_t i = 0; i < kParityCount; ++i) {
        if (kParityBits[i] == parity) record.Parity = i;
    }
    if (lineControl & kLineExtraStopBits)
        record.StopBits = wordCode == 0 ? STOP_BITS_1_5 : STOP_BITS_2;
    else
        record.StopBits = STOP_BIT_1;
    return record;
}

}  // namespace port
}  // namespace pta
