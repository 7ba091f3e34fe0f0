// Handflow validation. Applying a handflow and recomputing the hold reasons are shared
// with the internal serial requests (serial_settings.h).
#pragma once

#include "serial_defs.h"

namespace pta {
namespace port {

// Reserved bits clear, no "DTR mask" mode 3, and both limits within the receive ring.
bool HandflowValid(const SerialHandflow& handflow);

// DTR and RTS may be driven by hand only when handshaking does not own them.
bool DtrUnderHandshake(const SerialHandflow& handflow);
bool RtsUnderHandshake(const SerialHandflow& handflow);

}  // namespace port
}  // namespace pta
