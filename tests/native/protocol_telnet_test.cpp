// The Telnet layer and the COM port control option: IAC doubling, the parser split at
// every byte, bounded garbage, option negotiation against servers that answer late, in
// another order or not at all, the settings mapping, and a client and a server talking.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com_port_link.h"
#include "link_channel.h"
#include "protocol_recorder.h"

using namespace pta;
using namespace pta::protocol;
using protocol_test::Bytes;
using protocol_test::Hex;
using protocol_test::Recorder;

namespace {

constexpr int IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254, NOP = 241;
constexpr int CP = OPTION_COM_PORT;

std::vector<uint8_t> Encode(const std::vector<uint8_t>& plain)
{
    std::vector<uint8_t> wire(plain.size() * 2 + 1);
    wire.resize(TelnetEncodeData(plain.data(), plain.size(), wire.data()));
    return wire;
}

// Everything the parser reports, as text lines.
struct Events : TelnetEvents {
    std::vector<uint8_t> data;
    std::vector<std::string> lines;
    void OnData(const uint8_t* d, size_t n) override
    {
        EXPECT_GT(n, 0u);
        data.insert(data.end(), d, d + n);
    }
    void OnNegotiation(uint8_t verb, uint8_t option) override
    {
        lines.push_back("neg " + std::to_string(verb) + " " + std::to_string(option) + " @" + std::to_string(data.size()));
    }
    void OnSubnegotiation(uint8_t option, const uint8_t* d, size_t n, bool truncated) override
    {
        lines.push_back("sb " + std::to_string(option) + " [" + Hex(d, n) + "]" + (truncated ? " cut" : "") +
                        " @" + std::to_string(data.size()));
    }
    void OnCommand(uint8_t c) override { lines.push_back("cmd " + std::to_string(c)); }
};

Events ParseInPieces(const std::vector<uint8_t>& wire, const std::vector<size_t>& cuts)
{
    TelnetParser parser;
    Events events;
    size_t from = 0;
    for (size_t cut : cuts) {
        parser.Receive(wire.data() + from, cut - from, events);
        from = cut;
    }
    parser.Receive(wire.data() + from, wire.size() - from, events);
    return events;
}

}  // namespace

TEST(TelnetData, EveryByteValueRoundTripsAloneAndTogether)
{
    std::vector<uint8_t> all;
    for (int v = 0; v < 256; ++v) {
        const std::vector<uint8_t> one = {static_cast<uint8_t>(v)};
        const std::vector<uint8_t> wire = Encode(one);
        EXPECT_EQ(v == 0xFF ? 2u : 1u, wire.size()) << v;
        EXPECT_EQ(one, ParseInPieces(wire, {}).data) << v;
        all.push_back(static_cast<uint8_t>(v));
        all.push_back(0xFF);  // and every value beside a doubled one
    }
    const std::vector<uint8_t> wire = Encode(all);
    EXPECT_EQ(all.size() + 256 + 1, wire.size());
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        ASSERT_EQ(all, ParseInPieces(wire, {cut}).data) << "cut at " << cut;
    }
}

TEST(TelnetData, PlainBytesSentCountOnlyWholeEncodings)
{
    const std::vector<uint8_t> plain = Bytes({0x41, 0xFF, 0x42, 0xFF, 0xFF});  // wire: 41 FF FF 42 FF FF FF FF
    const struct {
        size_t wireSent, plainSent;
    } rows[] = {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 3}, {5, 3}, {6, 4}, {7, 4}, {8, 5}, {99, 5}};
    for (const auto& r : rows) {
        EXPECT_EQ(r.plainSent, TelnetPlainSent(plain.data(), plain.size(), r.wireSent)) << r.wireSent;
    }
}

