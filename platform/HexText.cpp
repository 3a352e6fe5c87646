#include "platform/HexText.h"

#include <cctype>

namespace platform {

namespace {
const char* Digits(HexCase letters) {
    return letters == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
}
}  // namespace

void AppendHex(std::string& out, const uint8_t* data, size_t n, HexCase letters) {
    const char* d = Digits(letters);
    out.reserve(out.size() + 2 * n);
    for (size_t i = 0; i < n; ++i) {
        out += d[data[i] >> 4];
        out += d[data[i] & 0xF];
    }
}

std::string HexText(const uint8_t* data, size_t n, HexCase letters) {
    std::string s;
    AppendHex(s, data, n, letters);
    return s;
}

bool HexToBytes(std::string_view text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0)
        return false;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigitValue(text[i]);
        const int lo = HexDigitValue(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

bool ParseHexNumber(std::string_view text, uint32_t& value, HexNumberRules rules) {
    size_t i = 0;
    bool negative = false;
    if (rules.leadingSpaceAndSign) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negative = text[i++] == '-';
    }
    if (rules.prefix && i + 1 < text.size() && text[i] == '0' &&
        (text[i + 1] == 'x' || text[i + 1] == 'X'))
        i += 2;
    if (i == text.size() && !rules.emptyIsZero)
        return false;
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        const int d = HexDigitValue(text[i]);
        if (d < 0)
            return false;
        v = v * 16 + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFull) {
            if (!rules.saturate)
                return false;
            v = 0x100000000ull;  // stays past 32 bits whatever follows
        }
    }
    if (v > 0xFFFFFFFFull)
        v = 0xFFFFFFFFull;
    value = static_cast<uint32_t>(negative ? (0x100000000ull - v) & 0xFFFFFFFFull : v);
    return true;
}

}  // namespace platform
