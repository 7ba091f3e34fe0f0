// IPv4 text and the digits of the port grid's state words.
#include <gtest/gtest.h>

#include "conversions.h"

using namespace pta;

TEST(IpText, ValuesAndTextRoundTrip)
{
    const struct {
        uint32_t value;
        const char* text;
    } cases[] = {
        {0x0A000001, "10.0.0.1"},
        {0xC0A80001, "192.168.0.1"},
        {0x00000000, "0.0.0.0"},
        {0xFFFFFFFF, "255.255.255.255"},
        {0x7F000001, "127.0.0.1"},
        {0x01020304, "1.2.3.4"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, IpToText(c.value));
        EXPECT_EQ(c.value, TextToIp(c.text)) << c.text;
    }
}

TEST(IpText, DecimalPartsWithLeadingZerosAreRead)
{
    EXPECT_EQ(0x0A000001u, TextToIp("010.000.0.001"));
    EXPECT_EQ(0xFF000000u, TextToIp("0255.0.0.0"));
}

TEST(IpText, MalformedTextHasNoValue)
{
    const char* cases[] = {
        "",          "10.0.0",       "10.0.0.1.5", "10..0.1",  ".10.0.0.1", "10.0.0.1.",
        "10.0.0.256", "300.1.1.1",   "1.2.3.99999999999", "10.0.0.x", "10.0.0.-1", "+1.2.3.4",
        " 1.2.3.4",  "1.2.3.4 ",     "1,2,3,4",    "a.b.c.d",
    };
    for (const char* text : cases) EXPECT_FALSE(TextToIp(text).has_value()) << '"' << text << '"';
}

TEST(DecimalDigits, GetReadsZeroPaddedPositions)
{
    const struct {
        uint32_t value, position, digit;
    } cases[] = {
        {15, 6, 1},       {15, 7, 5},       {15, 0, 0},       {12345678, 0, 1},
        {12345678, 7, 8}, {90000000, 0, 9}, {0, 3, 0},        {15, 8, 0},
        {15, 100, 0},     {123456789, 0, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.digit, GetDecimalDigit(c.value, c.position)) << c.value << " @" << c.position;
}

TEST(DecimalDigits, SetReplacesOneDigit)
{
    const struct {
        uint32_t value, position, digit, result;
    } cases[] = {
        {12, 7, 5, 15},
        {12, 0, 5, 50000012},  // the digit goes in front of seven more digits
        {50000012, 0, 0, 12},
        {12345678, 3, 9, 12395678},
        {0, 7, 0, 0},
        {15, 8, 3, 15},              // no such position
        {15, 7, 10, 15},             // not a digit
        {123456789, 0, 9, 193456789},  // digits above the word are kept
        {4294967295u, 1, 9, 4294967295u},  // would not fit in 32 bits
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, SetDecimalDigit(c.value, c.position, c.digit))
            << c.value << " @" << c.position << " = " << c.digit;
}

TEST(DecimalDigits, SetThenGetEveryPosition)
{
    for (uint32_t position = 0; position < kWordDigits; ++position) {
        for (uint32_t digit = 0; digit <= 9; ++digit) {
            const uint32_t word = SetDecimalDigit(31415926, position, digit);
            EXPECT_EQ(digit, GetDecimalDigit(word, position));
            for (uint32_t other = 0; other < kWordDigits; ++other) {
                if (other != position) {
                    EXPECT_EQ(GetDecimalDigit(31415926, other), GetDecimalDigit(word, other));
                }
            }
        }
    }
}
