#pragma once
// Hexadecimal text: digits to numbers and bytes, and numbers and bytes to digits. Every reader
// and writer of hex text in the workbench comes here; where readers accept different texts
// (a "0x" prefix, white space, a sign, no digits at all), the difference is a rule they pass.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class HexCase { Upper, Lower };

// The value of one hexadecimal digit of either case, or -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    const char lower = static_cast<char>(c | 0x20);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// Writes the low `digits` hexadecimal digits of v at p, most significant first, and returns
// the position after them (no terminator). Inline: the S-Record writer calls it per byte.
inline char* PutHexDigits(char* p, uint32_t v, int digits, HexCase letters = HexCase::Upper) {
    const char* d = letters == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
    for (int i = digits - 1; i >= 0; --i)
        *p++ = d[(v >> (4 * i)) & 0xF];
    return p;
}

// Two digits a byte, appended.
void AppendHex(std::string& out, const uint8_t* data, size_t n, HexCase letters = HexCase::Upper);
std::string HexText(const uint8_t* data, size_t n, HexCase letters = HexCase::Upper);
inline std::string HexText(const std::vector<uint8_t>& data, HexCase letters = HexCase::Upper) {
    return HexText(data.data(), data.size(), letters);
}

// Pairs of digits to bytes, nothing else between or around them. False on an odd count or a
// character that is not a digit; `out` is then left as it was.
bool HexToBytes(std::string_view text, std::vector<uint8_t>& out);

// What a reader of a hex number accepts besides the digits.
struct HexNumberRules {
    bool prefix = true;                // an optional "0x" or "0X" before the digits
    bool leadingSpaceAndSign = false;  // white space, then + or - (a minus wraps modulo 2^32)
    bool emptyIsZero = false;          // no digits at all reads as 0 instead of failing
    bool saturate = false;             // past 32 bits reads as 0xFFFFFFFF instead of failing
};

// Hex text to a 32-bit number under `rules`; `value` is set only on success.
bool ParseHexNumber(std::string_view text, uint32_t& value, HexNumberRules rules = {});

}  // namespace platform
