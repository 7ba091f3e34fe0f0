// The small conversions of the settings pages and the port grid: IPv4 values to and from
// dotted text, and single decimal digits of an eight-digit state word.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <string_view>

namespace pta {

// "a.b.c.d" of an IPv4 value whose most significant byte is the first octet.
std::string IpToText(uint32_t value);

// The value of dotted text: exactly four parts of decimal digits, each 0..255. Anything
// else (missing or extra parts, empty parts, signs, spaces, octets above 255) has no
// value, so that a mistyped address is never stored as some other address.
std::optional<uint32_t> TextToIp(std::string_view text);

// A state word is a decimal number read as eight zero-padded digits, position 0 leftmost
// (the 10^7 digit). Digits above the eighth are not part of the word and are kept.
constexpr uint32_t kWordDigits = 8;

// The digit at a position 0..7; 0 for any other position.
uint32_t GetDecimalDigit(uint32_t value, uint32_t position);

// The value with the digit at a position 0..7 replaced by a digit 0..9. An invalid position
// or digit, or a result beyond 32 bits, leaves the value as it is.
uint32_t SetDecimalDigit(uint32_t value, uint32_t position, uint32_t digit);

}  // namespace pta
