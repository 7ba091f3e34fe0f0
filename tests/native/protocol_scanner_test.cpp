// Receive processing: messages taken out of received blocks, data handed on in order,
// messages cut at block edges, and the modem status indicators.
#include <gtest/gtest.h>

#include <random>

#include "protocol_recorder.h"

using namespace protocol_test;

namespace {

struct ScanCase {
    const char* what;
    std::vector<std::vector<uint8_t>> blocks;
    size_t heldAfterLast;                 // held back before the stream goes idle
    std::vector<std::string> events;      // everything, after the final Flush
};

// Feeds the blocks to an engine-side scanner, then flushes.
Recorder RunEngineSide(const std::vector<std::vector<uint8_t>>& blocks, size_t* held = nullptr)
{
    LinkKeys keys;
    ReceiveScanner scanner(LinkSide::Engine, keys);
    Recorder r;
    for (const auto& b : blocks) scanner.Receive(b.data(), b.size(), r);
    if (held) *held = scanner.Held();
    scanner.Flush(r);
    EXPECT_EQ(scanner.Held(), 0u);
    return r;
}

}  // namespace

TEST(ReceiveScannerTest, TakesOutMessagesAndDeliversTheRest)
{
    const ScanCase cases[] = {
        {"modem status between data",
         {Bytes({0x41, 0x42, 0x7F, 0xFE, 0x6D, 0x30, 0xF7, 0x43})}, 0, {"41 42", "m 30", "43"}},
        {"a block of one message delivers nothing",
         {Bytes({0x7F, 0xFE, 0x41, 0x00, 0xF7})}, 0, {"A 00"}},
        {"skip message", {Bytes({0x7F, 0xFE, 0x70, 0x01, 0xF7, 0x44})}, 0, {"p 01", "44"}},
        {"two messages back to back",
         {Bytes({0x7F, 0xFE, 0x41, 0x00, 0xF7, 0x7F, 0xFE, 0x6D, 0x80, 0xF7})}, 0, {"A 00", "m 80"}},
        {"engine messages are data on the engine side",
         {Bytes({0x7F, 0xFE, 0x53, 0x06, 0xF7})}, 0, {"7F FE 53 06 F7"}},
        {"unknown letter is data", {Bytes({0x7F, 0xFE, 0x58, 0x00, 0xF7})}, 0, {"7F FE 58 00 F7"}},
        // A message whose end byte is wrong is data, and has no effect either.
        {"wrong end byte", {Bytes({0x7F, 0xFE, 0x6D, 0x30, 0x00})}, 0, {"7F FE 6D 30 00"}},
        // A data byte 0x7F just before a message does not hide the message.
        {"0x7F before a message", {Bytes({0x7F, 0x7F, 0xFE, 0x41, 0x00, 0xF7})}, 0, {"7F", "A 00"}},
        {"marker before a message",
         {Bytes({0x7F, 0xFE, 0x7F, 0xFE, 0x41, 0x00, 0xF7})}, 0, {"7F FE", "A 00"}},
        {"0x7F at the very end is data once the stream is idle",
         {Bytes({0x41, 0x7F})}, 1, {"41", "7F"}},
        {"cut-off message stays data when nothing follows",
         {Bytes({0x7F, 0xFE, 0x6D, 0x30})}, 4, {"7F FE 6D 30"}},
        {"message cut at a block edge is completed by the next block",
         {Bytes({0x41, 0x7F, 0xFE}), Bytes({0x6D, 0x90, 0xF7, 0x42})}, 0, {"41", "m 90", "42"}},
        {"cut-off start that turns out to be data",
         {Bytes({0x41, 0x7F}), Bytes({0x42})}, 0, {"41", "7F 42"}},
        {"cut-off start with a wrong end byte",
         {Bytes({0x7F, 0xFE, 0x6D}), Bytes({0x30, 0x31, 0x32})}, 0, {"7F FE 6D 30 31 32"}},
        {"message split into single bytes",
         {Bytes({0x7F}), Bytes({0xFE}), Bytes({0x41}), Bytes({0x00}), Bytes({0xF7})}, 0, {"A 00"}},
        // A cut-off MSG_KEY hides a complete message inside it until the stream is idle.
        {"complete message inside a cut-off key",
         {Bytes({0x7F, 0xFE, 0x45, 0x7F, 0xFE, 0x41, 0x00, 0xF7})}, 8, {"7F FE 45", "A 00"}},
        {"key message not awaited is taken out",
         {Bytes({0x7F, 0xFE, 0x45, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0xF7, 0x61})},
         0, {"E 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", "61"}},
        {"empty block", {Bytes({})}, 0, {}},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.what);
        size_t held = 0;
        const Recorder r = RunEngineSide(c.blocks, &held);
        EXPECT_EQ(held, c.heldAfterLast);
        EXPECT_EQ(r.events, c.events);
    }
}

