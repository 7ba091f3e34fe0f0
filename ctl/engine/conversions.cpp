#include "conversions.h"

#include <stdio.h>

namespace pta {

std::string IpToText(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "%u.%u.%u.%u", (value >> 24) & 0xFF, (value >> 16) & 0xFF,
             (value >> 8) & 0xFF, value & 0xFF);
    return text;
}

std::optional<uint32_t> TextToIp(std::string_view text)
{
    uint32_t value = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        const size_t start = pos;
        uint32_t octet = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            octet = octet * 10 + static_cast<uint32_t>(text[pos] - '0');
            if (octet > 255) return std::nullopt;
            ++pos;
        }
        if (pos == start) return std::nullopt;
        value = (value << 8) | octet;
    }
    if (pos != text.size()) return std::nullopt;
    return value;
}

namespace {

// 10^(7 - position): the place of a word digit.
constexpr uint32_t kPlace[kWordDigits] = {10000000, 1000000, 100000, 10000, 1000, 100, 10, 1};

}  // namespace

uint32_t GetDecimalDigit(uint32_t value, uint32_t position)
{
    if (position >= kWordDigits) return 0;
    return value / kPlace[position] % 10;
}

uint32_t SetDecimalDigit(uint32_t value, uint32_t position, uint32_t digit)
{
    if (position >= kWordDigits || digit > 9) return value;
    const uint64_t place = kPlace[position];
    const uint64_t result = value - GetDecimalDigit(value, position) * place + digit * place;
    return result > UINT32_MAX ? value : static_cast<uint32_t>(result);
}

}  // namespace pta