TEST(TelnetParser, CommandsAndSubnegotiationsSurviveEverySplit)
{
    const std::vector<uint8_t> wire = Bytes({
        0x41, IAC, IAC, 0x42,                      // data with a doubled 0xFF
        IAC, WILL, 3,                              // negotiation
        IAC, SB, CP, 107, IAC, IAC, 0x30, IAC, SE, // subnegotiation with 0xFF in its value
        0x43, IAC, NOP, IAC, 0x17, 0x44,           // NOP and an unknown command, skipped
        IAC, SE, 0x45,                             // a stray SE
        IAC, SB, CP, IAC, SE,                      // an empty one
        IAC, DONT, 44, 0x46});
    const Events whole = ParseInPieces(wire, {});
    EXPECT_EQ(Bytes({0x41, 0xFF, 0x42, 0x43, 0x44, 0x45, 0x46}), whole.data);
    const std::vector<std::string> expected = {
        "neg 251 3 @3", "sb 44 [6B FF 30] @3", "cmd 241", "cmd 23", "sb 44 [] @6", "neg 254 44 @6"};
    EXPECT_EQ(expected, whole.lines);
    for (size_t a = 0; a <= wire.size(); ++a) {
        for (size_t b = a; b <= wire.size(); ++b) {
            const Events split = ParseInPieces(wire, {a, b});
            ASSERT_EQ(whole.data, split.data) << a << "," << b;
            ASSERT_EQ(whole.lines, split.lines) << a << "," << b;
        }
    }
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < wire.size(); ++i) everyByte.push_back(i);
    EXPECT_EQ(whole.lines, ParseInPieces(wire, everyByte).lines);
}

TEST(TelnetParser, GarbageStaysWithinBounds)
{
    struct Row {
        const char* name;
        std::vector<uint8_t> wire;
        std::vector<uint8_t> data;
        std::vector<std::string> lines;
    };
    std::vector<uint8_t> longSb = Bytes({IAC, SB, CP, 107});
    for (int i = 0; i < 5000; ++i) longSb.push_back(static_cast<uint8_t>(i & 0x7F));
    for (int b : {IAC, SE, 0x41}) longSb.push_back(static_cast<uint8_t>(b));
    std::string kept = Hex(longSb.data() + 3, TelnetParser::kMaxSubnegotiation);
    const Row rows[] = {
        {"a subnegotiation longer than kept", longSb, Bytes({0x41}), {"sb 44 [" + kept + "] cut @0"}},
        {"a subnegotiation that lost its end", Bytes({IAC, SB, CP, 107, 0x30, IAC, WILL, 1, 0x41}), Bytes({0x41}),
         {"neg 251 1 @0"}},
        {"an end lost before a command", Bytes({IAC, SB, CP, 1, IAC, NOP, 0x41}), Bytes({0x41}),
         {"cmd 241"}},
        {"IAC at the very end", Bytes({0x41, IAC}), Bytes({0x41}), {}},
        {"a verb without its option", Bytes({IAC, DO}), {}, {}},
    };
    for (const Row& r : rows) {
        const Events e = ParseInPieces(r.wire, {});
        EXPECT_EQ(r.data, e.data) << r.name;
        EXPECT_EQ(r.lines, e.lines) << r.name;
    }
}

namespace {

// Drives a client link with what a server sends, block by block, and collects what the
// client answers.
struct ClientRun {
    ComPortLink link{ComPortRole::Client};
    Recorder sink;
    std::string sent;

    ClientRun()
    {
        link.Start();
        Take();
    }
    void Take()
    {
        uint8_t out[WireBytes::kCapacity];
        const size_t n = link.TakeOutput(out, sizeof out);
        if (n) sent += (sent.empty() ? "" : " ") + Hex(out, n);
    }
    void Feed(const std::vector<uint8_t>& block)
    {
        sent.clear();
        link.Receive(block.data(), block.size(), sink);
        Take();
    }
};

const char* kClientOffer = "FF FB 2C FF FB 00 FF FD 00 FF FB 03 FF FD 03";

}  // namespace

