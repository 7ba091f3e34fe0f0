// The COM port database's bitmap: claims, releases, enlarging, and which stored bitmaps
// can be used.
#include <gtest/gtest.h>

#include "com_db_core.h"

using namespace pta;

namespace {

ComDbBitmap Empty(uint32_t ports) { return ComDbBitmap(ports / 8, 0); }

TEST(ComDbLayout, EachNumberIsOneBitLowFirst)
{
    struct Case {
        uint32_t com;
        size_t byte;
        uint8_t mask;
    };
    const Case cases[] = {{1, 0, 0x01}, {2, 0, 0x02}, {8, 0, 0x80}, {9, 1, 0x01},
                          {256, 31, 0x80}, {257, 32, 0x01}, {1024, 127, 0x80}};
    for (const Case& c : cases) {
        ComDbBitmap bitmap = Empty(1024);
        ASSERT_EQ(ComDbResult::Ok, ComDbClaim(bitmap, c.com, false, nullptr)) << c.com;
        for (size_t i = 0; i < bitmap.size(); ++i)
            EXPECT_EQ(i == c.byte ? c.mask : 0, bitmap[i]) << "COM" << c.com << " byte " << i;
        EXPECT_TRUE(ComDbInUse(bitmap, c.com));
        EXPECT_EQ(ComDbResult::Ok, ComDbRelease(bitmap, c.com));
        EXPECT_EQ(Empty(1024), bitmap) << c.com;
    }
}

TEST(ComDbClaims, OutcomesAndForcing)
{
    struct Case {
        const char* what;
        uint32_t com;
        bool taken;
        bool force;
        ComDbResult result;
        bool forced;
        bool inUseAfter;
    };
    const Case cases[] = {
        {"free", 5, false, false, ComDbResult::Ok, false, true},
        {"taken", 5, true, false, ComDbResult::SharingViolation, false, true},
        {"taken, forced", 5, true, true, ComDbResult::Ok, true, true},
        {"free, forced", 5, false, true, ComDbResult::Ok, false, true},
        {"zero", 0, false, false, ComDbResult::InvalidParameter, false, false},
        {"last", 256, false, false, ComDbResult::Ok, false, true},
        {"past the end", 257, false, false, ComDbResult::InvalidParameter, false, false},
        {"past the end, forced", 257, false, true, ComDbResult::InvalidParameter, false, false},
    };
    for (const Case& c : cases) {
        ComDbBitmap bitmap = Empty(256);
        if (c.taken) {
            ASSERT_EQ(ComDbResult::Ok, ComDbClaim(bitmap, c.com, false, nullptr));
        }
        bool forced = !c.forced;
        EXPECT_EQ(c.result, ComDbClaim(bitmap, c.com, c.force, &forced)) << c.what;
        EXPECT_EQ(c.forced, forced) << c.what;
        EXPECT_EQ(c.inUseAfter, ComDbInUse(bitmap, c.com)) << c.what;
        EXPECT_EQ(256u, ComDbPorts(bitmap)) << c.what;
    }
}

TEST(ComDbClaims, ReleaseTouchesOnlyItsNumber)
{
    ComDbBitmap bitmap = Empty(256);
    for (uint32_t com : {3u, 4u, 5u}) ASSERT_EQ(ComDbResult::Ok, ComDbClaim(bitmap, com, false, nullptr));
    EXPECT_EQ(ComDbResult::Ok, ComDbRelease(bitmap, 4));
    EXPECT_TRUE(ComDbInUse(bitmap, 3));
    EXPECT_FALSE(ComDbInUse(bitmap, 4));
    EXPECT_TRUE(ComDbInUse(bitmap, 5));
    EXPECT_EQ(ComDbResult::Ok, ComDbRelease(bitmap, 4)) << "freeing a free number";
    const ComDbBitmap before = bitmap;
    EXPECT_EQ(ComDbResult::InvalidParameter, ComDbRelease(bitmap, 0));
    EXPECT_EQ(ComDbResult::InvalidParameter, ComDbRelease(bitmap, 257));
    EXPECT_EQ(before, bitmap);
    EXPECT_FALSE(ComDbInUse(bitmap, 0));
    EXPECT_FALSE(ComDbInUse(bitmap, 300));
}

TEST(ComDbResize, SizesAndOutcomes)
{
    struct Case {
        uint32_t from;
        uint32_t to;
        ComDbResult result;
    };
    const Case cases[] = {
        {256, 1024, ComDbResult::Ok},
        {256, 4096, ComDbResult::Ok},
        {1024, 2048, ComDbResult::Ok},
        {1024, 1024, ComDbResult::BadLength},
        {2048, 1024, ComDbResult::BadLength},
        {256, 5120, ComDbResult::BadLength},
        {256, 512, ComDbResult::InvalidParameter},
        {256, 1000, ComDbResult::InvalidParameter},
        {4096, 4096, ComDbResult::BadLength},
    };
    for (const Case& c : cases) {
        ComDbBitmap bitmap = Empty(c.from);
        ASSERT_EQ(ComDbResult::Ok, ComDbClaim(bitmap, 1, false, nullptr));
        ASSERT_EQ(ComDbResult::Ok, ComDbClaim(bitmap, c.from, false, nullptr));
        EXPECT_EQ(c.result, ComDbResize(bitmap, c.to)) << c.from << " -> " << c.to;
        const uint32_t size = c.result == ComDbResult::Ok ? c.to : c.from;
        EXPECT_EQ(size, ComDbPorts(bitmap)) << c.from << " -> " << c.to;
        EXPECT_EQ(size / 8, ComDbBytes(bitmap));
        EXPECT_TRUE(ComDbInUse(bitmap, 1)) << "claims survive";
        EXPECT_TRUE(ComDbInUse(bitmap, c.from)) << "claims survive";
        for (uint32_t com = c.from + 1; com <= size; ++com) ASSERT_FALSE(ComDbInUse(bitmap, com)) << com;
    }
}

TEST(ComDbStored, UsableSizes)
{
    struct Case {
        size_t bytes;
        bool usable;
    };
    const Case cases[] = {{0, false}, {1, true}, {32, true}, {128, true}, {512, true}, {513, false}, {4096, false}};
    for (const Case& c : cases) EXPECT_EQ(c.usable, ComDbBitmapUsable(c.bytes)) << c.bytes;
}

}  // namespace
