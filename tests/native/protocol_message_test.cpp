// In-band messages: their encoding, their lengths and which end recognises which.
#include <gtest/gtest.h>

#include "protocol_recorder.h"

using namespace protocol_test;

TEST(InbandMessageTest, EncodesEveryMessage)
{
    uint8_t key[kKeyLength];
    for (size_t i = 0; i < kKeyLength; ++i) key[i] = static_cast<uint8_t>(0xA0 + i);
    const struct {
        InbandMessage message;
        const char* bytes;
    } cases[] = {
        {InbandMessage::Alive(), "7F FE 41 00 F7"},
        {InbandMessage::Baud(6), "7F FE 53 06 F7"},
        {InbandMessage::LineControl(0x1B), "7F FE 4C 1B F7"},
        {InbandMessage::ModemControl(0x03), "7F FE 4D 03 F7"},
        {InbandMessage::ModemStatus(0xB0), "7F FE 6D B0 F7"},
        {InbandMessage::Skip(0x55), "7F FE 70 55 F7"},
        {InbandMessage::Key(key),
         "7F FE 45 A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF F7"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(c.message.bytes, c.message.length), c.bytes);
        EXPECT_EQ(c.message.length, InbandLength(c.message.Command()));
    }
}

TEST(InbandMessageTest, EachEndRecognisesWhatTheOtherSends)
{
    const struct {
        uint8_t command;
        bool engineReads;
        bool serverReads;
    } cases[] = {
        {'A', true, true},   {'E', true, true},   {'m', true, false}, {'p', true, false},
        {'S', false, true},  {'L', false, true},  {'M', false, true}, {'s', false, false},
        {'B', false, false}, {0x00, false, false}, {0xF7, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(RecognisedBy(LinkSide::Engine, c.command) != nullptr, c.engineReads);
        EXPECT_EQ(RecognisedBy(LinkSide::DeviceServer, c.command) != nullptr, c.serverReads);
    }
    for (size_t i = 0; i < kInbandMessageCount; ++i) {
        const InbandMessageInfo& info = kInbandMessages[i];
        EXPECT_EQ(info.payloadLength + 4u, InbandLength(info.command)) << info.name;
    }
}
