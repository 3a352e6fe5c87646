#pragma once
// JSON documents as the tools write and read them, over nlohmann's value tree.
//
// Writing: on one line with a space after each ':' and ',' ({"a": 1, "b": [2, 3]}), or, for
// files a person reads, with the members of the top object and the elements of chosen arrays
// on lines of their own, two spaces deeper per such level. Strings are written byte by byte:
// '"' and '\' escaped, control characters and bytes above 0x7F as \u00XX, so that text of
// unknown encoding (an S-Record header) still makes a valid document.
//
// Reading: strict JSON, nested at most 64 deep, the first of repeated keys kept; a fault is
// described in a few words with the offset where reading stopped, and nothing is thrown.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace platform {

using Json = nlohmann::ordered_json;

struct JsonLayout {
    bool topObjectLined = false;           // each member of the top object on a line
    std::vector<std::string> linedArrays;  // arrays under these keys: each element on a line
};

// The document's text, without a final newline.
std::string JsonText(const Json& value, const JsonLayout& layout = {});

// false with a description in error when text is not one well-formed JSON value.
bool ParseJsonText(const std::string& text, Json& value, std::string& error);

}  // namespace platform
