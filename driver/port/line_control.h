// Line control: the standard line control record to and from the 16550 line control
// register image the port keeps and announces.
#pragma once

#include "serial_defs.h"

namespace pta {
namespace port {

struct EncodedLineControl {
    bool valid;
    uint8_t lineControl;    // the new register image, break bit carried over
    uint8_t validDataMask;  // 0x1F, 0x3F, 0x7F or 0xFF by word length
};

// Encodes `record` over the current image `current`, keeping its break bit.
EncodedLineControl EncodeLineControl(const SerialLineControl& record, uint8_t current);

SerialLineControl DecodeLineControl(uint8_t lineControl);

}  // namespace port
}  // namespace pta
