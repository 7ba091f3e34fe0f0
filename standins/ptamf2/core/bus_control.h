// The bus's answers that need no operating system: the checks and effects of the control
// codes, the query-interface check, and the child information handed to the port driver.
#pragma once

#include <stdint.h>

#include "bus_contract.h"

namespace ptamf2 {

// Outcome of a request, mapped to a status code by the driver.
enum class Verdict : uint32_t {
    Success,
    InvalidParameter,     // input missing, short or malformed
    BufferTooSmall,       // an output buffer was given but cannot hold the answer
    Busy,                 // a registration is already held
    NotSupported,         // an interface version the bus does not serve
    InvalidDeviceRequest  // a control code the bus does not know
};

// What the driver does after a successful control request.
enum class BusAction : uint32_t {
    None,
    ReportNewChildren,  // report configured slots that have no child yet
    DropGoneChildren    // drop children whose slot subkey is gone
};

struct ControlDecision {
    Verdict verdict;
    BusAction action;
    uint32_t outputBytes;  // bytes of the system buffer returned to the caller
};

// The control interface's registration (attach/detach) and request checks. Not
// thread-safe: the driver calls it under its bus lock.
class BusControl {
public:
    // Checks one control request against its buffers and applies its registration effect.
    // in points to the input (the system buffer), inBytes and outBytes are its sizes.
    ControlDecision Decide(uint32_t code, const void* in, uint32_t inBytes, uint32_t outBytes);

    bool Attached() const { return attached_; }

private:
    bool attached_ = false;
};

// Checks a query for the bus interface: the caller's buffer must hold the whole interface
// and ask for the version the bus serves.
Verdict CheckInterfaceQuery(uint16_t size, uint16_t version);

// GetChildInfo of a child: the magic and the child index (slot + 1). FALSE without info.
uint8_t FillChildInfo(pta::BusChildInfo* info, uint32_t slot);

}  // namespace ptamf2