TEST(ComPortNegotiation, ClientOffersTheOptionBinaryAndNoGoAhead)
{
    ClientRun run;
    EXPECT_EQ(kClientOffer, run.sent);
    EXPECT_EQ(ComPortNegotiation::Pending, run.link.Negotiation());
}

TEST(ComPortNegotiation, ServersAnsweringLateInOtherOrdersOrRefusing)
{
    struct Row {
        const char* name;
        std::vector<std::vector<uint8_t>> blocks;  // what the server sends, block by block
        const char* lastAnswer;                    // what the client sends after the last block
        ComPortNegotiation outcome;
        bool binaryOut, binaryIn;
    };
    const Row rows[] = {
        {"ser2net's order, its offers crossing ours",
         {Bytes({IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 1, IAC, DONT, 1, IAC, DO, 0, IAC, WILL, 0, IAC, DO, CP})},
         "FF FE 01", ComPortNegotiation::Ready, true, true},
        {"answers one byte at a time",
         {Bytes({IAC}), Bytes({DO}), Bytes({CP}), Bytes({IAC, DO}), Bytes({0})}, "", ComPortNegotiation::Ready, true,
         false},
        {"no answer yet", {Bytes({0x41, 0x42})}, "", ComPortNegotiation::Pending, false, false},
        {"the option answered last, after data",
         {Bytes({IAC, DO, 0, IAC, WILL, 0}), Bytes({0x41}), Bytes({IAC, DO, CP})}, "", ComPortNegotiation::Ready, true,
         true},
        {"the option refused", {Bytes({IAC, DO, 0, IAC, DONT, CP})}, "", ComPortNegotiation::Refused, true, false},
        {"binary refused both ways, the option agreed", {Bytes({IAC, DONT, 0, IAC, WONT, 0, IAC, DO, CP})}, "",
         ComPortNegotiation::Ready, false, false},
        {"a repeated DO is not answered again", {Bytes({IAC, DO, CP}), Bytes({IAC, DO, CP, IAC, DO, CP})}, "",
         ComPortNegotiation::Ready, false, false},
        {"the option withdrawn after it was agreed", {Bytes({IAC, DO, CP}), Bytes({IAC, DONT, CP})}, "FF FC 2C",
         ComPortNegotiation::Pending, false, false},
        {"options we do not support are refused",
         {Bytes({IAC, DO, CP, IAC, DO, 1, IAC, WILL, 200, IAC, DO, 200, IAC, WONT, 7})}, "FF FC 01 FF FE C8 FF FC C8",
         ComPortNegotiation::Ready, false, false},
        {"binary turned off after it was on", {Bytes({IAC, DO, CP, IAC, WILL, 0}), Bytes({IAC, WONT, 0})}, "FF FE 00",
         ComPortNegotiation::Ready, false, false},
    };
    for (const Row& r : rows) {
        ClientRun run;
        for (const auto& block : r.blocks) run.Feed(block);
        EXPECT_EQ(r.lastAnswer, run.sent) << r.name;
        EXPECT_EQ(r.outcome, run.link.Negotiation()) << r.name;
        EXPECT_EQ(r.binaryOut, run.link.Options().Local(OPTION_BINARY) == TelnetNegotiator::Side::Yes) << r.name;
        EXPECT_EQ(r.binaryIn, run.link.Options().Remote(OPTION_BINARY) == TelnetNegotiator::Side::Yes) << r.name;
        EXPECT_EQ(r.outcome == ComPortNegotiation::Refused, run.link.FailureText()[0] != '\0') << r.name;
    }
}

