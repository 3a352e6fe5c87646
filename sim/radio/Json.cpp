#include "sim/radio/Json.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace radio {
namespace {

class Parser {
  public:
    explicit Parser(const std::string& text) : s_(text) {}

    bool Document(JsonValue& v, std::string& error) {
        bool ok = Value(v, 0);
        Space();
        if (ok && pos_ != s_.size())
            ok = Fail("text after the value");
        if (!ok)
            error = error_ + " at offset " + std::to_string(pos_);
        return ok;
    }

  private:
    static constexpr int kMaxDepth = 64;

    bool Fail(const char* why) {
        if (error_.empty())
            error_ = why;
        return false;
    }
    void Space() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t'))
            ++pos_;
    }
    bool Literal(const char* word) {
        for (size_t i = 0; word[i]; ++i)
            if (pos_ + i >= s_.size() || s_[pos_ + i] != word[i])
                return Fail("unknown literal");
        while (*word++)
            ++pos_;
        return true;
    }

    bool Value(JsonValue& v, int depth) {
        if (depth > kMaxDepth)
            return Fail("nested too deeply");
        Space();
        if (pos_ >= s_.size())
            return Fail("unexpected end");
        const char c = s_[pos_];
        if (c == '{')
            return Object(v, depth);
        if (c == '[')
            return Array(v, depth);
        if (c == '"') {
            v.type = JsonValue::Type::String;
            return String(v.text);
        }
        if (c == 't' || c == 'f') {
            v.type = JsonValue::Type::Bool;
            v.boolean = c == 't';
            return Literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            v.type = JsonValue::Type::Null;
            return Literal("null");
        }
        return Number(v);
    }

    bool Number(JsonValue& v) {
        const size_t start = pos_;
        if (pos_ < s_.size() && s_[pos_] == '-')
            ++pos_;
        while (pos_ < s_.size() &&
               (isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.' ||
                s_[pos_] == 'e' || s_[pos_] == 'E' || s_[pos_] == '+' || s_[pos_] == '-'))
            ++pos_;
        if (pos_ == start)
            return Fail("unexpected character");
        const std::string digits = s_.substr(start, pos_ - start);
        char* end = nullptr;
        v.type = JsonValue::Type::Number;
        v.number = std::strtod(digits.c_str(), &end);
        return *end == '\0' || Fail("bad number");
    }

    bool String(std::string& out) {
        ++pos_;  // opening quote
        out.clear();
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return Fail("control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                break;
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    if (pos_ + 4 > s_.size())
                        return Fail("short escape");
                    unsigned code = 0;
                    for (int i = 0; i < 4; ++i) {
                        const char h = s_[pos_++];
                        code <<= 4;
                        if (h >= '0' && h <= '9')
                            code |= unsigned(h - '0');
                        else if (h >= 'a' && h <= 'f')
                            code |= unsigned(h - 'a' + 10);
                        else if (h >= 'A' && h <= 'F')
                            code |= unsigned(h - 'A' + 10);
                        else
                            return Fail("bad escape");
                    }
                    // Our files carry ASCII only; anything wider is kept as a placeholder.
                    out += code < 0x80 ? static_cast<char>(code) : '?';
                    break;
                }
                default:
                    return Fail("bad escape");
            }
        }
        return Fail("unterminated string");
    }

    bool Array(JsonValue& v, int depth) {
        ++pos_;
        v.type = JsonValue::Type::Array;
        Space();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            v.items.emplace_back();
            if (!Value(v.items.back(), depth + 1))
                return false;
            Space();
            if (pos_ >= s_.size())
                return Fail("unterminated array");
            const char c = s_[pos_++];
            if (c == ']')
                return true;
            if (c != ',')
                return Fail("expected , or ]");
        }
    }

    bool Object(JsonValue& v, int depth) {
        ++pos_;
        v.type = JsonValue::Type::Object;
        Space();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            Space();
            if (pos_ >= s_.size() || s_[pos_] != '"')
                return Fail("expected a key");
            std::string key;
            if (!String(key))
                return false;
            Space();
            if (pos_ >= s_.size() || s_[pos_++] != ':')
                return Fail("expected :");
            v.members.push_back({std::move(key), JsonValue{}});
            if (!Value(v.members.back().value, depth + 1))
                return false;
            Space();
            if (pos_ >= s_.size())
                return Fail("unterminated object");
            const char c = s_[pos_++];
            if (c == '}')
                return true;
            if (c != ',')
                return Fail("expected , or }");
        }
    }

    const std::string& s_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

const JsonValue* JsonValue::Find(const std::string& key) const {
    if (type != Type::Object)
        return nullptr;
    for (const JsonMember& m : members)
        if (m.key == key)
            return &m.value;
    return nullptr;
}

bool ParseJson(const std::string& text, JsonValue& value, std::string& error) {
    value = JsonValue{};
    return Parser(text).Document(value, error);
}

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace radio
