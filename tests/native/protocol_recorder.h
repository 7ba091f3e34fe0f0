// A receive sink that writes what it gets as short text lines, for comparing with tables:
// "41 42" for delivered data, "m 30" for a message (command letter, payload in hex).
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

#include "receive_scanner.h"

namespace protocol_test {

using namespace pta::protocol;

inline std::string Hex(const uint8_t* data, size_t length)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < length; ++i) {
        snprintf(b, sizeof(b), i ? " %02X" : "%02X", data[i]);
        s += b;
    }
    return s;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> v;
    for (int x : values) v.push_back(static_cast<uint8_t>(x));
    return v;
}

struct Recorder : ReceiveSink {
    std::vector<std::string> events;
    std::vector<uint8_t> data;
    size_t messageBytes = 0;

    void Deliver(const uint8_t* bytes, size_t length) override
    {
        events.push_back(Hex(bytes, length));
        data.insert(data.end(), bytes, bytes + length);
    }
    void OnMessage(const ReceivedMessage& m) override
    {
        events.push_back(std::string(1, static_cast<char>(m.command)) + " " +
                         Hex(m.payload, m.payloadLength));
        messageBytes += m.payloadLength + 4;
    }
};

}  // namespace protocol_test