TEST(ComPortNegotiation, ClientTakesModemStateAndIgnoresTheOtherAnswers)
{
    ClientRun run;
    run.Feed(Bytes({IAC, DO, CP, 0x41, IAC, SB, CP, 107, 0x30, IAC, SE, 0x42,  // modem state
                    IAC, SB, CP, 101, 0, 0, 0x4B, 0, IAC, SE,                  // baud rate answer
                    IAC, SB, CP, 107, IAC, SE,                                 // modem state without value
                    IAC, SB, 24, 1, IAC, SE, 0x43}));                          // another option's
    const std::vector<std::string> expected = {"41", "m 30", "42", "43"};
    EXPECT_EQ(expected, run.sink.events);
    EXPECT_EQ("", run.sent);
}

TEST(ComPortMapping, LineControlBytesToOptionValuesAndBack)
{
    const struct Row {
        uint8_t lineControl;
        uint8_t dataSize, parity, stopSize;
        bool breakOn;
    } rows[] = {
        {0x03, 8, CPO_PARITY_NONE, CPO_STOP_1, false},  {0x1A, 7, CPO_PARITY_EVEN, CPO_STOP_1, false},
        {0x0A, 7, CPO_PARITY_ODD, CPO_STOP_1, false},   {0x2B, 8, CPO_PARITY_MARK, CPO_STOP_1, false},
        {0x3B, 8, CPO_PARITY_SPACE, CPO_STOP_1, false}, {0x07, 8, CPO_PARITY_NONE, CPO_STOP_2, false},
        {0x04, 5, CPO_PARITY_NONE, CPO_STOP_15, false}, {0x01, 6, CPO_PARITY_NONE, CPO_STOP_1, false},
        {0x43, 8, CPO_PARITY_NONE, CPO_STOP_1, true},
    };
    for (const Row& r : rows) {
        const ComPortLine line = ComPortLineOf(r.lineControl);
        EXPECT_EQ(r.dataSize, line.dataSize) << int(r.lineControl);
        EXPECT_EQ(r.parity, line.parity) << int(r.lineControl);
        EXPECT_EQ(r.stopSize, line.stopSize) << int(r.lineControl);
        EXPECT_EQ(r.breakOn, line.breakOn) << int(r.lineControl);
        EXPECT_EQ(r.lineControl, LineControlOf(line, 0)) << int(r.lineControl);
    }
    // Parity bits without the enable bit are no parity.
    EXPECT_EQ(CPO_PARITY_NONE, ComPortLineOf(0x13).parity);
}

TEST(ComPortMapping, SettingsMessagesOnTheWire)
{
    const struct Row {
        const char* name;
        TelnetMessage message;
        const char* wire;
    } rows[] = {
        {"19200 baud", ComPortBaud(7), "FF FA 2C 01 00 00 4B 00 FF F0"},
        {"921600 baud", ComPortBaud(13), "FF FA 2C 01 00 0E 10 00 FF F0"},
        {"an index outside the table", ComPortBaud(99), "FF FA 2C 01 00 00 25 80 FF F0"},
        {"7E1", ComPortLineControl(0x1A),
         "FF FA 2C 02 07 FF F0 FF FA 2C 03 03 FF F0 FF FA 2C 04 01 FF F0 FF FA 2C 05 06 FF F0"},
        {"DTR on, RTS off", ComPortModemControl(1), "FF FA 2C 05 08 FF F0 FF FA 2C 05 0C FF F0"},
        {"keep-alive", ComPortKeepAlive(), "FF F1 FF FA 2C 01 00 00 00 00 FF F0"},
        {"modem state mask", ComPortModemStateMask(), "FF FA 2C 0B FF FF FF F0"},
    };
    for (const Row& r : rows) EXPECT_EQ(r.wire, Hex(r.message.bytes, r.message.length)) << r.name;
}

namespace {

// A client and a server joined back to back: whatever one has to send, the other receives.
struct Pair {
    ComPortLink client{ComPortRole::Client};
    ComPortLink server;
    Recorder atClient, atServer;

