// The soak's record stream: what the checker makes of a stream with records lost,
// repeated, reordered, cut or left over from an earlier session.
#include <gtest/gtest.h>

#include <vector>

#include "soak_stream.h"

using namespace soak;

namespace {

std::vector<uint8_t> Records(uint32_t session, std::vector<uint32_t> sequences)
{
    std::vector<uint8_t> out;
    for (uint32_t s : sequences) {
        uint8_t r[kRecordSize];
        MakeRecord(session, s, r);
        out.insert(out.end(), r, r + kRecordSize);
    }
    return out;
}

}  // namespace

TEST(SoakStream, NoByteEndsAnInbandStart)
{
    for (uint32_t s : {0u, 1u, 4095u, kMaxSequence - 1}) {
        for (uint8_t b : Records(63, {s})) EXPECT_LT(b, 0x7F);
    }
}

TEST(SoakStream, CheckerTellsTheFaultsApart)
{
    struct Row {
        const char* what;
        std::vector<uint8_t> stream;
        uint64_t records, lost, gaps, disorders, garbled, stale;
    };
    std::vector<uint8_t> cut = Records(2, {0, 1, 2});
    cut.erase(cut.begin() + 20, cut.begin() + 24);  // four bytes of record 1 missing
    std::vector<uint8_t> flipped = Records(2, {0, 1});
    flipped[20] ^= 1;
    std::vector<uint8_t> mixed = Records(1, {7});
    const std::vector<uint8_t> current = Records(2, {0, 1});
    mixed.insert(mixed.end(), current.begin(), current.end());
    const Row rows[] = {
        {"whole and in order", Records(2, {0, 1, 2, 3}), 4, 0, 0, 0, 0, 0},
        {"two runs lost", Records(2, {0, 3, 4, 9}), 4, 6, 2, 0, 0, 0},
        {"repeated", Records(2, {0, 1, 1, 2}), 3, 0, 0, 1, 0, 0},
        {"reordered", Records(2, {0, 2, 1, 3}), 3, 1, 1, 1, 0, 0},
        {"bytes cut out of one", cut, 2, 1, 1, 0, 12, 0},
        {"one byte changed", flipped, 1, 0, 0, 0, 16, 0},
        {"an earlier session's record first", mixed, 2, 0, 0, 0, 0, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Checker c(2);
        c.Feed(r.stream.data(), r.stream.size());
        EXPECT_EQ(c.records(), r.records);
        EXPECT_EQ(c.lost(), r.lost);
        EXPECT_EQ(c.gaps(), r.gaps);
        EXPECT_EQ(c.disorders(), r.disorders);
        EXPECT_EQ(c.garbled(), r.garbled);
        EXPECT_EQ(c.stale(), r.stale);
    }
}

TEST(SoakStream, RecordsSplitAcrossFeedsAreFound)
{
    const std::vector<uint8_t> stream = Records(5, {0, 1, 2, 3, 4, 5, 6});
    Checker c(5);
    for (size_t at = 0; at < stream.size(); at += 3) c.Feed(&stream[at], std::min<size_t>(3, stream.size() - at));
    EXPECT_EQ(c.records(), 7u);
    EXPECT_EQ(c.next(), 7u);
    EXPECT_EQ(c.garbled(), 0u);
}
