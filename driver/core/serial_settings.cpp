#include "serial_settings.h"

#include <string.h>

#include "link_channel.h"

namespace pta {

void ApplyHandflow(SerialSettings& settings, const SerialHandflow& handflow, uint32_t portState)
{
    const bool opening = portState == PORT_OPENING;
    const uint32_t dtrBits = handflow.ControlHandShake & kDtrControlMask;
    if (opening || dtrBits != (settings.HandFlow.ControlHandShake & kDtrControlMask)) {
        if (dtrBits != 0)
            settings.ModemControl |= kModemControlDtr;
        else
            settings.ModemControl &= static_cast<uint8_t>(~kModemControlDtr);
    }
    const uint32_t rtsBits = handflow.FlowReplace & kRtsControlMask;
    if (opening || rtsBits != (settings.HandFlow.FlowReplace & kRtsControlMask)) {
        if (rtsBits == kRtsControl || rtsBits == kRtsHandshake)
            settings.ModemControl |= kModemControlRts;
        else if (rtsBits == 0)
            settings.ModemControl &= static_cast<uint8_t>(~kModemControlRts);
        // Transmit toggle (both bits) leaves RTS as it is.
    }
    settings.HandFlow = handflow;
}

void RecomputeHolds(SerialSettings& settings)
{
    const uint32_t shake = settings.HandFlow.ControlHandShake;
    if ((shake & kDsrSensitivity) && !(settings.ModemStatus & kModemStatusDsr))
        settings.RxHolding |= kRxHoldDsr;
    else
        settings.RxHolding &= ~kRxHoldDsr;

    if (!(shake & (kCtsHandshake | kDsrHandshake | kDcdHandshake))) {
        settings.TxHolding &= ~(kTxHoldCts | kTxHoldDsr | kTxHoldDcd);
    } else if ((shake & kDcdHandshake) && !(settings.ModemStatus & kModemStatusDcd)) {
        settings.TxHolding |= kTxHoldDcd;
    } else {
        settings.TxHolding &= ~kTxHoldDcd;
    }
}

InternalResult HandleInternalSerialRequest(uint32_t code, SerialSettings& settings,
                                           uint32_t portState, void* buffer,
                                           uint32_t inputLength, uint32_t outputLength)
{
    switch (code) {
    case IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE_CODE:
        return {kStatusNotSupported, false};

    case IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS_CODE: {
        if (buffer == nullptr || outputLength < sizeof(SerialBasicSettings))
            return {kStatusBufferTooSmall, false};
        SerialBasicSettings saved;
        saved.Timeouts = settings.Timeouts;
        saved.HandFlow = settings.HandFlow;
        saved.RxFifo = kBasicRxFifo;
        saved.TxFifo = kBasicTxFifo;
        memcpy(buffer, &saved, sizeof saved);

        memset(&settings.Timeouts, 0, sizeof settings.Timeouts);
        const SerialHandflow none = {0, 0, 0, 0};
        ApplyHandflow(settings, none, portState);
        RecomputeHolds(settings);
        return {kStatusSuccess, true};
    }

    case IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS_CODE: {
        if (buffer == nullptr || inputLength < sizeof(SerialBasicSettings))
            return {kStatusBufferTooSmall, false};
        SerialBasicSettings restored;
        memcpy(&restored, buffer, sizeof restored);
        settings.Timeouts = restored.Timeouts;
        ApplyHandflow(settings, restored.HandFlow, portState);
        RecomputeHolds(settings);
        return {kStatusSuccess, true};
    }

    default:
        return {kStatusSuccess, false};
    }
}

}  // namespace pta
