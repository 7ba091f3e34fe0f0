#include "handflow_rules.h"

namespace pta {
namespace port {

bool HandflowValid(const SerialHandflow& h)
{
    if (h.ControlHandShake & kControlHandShakeInvalid) return false;
    if ((h.ControlHandShake & kDtrControlMask) == kDtrControlMask) return false;
    if (h.FlowReplace & kFlowReplaceInvalid) return false;
    const int32_t capacity = static_cast<int32_t>(kRxRingCapacity);
    return h.XonLimit >= 0 && h.XonLimit <= capacity && h.XoffLimit >= 0 &&
           h.XoffLimit <= capacity;
}

bool DtrUnderHandshake(const SerialHandflow& h)
{
    return (h.ControlHandShake & kDtrControlMask) == kDtrHandshake;
}

bool RtsUnderHandshake(const SerialHandflow& h)
{
    const uint32_t rts = h.FlowReplace & kRtsControlMask;
    return rts == kRtsHandshake || rts == kTransmitToggle;
}

}  // namespace port
}  // namespace pta
