// The control channel: what the port keeps about the control program at its far end.
//
// Handles are told apart by the role they were opened in, not by the channel's flags:
// - the control program's handle: the handle that attached the channel with
//   IOCTL_LINK_START (`owner`); its close detaches the channel at once;
// - the admitted application's handle (`application`); its close is the application's
//   close, whatever the channel's state by then;
// - any other handle (a refused application, a control handle that never attached, an
//   application the control program forced off): its close never detaches the channel,
//   and on an unattached port it tells the bus driver.
#pragma once

#include "notify_queue.h"
#include "port_host.h"
#include "serial_defs.h"

namespace pta {
namespace port {

constexpr uint32_t kHandshakeMs = 10000;
constexpr int64_t kHandshakeDue = -static_cast<int64_t>(kHandshakeMs) * 10000;

enum Handshake : uint32_t {
    HANDSHAKE_NONE,
    HANDSHAKE_OPEN,   // an application's create waits for REPORT_OPEN_RESULT
    HANDSHAKE_CLOSE,  // the application's close waits for REPORT_CLOSE_DONE
};

struct ControlChannel {
    bool attached;
    bool applicationOpen;
    EventObject* notifyEvent;
    EventObject* spareEvent;
    NotifyQueue notifyQueue;
    // The last report of each kind.
    LinkReport openReply;
    LinkReport closeReply;
    LinkReport modemReply;
    LinkReport linkReply;

    IoHandle* owner;        // the control program's handle while attached
    IoHandle* application;  // the admitted application's handle until its close

    Handshake handshake;
    IoHandle* handshakeHandle;
    IoRequest* handshakeRequest;  // the pended create or close
};

}  // namespace port
}  // namespace pta
