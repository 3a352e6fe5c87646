// The JSON layer's own rules: the reader's limits and choices, and the writer's lines.

#include <gtest/gtest.h>

#include "platform/JsonText.h"

using platform::Json;

namespace {

std::string Nested(size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

}  // namespace

TEST(JsonText, ReaderAcceptsWhatItShouldAndKeepsTheFirstOfRepeatedKeys) {
    Json v;
    std::string error;
    ASSERT_TRUE(
        platform::ParseJsonText(" {\"a\": 1, \"a\": {\"b\": [2]}, \"c\": true}\n", v, error))
        << error;
    EXPECT_EQ(v["a"], 1);
    EXPECT_EQ(v["c"], true);
    EXPECT_EQ(v.size(), 2u);
    ASSERT_TRUE(platform::ParseJsonText(Nested(65), v, error)) << error;
}

TEST(JsonText, ReaderRefusals) {
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {Nested(66), "nested too deeply at offset 65"},
        {"{\"memories\": [], \"x\": " + Nested(70) + "}", "nested too deeply at offset 86"},
        {"{\"a\": [" + std::string(63, '[') + "1" + std::string(63, ']') + "]}",
         "nested too deeply at offset 70"},
        {std::string("{\"a\": 1}\0{", 10), "text after the value at offset 8"},
        {std::string("{\"a\": \0}", 8), "unexpected character at offset 6"},
        {"{\"a\": \"\xFF\"}", "bad UTF-8 in string at offset 8"},
        {"{\"a\"", "expected : at offset 4"},
        {"{\"a\": 1", "unterminated object at offset 7"},
        {"[1", "unterminated array at offset 2"},
        {"[1, ", "unexpected end at offset 4"},
        {"{\"a\": +1}", "unexpected character at offset 6"},
    };
    for (const auto& c : cases) {
        Json v = 5;
        std::string error;
        EXPECT_FALSE(platform::ParseJsonText(c.text, v, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_TRUE(v.is_null()) << c.text;
    }
}

TEST(JsonText, WriterLinesAndEscapes) {
    const Json doc = {{"list", {1, 2}},
                      {"inner", {{"list", Json::array()}, {"s", "q\"b\\c\x01\x7F\xE9"}}},
                      {"empty", Json::object()},
                      {"rows", {{{"list", {true}}}, nullptr}}};
    EXPECT_EQ(
        platform::JsonText(doc),
        "{\"list\": [1, 2], \"inner\": {\"list\": [], \"s\": \"q\\\"b\\\\c\\u0001\x7F\\u00E9\"}, "
        "\"empty\": {}, \"rows\": [{\"list\": [true]}, null]}");
    EXPECT_EQ(platform::JsonText(doc, {true, {"list", "rows"}}),
              "{\n"
              "  \"list\": [\n"
              "    1,\n"
              "    2\n"
              "  ],\n"
              "  \"inner\": {\"list\": [], \"s\": \"q\\\"b\\\\c\\u0001\x7F\\u00E9\"},\n"
              "  \"empty\": {},\n"
              "  \"rows\": [\n"
              "    {\"list\": [\n"
              "      true\n"
              "    ]},\n"
              "    null\n"
              "  ]\n"
              "}");
}
