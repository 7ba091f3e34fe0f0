#include "bus_control.h"

namespace ptamf2 {

namespace {

// The attach and detach requests carry the caller's event handle (8 bytes).
constexpr uint32_t kEventHandleBytes = 8;

ControlDecision Done(Verdict v, BusAction a = BusAction::None, uint32_t out = 0)
{
    return ControlDecision{v, a, out};
}

ControlDecision DecideAddPorts(const void* in, uint32_t inBytes, uint32_t outBytes)
{
    pta::BusAddRequest request;
    if (!in || inBytes < sizeof(request)) return Done(Verdict::InvalidParameter);
    const uint8_t* b = static_cast<const uint8_t*>(in);
    request.Size = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    if (request.Size != sizeof(request)) return Done(Verdict::InvalidParameter);
    if (outBytes != 0 && outBytes < sizeof(request)) return Done(Verdict::BufferTooSmall);
    // Buffered transfer: the output is the input's buffer, so the same 8 bytes go back.
    return Done(Verdict::Success, BusAction::ReportNewChildren,
                outBytes != 0 ? sizeof(request) : 0);
}

}  // namespace

ControlDecision BusControl::Decide(uint32_t code, const void* in, uint32_t inBytes,
                                   uint32_t outBytes)
{
    switch (code) {
    case pta::IOCTL_BUS_ADD_PORTS:
        return DecideAddPorts(in, inBytes, outBytes);
    case pta::IOCTL_BUS_REMOVE_PORTS:
        return Done(Verdict::Success, BusAction::DropGoneChildren);
    case pta::IOCTL_BUS_ATTACH:
        if (!in || inBytes < kEventHandleBytes) return Done(Verdict::InvalidParameter);
        if (attached_) return Done(Verdict::Busy);
        attached_ = true;
        return Done(Verdict::Success);
    case pta::IOCTL_BUS_DETACH:
        // Clears the registration whichever handle it was made with: a program that was
        // not ended correctly leaves its registration behind, and the next run clears it.
        if (!in || inBytes < kEventHandleBytes) return Done(Verdict::InvalidParameter);
        attached_ = false;
        return Done(Verdict::Success);
    default:
        return Done(Verdict::InvalidDeviceRequest);
    }
}

Verdict CheckInterfaceQuery(uint16_t size, uint16_t version)
{
    if (size < pta::kPtaBusInterfaceSize) return Verdict::InvalidParameter;
    if (version != pta::kPtaBusInterfaceVersion) return Verdict::NotSupported;
    return Verdict::Success;
}

uint8_t FillChildInfo(pta::BusChildInfo* info, uint32_t slot)
{
    if (!info) return 0;
    info->Magic = pta::kBusChildMagic;
    info->ChildIndex = slot + 1;
    return 1;
}

}  // namespace ptamf2
