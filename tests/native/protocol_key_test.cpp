// The "Encryption" protocol: key byte derivation, and the key exchange between an engine
// and a device server, both built on the same scanner.
#include <gtest/gtest.h>

#include "protocol_recorder.h"

using namespace protocol_test;

namespace {

std::vector<uint8_t> Key(std::initializer_list<int> first)
{
    std::vector<uint8_t> k(kKeyLength, 0);
    size_t i = 0;
    for (int v : first) k[i++] = static_cast<uint8_t>(v);
    return k;
}

void Append(std::vector<uint8_t>& to, const InbandMessage& m)
{
    to.insert(to.end(), m.bytes, m.bytes + m.length);
}

// The device server's end: answers the engine's key with its own, in stream order.
struct ServerEnd : Recorder {
    LinkKeys keys;
    std::vector<uint8_t> answerKey = Key({0x11, 0x22, 0x33});
    std::vector<uint8_t> out;
    void OnMessage(const ReceivedMessage& m) override
    {
        Recorder::OnMessage(m);
        if (m.command == MSG_KEY && m.keyAccepted) Append(out, keys.Answer(answerKey.data()));
    }
};

}  // namespace

TEST(LinkKeyTest, DerivesOneByteFromSixteen)
{
    const struct {
        std::vector<uint8_t> key;
        uint8_t byte;
    } cases[] = {
        {Key({}), 0x00},
        {Key({0x12}), 0x21},
        {Key({0x0F}), 0xF0},
        {Key({0xAB, 0x01}), 0xAA},
        {Key({0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80}), 0xFF},
        {Key({0x5A, 0x5A}), 0x00},
        {Key({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}), 0x00},
        {Key({0x11, 0x22, 0x33}), 0x00},
        {Key({0x11, 0x22, 0x34}), 0x70},
    };
    for (const auto& c : cases) EXPECT_EQ(DeriveKeyByte(c.key.data()), c.byte) << Hex(c.key.data(), 16);
}

TEST(LinkKeyTest, GeneratorGivesFreshKeys)
{
    KeyGenerator gen(42);
    uint8_t a[kKeyLength], b[kKeyLength];
    gen.Fill(a);
    gen.Fill(b);
    EXPECT_NE(Hex(a, kKeyLength), Hex(b, kKeyLength));
}

// The engine offers its key; the server takes it, answers, and both directions carry
// XORed bytes from then on, with data right behind each key in the same block.
TEST(LinkKeyTest, ExchangeBetweenEngineAndServer)
{
    const auto engineKey = Key({0x12, 0x34});  // key byte 0x62
    LinkKeys engineKeys;
    ReceiveScanner engineScanner(LinkSide::Engine, engineKeys);
    ServerEnd server;
    server.answerKey = Key({0x5C});  // key byte 0xC5
    server.keys.Expect();
    ReceiveScanner serverScanner(LinkSide::DeviceServer, server.keys);

    // Engine to server: the key, then (once active) settings and data in one block.
    std::vector<uint8_t> toServer;
    Append(toServer, engineKeys.Offer(engineKey.data()));
    EXPECT_EQ(engineKeys.State(), KEY_AWAITING);
    EXPECT_FALSE(engineKeys.TxActive());
    // The engine sends nothing more until the server's key has come back.
    serverScanner.Receive(toServer.data(), toServer.size(), server);
    EXPECT_EQ(server.keys.State(), KEY_ACTIVE);
    EXPECT_EQ(server.keys.RxKeyByte(), 0x62);
    EXPECT_TRUE(server.keys.TxActive());

    // Server to engine: its key, then an XORed modem status and data, in one block.
    std::vector<uint8_t> toEngine;
    toEngine.swap(server.out);
    const size_t plain = toEngine.size();
    Append(toEngine, InbandMessage::ModemStatus(0x30));
    toEngine.insert(toEngine.end(), {0x7F, 0xF7, 0x00, 0x41});
    server.keys.EncodeTx(toEngine.data() + plain, toEngine.size() - plain);
    Recorder engineGot;
    engineScanner.Receive(toEngine.data(), toEngine.size(), engineGot);
    EXPECT_EQ(engineKeys.State(), KEY_ACTIVE);
    EXPECT_EQ(engineKeys.RxKeyByte(), 0xC5);
    EXPECT_TRUE(engineKeys.TxActive());
    const std::vector<std::string> engineEvents = {
        "E 5C 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "m 30", "7F F7 00 41"};
    EXPECT_EQ(engineGot.events, engineEvents);

    // Engine to server, now XORed: a baud message and data.
    std::vector<uint8_t> block;
    Append(block, InbandMessage::Baud(10));
    block.insert(block.end(), {0x01, 0x02});
    engineKeys.EncodeTx(block.data(), block.size());
    EXPECT_NE(block[0], 0x7F);
    server.events.clear();
    serverScanner.Receive(block.data(), block.size(), server);
    EXPECT_EQ(server.events, (std::vector<std::string>{"S 0A", "01 02"}));
}

TEST(LinkKeyTest, KeyOutsideTheExchangeIsIgnored)
{
    const struct {
        const char* what;
        bool offer;         // the engine offered its key first
        int peerKeys;       // MSG_KEY messages that arrive
        KeyState state;
        uint8_t rxKey;
    } cases[] = {
        {"never offered", false, 1, KEY_NONE, 0x00},
        {"offered, one answer", true, 1, KEY_ACTIVE, 0x10},
        // The second key comes unencoded, so decoding turns it into data; the key stays.
        {"offered, the first answer counts", true, 2, KEY_ACTIVE, 0x10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LinkKeys keys;
        ReceiveScanner scanner(LinkSide::Engine, keys);
        const auto mine = Key({0x99});
        if (c.offer) keys.Offer(mine.data());
        Recorder r;
        for (int i = 0; i < c.peerKeys; ++i) {
            const auto peer = Key({0x01 + i});
            const InbandMessage m = InbandMessage::Key(peer.data());
            scanner.Receive(m.bytes, m.length, r);
        }
        scanner.Flush(r);
        EXPECT_EQ(keys.State(), c.state);
        EXPECT_EQ(keys.RxKeyByte(), c.rxKey);
        EXPECT_EQ(r.data.size() + r.messageBytes, 20u * c.peerKeys);
    }
}
