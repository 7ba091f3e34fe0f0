// NetTxRing, chunk sizing by baud index, and what each protocol sends.
#include <gtest/gtest.h>

#include "link_channel.h"
#include "net_tx_ring.h"
#include "protocol_recorder.h"
#include "protocol_rules.h"
#include "registry_layout.h"

using namespace protocol_test;

namespace {

std::vector<uint8_t> Pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

}  // namespace

TEST(NetTxRingTest, PutTakeAndWrap)
{
    static NetTxRing ring(7);
    EXPECT_STREQ(ring.Label(), "txq007");
    std::vector<uint8_t> out(NetTxRing::kCapacity);
    const auto a = Pattern(10000, 1), b = Pattern(9000, 2);
    ASSERT_TRUE(ring.Put(a.data(), 10000));
    EXPECT_EQ(ring.Take(out.data(), 8000), 8000u);
    ASSERT_TRUE(ring.Put(b.data(), 9000));  // wraps past the end
    EXPECT_EQ(ring.Used(), 11000u);
    EXPECT_EQ(ring.Take(out.data(), 20000), 11000u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 2000), std::vector<uint8_t>(a.begin() + 8000, a.end()));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 2000, out.begin() + 11000), b);
    EXPECT_EQ(ring.Used(), 0u);
    EXPECT_EQ(ring.Take(out.data(), 10), 0u);
}

TEST(NetTxRingTest, FullAndFetchRules)
{
    const struct {
        uint32_t used;
        uint32_t put;
        bool fits;
        bool fetch;
    } cases[] = {
        {0, 4096, true, true},
        {12095, 4096, true, true},   // 4097 free
        {12096, 4096, false, false}, // 4096 free: not more than a fetch, no fetch
        {12096, 4095, true, false},
        {16190, 1, true, false},     // the last byte that may be used
        {16191, 1, false, false},
        {0, 16191, true, true},
        {0, 16192, false, true},
    };
    std::vector<uint8_t> bytes(NetTxRing::kCapacity, 0x5A);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.used << " used, put " << c.put);
        static NetTxRing ring;
        ring.Clear();
        ASSERT_TRUE(c.used == 0 || ring.Put(bytes.data(), c.used));
        EXPECT_EQ(ring.ShouldFetch(), c.fetch);
        EXPECT_EQ(ring.Put(bytes.data(), c.put), c.fits);
        // A put that does not fit keeps what was queued.
        EXPECT_EQ(ring.Used(), c.fits ? c.used + c.put : c.used);
    }
}

TEST(ChunkTableTest, ChunkSizeAndSendBufferByBaudIndex)
{
    const uint32_t chunks[pta::kBaudCount] = {32, 32, 32, 32, 32, 64, 64, 128, 256, 256, 512, 512, 2048, 2048};
    for (uint32_t i = 0; i < pta::kBaudCount; ++i) {
        EXPECT_EQ(ChunkSize(i), chunks[i]) << i;
        EXPECT_EQ(SendBufferSize(i), std::max(chunks[i], 256u)) << i;
    }
    // An index outside the table counts as 9600 baud.
    EXPECT_EQ(ChunkSize(14), 64u);
    EXPECT_EQ(ChunkSize(0xFFFFFFFF), 64u);
}

TEST(ChunkTableTest, QueuedBytesLeaveInChunks)
{
    const struct {
        uint32_t baudIndex;
        uint32_t queued;
        std::vector<uint32_t> sends;  // {size, count} pairs
    } cases[] = {
        {6, 1000, {64, 15, 40, 1}},
        {0, 100, {32, 3, 4, 1}},
        {10, 1024, {512, 2}},
        {13, 5000, {2048, 2, 904, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baudIndex);
        static NetTxRing ring;
        ring.Clear();
        const auto in = Pattern(c.queued, 3);
        ASSERT_TRUE(ring.Put(in.data(), c.queued));
        std::vector<uint32_t> sends;
        std::vector<uint8_t> out, chunk(2048);
        for (uint32_t n; (n = ring.TakeChunk(chunk.data(), c.baudIndex)) != 0;) {
            if (!sends.empty() && sends[sends.size() - 2] == n) ++sends.back();
            else sends.insert(sends.end(), {n, 1});
            out.insert(out.end(), chunk.begin(), chunk.begin() + n);
        }
        EXPECT_EQ(sends, c.sends);
        EXPECT_EQ(out, in);
    }
}

TEST(ProtocolRulesTest, SettingsAndBaudChangesByProtocol)
{
    const struct {
        uint32_t protocol;
        uint32_t baudIndex;
        bool accepted, announce;
        uint32_t sendBuffer;
        size_t settingsMessages;
        bool keyExchange;
    } cases[] = {
        {pta::ProtocolCom, 10, true, true, 512, 3, false},
        {pta::ProtocolCom, 6, true, true, 256, 3, false},
        {pta::ProtocolEncryption, 12, true, true, 2048, 3, true},
        {pta::ProtocolRaw, 10, false, false, 512, 0, false},
        {pta::ProtocolRaw, 6, true, false, 256, 0, false},
        {7, 0, true, true, 256, 3, false},  // unknown codes behave as "COM"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "protocol " << c.protocol << " index " << c.baudIndex);
        const BaudChange change = DecideBaudChange(c.protocol, c.baudIndex);
        EXPECT_EQ(change.accepted, c.accepted);
        EXPECT_EQ(change.announce, c.announce);
        if (change.accepted) {
            EXPECT_EQ(change.sendBuffer, c.sendBuffer);
        }
        InbandMessage out[3];
        ASSERT_EQ(CurrentSettingsMessages(c.protocol, 6, 0x03, 0x01, out), c.settingsMessages);
        if (c.settingsMessages == 3) {
            EXPECT_EQ(Hex(out[0].bytes, 5), "7F FE 53 06 F7");
            EXPECT_EQ(Hex(out[1].bytes, 5), "7F FE 4C 03 F7");
            EXPECT_EQ(Hex(out[2].bytes, 5), "7F FE 4D 01 F7");
        }
        EXPECT_EQ(RulesOf(c.protocol).keyExchange, c.keyExchange);
    }
}
