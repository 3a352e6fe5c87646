#pragma once
// Just enough JSON for the simulator's dump and preload files: a value tree and a strict,
// depth-limited parser that reports the first fault instead of throwing.

#include <cstdint>
#include <string>
#include <vector>

namespace radio {

struct JsonMember;

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;     // Array
    std::vector<JsonMember> members;  // Object, in file order

    // Member of an object by key; nullptr when absent or not an object.
    const JsonValue* Find(const std::string& key) const;
};

// false with a description in error when text is not one well-formed JSON value.
struct JsonMember {
    std::string key;
    JsonValue value;
};

bool ParseJson(const std::string& text, JsonValue& value, std::string& error);

// Text as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& text);

}  // namespace radio
