#include "pnp_rules.h"

#include "link_channel.h"

namespace pta {

bool PortNeedsStop(int32_t pnpState, uint32_t portState)
{
    const bool stoppable = pnpState == PNP_STARTED || pnpState == PNP_STOP_PENDING ||
                           pnpState == PNP_REMOVE_PENDING;
    return stoppable && portState != PORT_ABSENT;
}

PnpDecision DecidePnp(PnpRequest request, PnpStates states, uint32_t portState)
{
    PnpDecision d{true, true, kStatusSuccess, false, false, states};
    const bool inUse = portState > PORT_CLOSED;

    switch (request) {
    case PnpRequest::QueryStop:
        if (states.current != PNP_STARTED) {
            d.setStatus = false;
        } else if (inUse) {
            d.passDown = false;
            d.status = kStatusDeviceBusy;
        } else {
            d.next = {PNP_STOP_PENDING, states.current};
        }
        break;
    case PnpRequest::CancelStop:
        if (states.current == PNP_STOP_PENDING) d.next = {states.previous, states.previous};
        break;
    case PnpRequest::Stop:
        d.stopPort = PortNeedsStop(states.current, portState);
        if (d.stopPort) d.next = {PNP_STOPPED, PNP_STOPPED};
        break;
    case PnpRequest::QueryRemove:
        if (inUse) {
            d.passDown = false;
            d.status = kStatusDeviceBusy;
        } else {
            d.next = {PNP_REMOVE_PENDING, states.current};
        }
        break;
    case PnpRequest::CancelRemove:
        if (states.current == PNP_REMOVE_PENDING) d.next = {states.previous, states.previous};
        break;
    case PnpRequest::SurpriseRemoval:
        d.disableInterface = true;
        // Surprise removed only once the port has stopped.
        d.stopPort = PortNeedsStop(states.current, portState);
        if (d.stopPort) d.next = {PNP_SURPRISE_REMOVED, PNP_SURPRISE_REMOVED};
        break;
    case PnpRequest::Remove:
        d.stopPort = PortNeedsStop(states.current, portState);
        d.next = {PNP_REMOVED, PNP_REMOVED};
        break;
    }
    return d;
}

}  // namespace pta
