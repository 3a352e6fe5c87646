#include "platform/HexText.h"

#include <gtest/gtest.h>

using platform::HexCase;
using platform::HexNumberRules;

TEST(HexText, DigitValues) {
    const std::string digits = "0123456789abcdefABCDEF";
    const int values[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                          11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
    for (size_t i = 0; i < digits.size(); ++i)
        EXPECT_EQ(platform::HexDigitValue(digits[i]), values[i]) << digits[i];
    for (char c : std::string("gG@`/:x \xC1"))
        EXPECT_EQ(platform::HexDigitValue(c), -1) << int(c);
}

TEST(HexText, BytesToTextAndBack) {
    const std::vector<uint8_t> bytes = {0x00, 0x1F, 0xA0, 0xFF};
    EXPECT_EQ(platform::HexText(bytes), "001FA0FF");
    EXPECT_EQ(platform::HexText(bytes, HexCase::Lower), "001fa0ff");
    std::string s = "x";
    platform::AppendHex(s, bytes.data(), 2, HexCase::Lower);
    EXPECT_EQ(s, "x001f");
    char buf[8] = {};
    EXPECT_EQ(platform::PutHexDigits(buf, 0x12ABCu, 6), buf + 6);
    EXPECT_EQ(std::string(buf, 6), "012ABC");

    std::vector<uint8_t> out = {9};
    EXPECT_TRUE(platform::HexToBytes("001fA0Ff", out));
    EXPECT_EQ(out, (std::vector<uint8_t>{9, 0x00, 0x1F, 0xA0, 0xFF}));
    for (const char* bad : {"1", "1g", "g1", " 1", "+1", "-1", "0x12"}) {
        std::vector<uint8_t> kept = {9};
        EXPECT_FALSE(platform::HexToBytes(bad, kept)) << bad;
        EXPECT_EQ(kept, std::vector<uint8_t>{9}) << bad;
    }
}

TEST(HexText, NumbersUnderEachRule) {
    const HexNumberRules strict{};
    const HexNumberRules noPrefix{.prefix = false};
    const HexNumberRules field{.leadingSpaceAndSign = true, .emptyIsZero = true, .saturate = true};
    struct Case {
        const char* text;
        HexNumberRules rules;
        bool ok;
        uint32_t value;
    };
    const Case cases[] = {
        {"1f00", strict, true, 0x1F00},
        {"0X1F00", strict, true, 0x1F00},
        {"FFFFFFFF", strict, true, 0xFFFFFFFF},
        {"100000000", strict, false, 0},
        {"", strict, false, 0},
        {"0x", strict, false, 0},
        {" 1", strict, false, 0},
        {"-1", strict, false, 0},
        {"1g", strict, false, 0},
        {"0x10", noPrefix, false, 0},
        {"010", noPrefix, true, 0x10},
        {"", field, true, 0},
        {"0x", field, true, 0},
        {" 0x1F00", field, true, 0x1F00},
        {"\t+a", field, true, 0xA},
        {"-1", field, true, 0xFFFFFFFF},
        {"123456789", field, true, 0xFFFFFFFF},
        {"1234567890", field, true, 0xFFFFFFFF},
        {"1G", field, false, 0},
        {"1 ", field, false, 0},
    };
    for (const Case& c : cases) {
        uint32_t v = 7;
        EXPECT_EQ(platform::ParseHexNumber(c.text, v, c.rules), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(v, c.ok ? c.value : 7u) << '"' << c.text << '"';
    }
}
