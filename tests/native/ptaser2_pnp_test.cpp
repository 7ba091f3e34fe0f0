// Plug and Play state rules of a port device.
#include <gtest/gtest.h>

#include "link_channel.h"
#include "pnp_rules.h"

using namespace pta;

namespace {

const char* Name(PnpRequest r)
{
    switch (r) {
    case PnpRequest::QueryStop: return "query stop";
    case PnpRequest::CancelStop: return "cancel stop";
    case PnpRequest::Stop: return "stop";
    case PnpRequest::QueryRemove: return "query remove";
    case PnpRequest::CancelRemove: return "cancel remove";
    case PnpRequest::SurpriseRemoval: return "surprise removal";
    case PnpRequest::Remove: return "remove";
    }
    return "?";
}

}  // namespace

TEST(PnpRules, DecisionTable)
{
    constexpr bool Y = true, N = false;
    struct Row {
        PnpRequest request;
        PnpStates before;
        uint32_t port;
        bool passDown, setStatus;
        NtStatus status;
        bool stopPort, disableInterface;
        PnpStates after;
    };
    const NtStatus ok = kStatusSuccess, busy = kStatusDeviceBusy;
    const Row rows[] = {
        // Query stop: untouched when not started, refused while an application holds the port.
        {PnpRequest::QueryStop, {PNP_NOT_STARTED, 0}, PORT_ABSENT, Y, N, ok, N, N, {PNP_NOT_STARTED, 0}},
        {PnpRequest::QueryStop, {PNP_STOPPED, 1}, PORT_ABSENT, Y, N, ok, N, N, {PNP_STOPPED, 1}},
        {PnpRequest::QueryStop, {PNP_STARTED, 0}, PORT_CLOSED, Y, Y, ok, N, N, {PNP_STOP_PENDING, PNP_STARTED}},
        {PnpRequest::QueryStop, {PNP_STARTED, 0}, PORT_CLOSING, N, Y, busy, N, N, {PNP_STARTED, 0}},
        {PnpRequest::QueryStop, {PNP_STARTED, 0}, PORT_SUSPENDED, N, Y, busy, N, N, {PNP_STARTED, 0}},
        {PnpRequest::QueryStop, {PNP_STARTED, 0}, PORT_OPENING, N, Y, busy, N, N, {PNP_STARTED, 0}},
        {PnpRequest::QueryStop, {PNP_STARTED, 0}, PORT_OPEN, N, Y, busy, N, N, {PNP_STARTED, 0}},
        // Cancel stop returns a stop-pending device to started, and touches nothing else.
        {PnpRequest::CancelStop, {PNP_STOP_PENDING, PNP_STARTED}, PORT_CLOSED, Y, Y, ok, N, N, {PNP_STARTED, PNP_STARTED}},
        {PnpRequest::CancelStop, {PNP_STARTED, PNP_STARTED}, PORT_OPEN, Y, Y, ok, N, N, {PNP_STARTED, PNP_STARTED}},
        // Stop stops a started port; a port that never started has nothing to stop.
        {PnpRequest::Stop, {PNP_STOP_PENDING, PNP_STARTED}, PORT_CLOSED, Y, Y, ok, Y, N, {PNP_STOPPED, PNP_STOPPED}},
        {PnpRequest::Stop, {PNP_STARTED, 0}, PORT_CLOSED, Y, Y, ok, Y, N, {PNP_STOPPED, PNP_STOPPED}},
        {PnpRequest::Stop, {PNP_NOT_STARTED, 0}, PORT_ABSENT, Y, Y, ok, N, N, {PNP_NOT_STARTED, 0}},
        {PnpRequest::Stop, {PNP_STOPPED, PNP_STOPPED}, PORT_ABSENT, Y, Y, ok, N, N, {PNP_STOPPED, PNP_STOPPED}},
        // Query remove: refused while in use, whatever the device state; accepted after.
        {PnpRequest::QueryRemove, {PNP_STARTED, 0}, PORT_OPEN, N, Y, busy, N, N, {PNP_STARTED, 0}},
        {PnpRequest::QueryRemove, {PNP_STARTED, 0}, PORT_CLOSED, Y, Y, ok, N, N, {PNP_REMOVE_PENDING, PNP_STARTED}},
        {PnpRequest::QueryRemove, {PNP_NOT_STARTED, 0}, PORT_ABSENT, Y, Y, ok, N, N, {PNP_REMOVE_PENDING, PNP_NOT_STARTED}},
        {PnpRequest::QueryRemove, {PNP_STOPPED, 3}, PORT_ABSENT, Y, Y, ok, N, N, {PNP_REMOVE_PENDING, PNP_STOPPED}},
        // Cancel remove restores the state the query found.
        {PnpRequest::CancelRemove, {PNP_REMOVE_PENDING, PNP_STARTED}, PORT_CLOSED, Y, Y, ok, N, N, {PNP_STARTED, PNP_STARTED}},
        {PnpRequest::CancelRemove, {PNP_REMOVE_PENDING, PNP_NOT_STARTED}, PORT_ABSENT, Y, Y, ok, N, N, {PNP_NOT_STARTED, PNP_NOT_STARTED}},
        {PnpRequest::CancelRemove, {PNP_STARTED, 0}, PORT_CLOSED, Y, Y, ok, N, N, {PNP_STARTED, 0}},
        // Surprise removal disables the interface and stops what is started.
        {PnpRequest::SurpriseRemoval, {PNP_STARTED, 0}, PORT_OPEN, Y, Y, ok, Y, Y, {PNP_SURPRISE_REMOVED, PNP_SURPRISE_REMOVED}},
        {PnpRequest::SurpriseRemoval, {PNP_STOPPED, 3}, PORT_ABSENT, Y, Y, ok, N, Y, {PNP_STOPPED, 3}},  // no stop, no state 5
        // Remove always ends in removed; it stops a started port first.
        {PnpRequest::Remove, {PNP_REMOVE_PENDING, PNP_STARTED}, PORT_CLOSED, Y, Y, ok, Y, N, {PNP_REMOVED, PNP_REMOVED}},
        {PnpRequest::Remove, {PNP_SURPRISE_REMOVED, 5}, PORT_ABSENT, Y, Y, ok, N, N, {PNP_REMOVED, PNP_REMOVED}},
        {PnpRequest::Remove, {PNP_REMOVE_PENDING, PNP_NOT_STARTED}, PORT_ABSENT, Y, Y, ok, N, N, {PNP_REMOVED, PNP_REMOVED}},
        {PnpRequest::Remove, {PNP_NOT_STARTED, 0}, PORT_ABSENT, Y, Y, ok, N, N, {PNP_REMOVED, PNP_REMOVED}},
    };
    for (const Row& r : rows) {
        const PnpDecision d = DecidePnp(r.request, r.before, r.port);
        SCOPED_TRACE(testing::Message() << Name(r.request) << " in state " << r.before.current
                                        << " with PortState " << r.port);
        EXPECT_EQ(r.passDown, d.passDown);
        if (r.setStatus || !r.passDown) {
            EXPECT_EQ(r.status, d.status);
        }
        EXPECT_EQ(r.setStatus, d.setStatus);
        EXPECT_EQ(r.stopPort, d.stopPort);
        EXPECT_EQ(r.disableInterface, d.disableInterface);
        EXPECT_EQ(r.after.current, d.next.current);
        EXPECT_EQ(r.after.previous, d.next.previous);
    }
}

// Query remove while an application has the port open is refused; once it closes the
// same device accepts, and a cancel returns it to started.
TEST(PnpRules, QueryRemoveRefusedUntilTheApplicationCloses)
{
    PnpStates states{PNP_STARTED, PNP_NOT_STARTED};
    PnpDecision d = DecidePnp(PnpRequest::QueryRemove, states, PORT_OPEN);
    EXPECT_FALSE(d.passDown);
    EXPECT_EQ(kStatusDeviceBusy, d.status);
    EXPECT_EQ(static_cast<NtStatus>(0x80000011u), d.status);
    states = d.next;

    d = DecidePnp(PnpRequest::QueryRemove, states, PORT_CLOSED);
    EXPECT_TRUE(d.passDown);
    EXPECT_EQ(kStatusSuccess, d.status);
    states = d.next;
    EXPECT_EQ(PNP_REMOVE_PENDING, states.current);

    states = DecidePnp(PnpRequest::CancelRemove, states, PORT_CLOSED).next;
    EXPECT_EQ(PNP_STARTED, states.current);
}
