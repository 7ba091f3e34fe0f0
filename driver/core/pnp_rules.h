// Plug and Play state rules of a port device: for each stop or remove request, what the
// device state becomes and how the request is answered, given the port's PortState.
#pragma once

#include <stdint.h>

#include "status_codes.h"

namespace pta {

enum PnpState : int32_t {
    PNP_NOT_STARTED = 0,
    PNP_STARTED = 1,
    PNP_STOP_PENDING = 2,
    PNP_STOPPED = 3,
    PNP_REMOVE_PENDING = 4,
    PNP_SURPRISE_REMOVED = 5,
    PNP_REMOVED = 6,
};

enum class PnpRequest {
    QueryStop,
    CancelStop,
    Stop,
    QueryRemove,
    CancelRemove,
    SurpriseRemoval,
    Remove,
};

// The device's Plug and Play state: the current one and the one a query left behind,
// which a cancel restores.
struct PnpStates {
    int32_t current;
    int32_t previous;
};

struct PnpDecision {
    bool passDown;          // false: complete the request here with `status`
    bool setStatus;         // passing down: set `status` first (false: leave the request untouched)
    NtStatus status;
    bool stopPort;          // stop the port before passing down
    bool disableInterface;  // disable the COM port interface first
    PnpStates next;
};

// Whether stopping the port has anything to undo: a started port in a state that
// stopping applies to.
bool PortNeedsStop(int32_t pnpState, uint32_t portState);

PnpDecision DecidePnp(PnpRequest request, PnpStates states, uint32_t portState);

}  // namespace pta