TEST(ReceiveScannerTest, DeviceServerSideRecognisesTheEngineMessages)
{
    LinkKeys keys;
    ReceiveScanner scanner(LinkSide::DeviceServer, keys);
    Recorder r;
    const auto block = Bytes({0x7F, 0xFE, 0x53, 0x0A, 0xF7, 0x7F, 0xFE, 0x4C, 0x03, 0xF7, 0x7F, 0xFE,
                              0x4D, 0x03, 0xF7, 0x7F, 0xFE, 0x6D, 0x30, 0xF7, 0x7F, 0xFE, 0x41, 0x00,
                              0xF7});
    scanner.Receive(block.data(), block.size(), r);
    const std::vector<std::string> expected = {"S 0A", "L 03", "M 03", "7F FE 6D 30 F7", "A 00"};
    EXPECT_EQ(r.events, expected);
}

// Whatever the block edges, the data and the messages that come out are the same, and
// every byte received leaves either as data or inside a message.
TEST(ReceiveScannerTest, BlockEdgesDoNotChangeTheResult)
{
    std::mt19937 rng(7);
    std::vector<uint8_t> stream;
    uint8_t key[kKeyLength] = {};
    for (int i = 0; i < 600; ++i) {
        switch (rng() % 6) {
        case 0: { const auto m = InbandMessage::ModemStatus(static_cast<uint8_t>(rng())); stream.insert(stream.end(), m.bytes, m.bytes + m.length); break; }
        case 1: { const auto m = InbandMessage::Alive(); stream.insert(stream.end(), m.bytes, m.bytes + m.length - 1); break; }  // no end byte
        case 2: { const auto m = InbandMessage::Key(key); stream.insert(stream.end(), m.bytes, m.bytes + m.length); break; }
        case 3: stream.push_back(0x7F); break;
        default: for (int n = rng() % 40; n > 0; --n) stream.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? 0x7F : rng())); break;
        }
    }
    const Recorder whole = RunEngineSide({stream});
    EXPECT_EQ(whole.data.size() + whole.messageBytes, stream.size());

    auto messagesOf = [](const Recorder& r) {
        std::vector<std::string> m;
        for (const auto& e : r.events) if (e.size() > 1 && e[1] == ' ') m.push_back(e);
        return m;
    };
    for (size_t step : {1u, 2u, 3u, 5u, 19u, 20u, 21u, 97u, 4095u, 4096u, 4097u, 10000u}) {
        SCOPED_TRACE(step);
        std::vector<std::vector<uint8_t>> blocks;
        for (size_t at = 0; at < stream.size(); at += step)
            blocks.emplace_back(stream.begin() + at, stream.begin() + std::min(stream.size(), at + step));
        const Recorder split = RunEngineSide(blocks);
        EXPECT_EQ(split.data, whole.data);
        EXPECT_EQ(messagesOf(split), messagesOf(whole));
    }
}

TEST(ReceiveScannerTest, ResetDropsBytesHeldFromTheLastConnection)
{
    LinkKeys keys;
    ReceiveScanner scanner(LinkSide::Engine, keys);
    Recorder r;
    const auto cut = Bytes({0x7F, 0xFE, 0x6D});
    scanner.Receive(cut.data(), cut.size(), r);
    scanner.Reset();
    const auto next = Bytes({0x30, 0xF7});
    scanner.Receive(next.data(), next.size(), r);
    EXPECT_EQ(r.events, std::vector<std::string>{"30 F7"});
}

TEST(ModemIndicatorsTest, FollowTheLineBits)
{
    const struct {
        uint8_t status;
        uint8_t cts, dsr, dcd;
    } status[] = {
        {0x00, 1, 1, 1}, {0x30, 2, 2, 1}, {0xB0, 2, 2, 2}, {0x80, 1, 1, 2},
        {0x40, 1, 1, 1}, {0x1F, 2, 1, 1}, {0xEF, 1, 2, 2},
    };
    for (const auto& c : status) {
        const ModemStatusIndicators led = IndicatorsOfModemStatus(c.status);
        EXPECT_EQ(led.cts, c.cts) << int(c.status);
        EXPECT_EQ(led.dsr, c.dsr) << int(c.status);
        EXPECT_EQ(led.dcd, c.dcd) << int(c.status);
    }
    const struct {
        uint8_t control;
        uint8_t dtr, rts;
    } control[] = {{0, 1, 1}, {1, 2, 1}, {2, 1, 2}, {3, 2, 2}, {0xFC, 1, 1}};
    for (const auto& c : control) {
        const ModemControlIndicators led = IndicatorsOfModemControl(c.control);
        EXPECT_EQ(led.dtr, c.dtr) << int(c.control);
        EXPECT_EQ(led.rts, c.rts) << int(c.control);
    }
}
