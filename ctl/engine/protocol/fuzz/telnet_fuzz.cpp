// libFuzzer target over the Telnet layer: arbitrary blocks into either end of a COM port
// option link. Nothing may crash; deliveries are never empty and never hold more than
// came in; the output waiting to be sent stays within its bound.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "com_port_link.h"

using namespace pta::protocol;

namespace {

struct Sink : ReceiveSink {
    std::vector<uint8_t> data;
    void Deliver(const uint8_t* bytes, size_t length) override
    {
        if (length == 0) abort();
        data.insert(data.end(), bytes, bytes + length);
    }
    void OnMessage(const ReceivedMessage& m) override
    {
        if (m.payloadLength != 1 || m.payload == nullptr) abort();
    }
};

}  // namespace

// Input: a mode byte (bit 0: server side, bit 1: a server refusing the option), then
// blocks, each a length byte and that many bytes (the last cut short by the input's end).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const ComPortRole role = (data[0] & 1) ? ComPortRole::Server : ComPortRole::Client;
    ComPortLink link(role, (data[0] & 2) == 0);
    link.Start();
    Sink sink;
    size_t fed = 0;
    uint8_t out[64];
    for (size_t at = 1; at < size;) {
        size_t length = data[at++];
        if (length > size - at) length = size - at;
        link.Receive(data + at, length, sink);
        if (link.OutputLength() > WireBytes::kCapacity) abort();
        // Now and then the owner sends what waits.
        if (length % 5 == 1) link.TakeOutput(out, sizeof out);
        fed += length;
        at += length;
    }
    if (sink.data.size() > fed) abort();
    (void)link.Negotiation();
    return 0;
}
