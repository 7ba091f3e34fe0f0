// libFuzzer target over receive processing: arbitrary blocks, either end of the link, any
// key state. Nothing may crash, and every input byte must leave either as delivered data
// or inside a message.
#include <stdlib.h>

#include "receive_scanner.h"

using namespace pta::protocol;

namespace {

struct CountingSink : ReceiveSink {
    size_t bytes = 0;
    void Deliver(const uint8_t*, size_t length) override
    {
        if (length == 0) abort();  // deliveries are never empty
        bytes += length;
    }
    void OnMessage(const ReceivedMessage& m) override
    {
        if (m.payloadLength + 4 != InbandLength(m.command)) abort();
        bytes += m.payloadLength + 4;
    }
};

}  // namespace

// Input: a mode byte (bit 0: side; bits 1-2: key state), a key byte, then blocks, each a
// length byte and that many bytes (the last one cut short by the input's end).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const LinkSide side = (data[0] & 1) ? LinkSide::DeviceServer : LinkSide::Engine;
    const unsigned keyMode = (data[0] >> 1) & 3;
    uint8_t key[kKeyLength] = {data[1]};
    LinkKeys keys;
    if (keyMode == 1) keys.Offer(key);   // engine awaiting the server's key
    if (keyMode == 2) keys.Expect();     // server awaiting the engine's key
    if (keyMode == 3) {                  // already active
        keys.Offer(key);
        keys.AcceptPeerKey(key);
    }
    ReceiveScanner scanner(side, keys);
    CountingSink sink;
    size_t fed = 0;
    for (size_t at = 2; at < size;) {
        size_t length = data[at++];
        if (length > size - at) length = size - at;
        scanner.Receive(data + at, length, sink);
        if (scanner.Held() > ReceiveScanner::kMaxHeld) abort();
        fed += length;
        at += length;
        // Now and then the stream goes idle between blocks.
        if (length % 7 == 3) scanner.Flush(sink);
    }
    scanner.Flush(sink);
    if (scanner.Held() != 0 || sink.bytes != fed) abort();
    return 0;
}
