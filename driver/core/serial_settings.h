// The serial settings of a port that other drivers on top of it may save, zero and
// restore (the internal serial requests), with the handflow rules they depend on:
// DTR and RTS follow the handflow, and the hold reasons follow handflow and modem status.
#pragma once

#include <stdint.h>

#include "status_codes.h"

namespace pta {

// The receive ring's capacity; the handflow limits are bounded by it.
constexpr uint32_t kRxRingCapacity = 8096;

// The standard serial time-outs record.
struct SerialTimeouts {
    uint32_t ReadIntervalTimeout;
    uint32_t ReadTotalTimeoutMultiplier;
    uint32_t ReadTotalTimeoutConstant;
    uint32_t WriteTotalTimeoutMultiplier;
    uint32_t WriteTotalTimeoutConstant;
};

// The standard serial handflow record.
struct SerialHandflow {
    uint32_t ControlHandShake;
    uint32_t FlowReplace;
    int32_t XonLimit;
    int32_t XoffLimit;
};

// The standard basic settings record of the internal serial requests.
struct SerialBasicSettings {
    SerialTimeouts Timeouts;
    SerialHandflow HandFlow;
    uint32_t RxFifo;
    uint32_t TxFifo;
};

static_assert(sizeof(SerialTimeouts) == 20, "time-outs record is 20 bytes");
static_assert(sizeof(SerialHandflow) == 16, "handflow record is 16 bytes");
static_assert(sizeof(SerialBasicSettings) == 44, "basic settings record is 44 bytes");

// ControlHandShake and FlowReplace bits used here.
constexpr uint32_t kDtrControlMask = 0x03;
constexpr uint32_t kCtsHandshake = 0x08;
constexpr uint32_t kDsrHandshake = 0x10;
constexpr uint32_t kDcdHandshake = 0x20;
constexpr uint32_t kDsrSensitivity = 0x40;
constexpr uint32_t kRtsControlMask = 0xC0;
constexpr uint32_t kRtsControl = 0x40;
constexpr uint32_t kRtsHandshake = 0x80;

// Hold bits.
constexpr uint32_t kTxHoldCts = 0x01;
constexpr uint32_t kTxHoldDsr = 0x02;
constexpr uint32_t kTxHoldDcd = 0x04;
constexpr uint32_t kRxHoldDsr = 0x08;

// The FIFO sizes reported by the basic settings request.
constexpr uint32_t kBasicRxFifo = 100;
constexpr uint32_t kBasicTxFifo = 4;

// The part of a port's serial settings these rules touch.
struct SerialSettings {
    SerialTimeouts Timeouts;
    SerialHandflow HandFlow;
    uint8_t ModemControl;  // bit 0 DTR, bit 1 RTS
    uint8_t ModemStatus;   // 16550 modem status register
    uint32_t TxHolding;
    uint32_t RxHolding;
};

// Stores a handflow, setting DTR and RTS from it where its control modes changed (or
// always while the port is opening). The caller then announces ModemControl.
void ApplyHandflow(SerialSettings& settings, const SerialHandflow& handflow, uint32_t portState);

void RecomputeHolds(SerialSettings& settings);

// Outcome of an internal serial request.
struct InternalResult {
    NtStatus status;
    bool handflowApplied;  // ModemControl may have changed: announce it
};

// IOCTL_SERIAL_INTERNAL_* requests on a buffered transfer: `input` and `output` are the
// same system buffer, with its input and output lengths. Bytes returned are always 0.
InternalResult HandleInternalSerialRequest(uint32_t code, SerialSettings& settings,
                                           uint32_t portState, void* buffer,
                                           uint32_t inputLength, uint32_t outputLength);

constexpr uint32_t IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE_CODE = 0x001B0004;
constexpr uint32_t IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS_CODE = 0x001B000C;
constexpr uint32_t IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS_CODE = 0x001B0010;

}  // namespace pta