    explicit Pair(bool serverAccepts = true) : server(ComPortRole::Server, serverAccepts)
    {
        client.Start();
        server.Start();
        Pump();
    }
    void Pump()
    {
        uint8_t buffer[WireBytes::kCapacity];
        for (int round = 0; round < 8; ++round) {
            size_t n = client.TakeOutput(buffer, sizeof buffer);
            if (n) server.Receive(buffer, n, atServer);
            size_t m = server.TakeOutput(buffer, sizeof buffer);
            if (m) client.Receive(buffer, m, atClient);
            if (!n && !m) return;
        }
        ADD_FAILURE() << "negotiation does not settle";
    }
    void ClientSends(const TelnetMessage& m)
    {
        server.Receive(m.bytes, m.length, atServer);
        Pump();
    }
};

}  // namespace

TEST(ComPortLinkPair, NegotiationSettlesBothWays)
{
    Pair pair;
    EXPECT_EQ(ComPortNegotiation::Ready, pair.client.Negotiation());
    EXPECT_EQ(ComPortNegotiation::Ready, pair.server.Negotiation());
    for (uint8_t option : {OPTION_BINARY, OPTION_SGA}) {
        EXPECT_EQ(TelnetNegotiator::Side::Yes, pair.client.Options().Local(option));
        EXPECT_EQ(TelnetNegotiator::Side::Yes, pair.client.Options().Remote(option));
    }
    EXPECT_TRUE(pair.atClient.events.empty());
    EXPECT_TRUE(pair.atServer.events.empty());
}

TEST(ComPortLinkPair, AServerWithoutTheOptionRefusesIt)
{
    Pair pair(false);
    EXPECT_EQ(ComPortNegotiation::Refused, pair.client.Negotiation());
    EXPECT_STRNE("", pair.client.FailureText());
}

TEST(ComPortLinkPair, ServerTakesSettingsAsTheInbandMessagesAndAnswers)
{
    const struct Row {
        const char* name;
        TelnetMessage message;
        std::vector<std::string> atServer;
    } rows[] = {
        {"19200 baud", ComPortBaud(7), {"S 07"}},
        {"7E1", ComPortLineControl(0x1A), {"L 02", "L 1A", "L 1A", "L 1A"}},
        {"DTR and RTS off", ComPortModemControl(0), {"M 02", "M 00"}},
        {"the keep-alive changes nothing", ComPortKeepAlive(), {}},
        {"the modem state mask changes nothing", ComPortModemStateMask(), {}},
    };
    for (const Row& r : rows) {
        Pair pair;
        pair.ClientSends(r.message);
        EXPECT_EQ(r.atServer, pair.atServer.events) << r.name;
        EXPECT_TRUE(pair.atClient.events.empty()) << r.name;
    }
    Pair pair;
    pair.ClientSends(ComPortBaud(7));
    pair.ClientSends(ComPortLineControl(0x1A));
    EXPECT_EQ(19200u, pair.server.BaudRate());
    EXPECT_EQ(0x1A, pair.server.LineControl() & 0x3F);
}

TEST(ComPortLinkPair, DataWithEveryByteValueAndModemStateCross)
{
    Pair pair;
    std::vector<uint8_t> plain;
    for (int i = 0; i < 1024; ++i) plain.push_back(static_cast<uint8_t>(i * 7));
    const std::vector<uint8_t> wire = Encode(plain);
    pair.server.Receive(wire.data(), wire.size(), pair.atServer);
    pair.client.Receive(wire.data(), wire.size(), pair.atClient);
    EXPECT_EQ(plain, pair.atServer.data);
    EXPECT_EQ(plain, pair.atClient.data);

    pair.ClientSends([] {
        TelnetMessage m;
        m.AddCommand(CPO_SET_MODEMSTATE_MASK, 0xF0);
        return m;
    }());
    const TelnetMessage state = pair.server.ModemState(0x3B);
    pair.atClient.events.clear();
    pair.client.Receive(state.bytes, state.length, pair.atClient);
    const std::vector<std::string> expected = {"m 30"};
    EXPECT_EQ(expected, pair.atClient.events);
}
