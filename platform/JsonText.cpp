#include "platform/JsonText.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace platform {
namespace {

constexpr size_t kMaxDepth = 64;

void Quote(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b > 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", b);
            out += buf;
        } else {
            out += c;
        }
    }
    out += '"';
}

bool Lined(const JsonLayout& layout, const std::string& key, const Json& value) {
    return value.is_array() && std::find(layout.linedArrays.begin(), layout.linedArrays.end(),
                                         key) != layout.linedArrays.end();
}

// level: how many lined containers enclose value.
void Write(std::string& out, const Json& value, const JsonLayout& layout, bool lined, int level) {
    if (value.is_string()) {
        Quote(out, value.get_ref<const std::string&>());
        return;
    }
    if (!value.is_structured()) {
        out += value.dump();
        return;
    }
    const bool object = value.is_object();
    out += object ? '{' : '[';
    const int inner = lined ? level + 1 : level;
    bool first = true;
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (!first)
            out += ',';
        if (lined) {
            out += '\n';
            out.append(2 * static_cast<size_t>(inner), ' ');
        } else if (!first) {
            out += ' ';
        }
        first = false;
        bool childLined = false;
        if (object) {
            Quote(out, it.key());
            out += ": ";
            childLined = Lined(layout, it.key(), it.value());
        }
        Write(out, it.value(), layout, childLined, inner);
    }
    if (lined && !first) {
        out += '\n';
        out.append(2 * static_cast<size_t>(level), ' ');
    }
    out += object ? '}' : ']';
}

// Builds the tree from nlohmann's reader, refusing deep nesting and keeping the first of
// repeated keys.
class Builder : public nlohmann::json_sax<Json> {
  public:
    explicit Builder(Json& root) : root_(root) {}

    bool null() override { return Put(nullptr); }
    bool boolean(bool v) override { return Put(v); }
    bool number_integer(number_integer_t v) override { return Put(v); }
    bool number_unsigned(number_unsigned_t v) override { return Put(v); }
    bool number_float(number_float_t v, const string_t&) override { return Put(v); }
    bool string(string_t& v) override { return Put(std::move(v)); }
    bool binary(binary_t&) override { return false; }  // text never has any
    bool start_object(std::size_t) override { return Open(Json::object()); }
    bool start_array(std::size_t) override { return Open(Json::array()); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t& k) override {
        if (skipFrom_ == 0 && open_.back()->contains(k))
            skipNext_ = true;
        key_ = std::move(k);
        return true;
    }
    bool parse_error(std::size_t at, const std::string&,
                     const nlohmann::json::exception& e) override {
        position = at;
        what = e.what();
        return false;
    }

    bool tooDeep = false;
    size_t position = 0;  // of nlohmann's fault
    std::string what;

  private:
    bool Put(Json value) {
        if (depth_ > kMaxDepth) {
            tooDeep = true;
            return false;
        }
        if (skipFrom_ != 0 || std::exchange(skipNext_, false))
            return true;
        Place(std::move(value));
        return true;
    }
    bool Open(Json container) {
        if (depth_ > kMaxDepth) {
            tooDeep = true;
            return false;
        }
        ++depth_;
        if (skipFrom_ != 0)
            return true;
        if (std::exchange(skipNext_, false)) {
            skipFrom_ = depth_;
            return true;
        }
        open_.push_back(Place(std::move(container)));
        return true;
    }
    bool Close() {
        if (skipFrom_ == 0)
            open_.pop_back();
        else if (skipFrom_ == depth_)
            skipFrom_ = 0;
        --depth_;
        return true;
    }
    Json* Place(Json value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Json& parent = *open_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        Json& slot = parent[key_];
        slot = std::move(value);
        return &slot;
    }

    Json& root_;
    std::vector<Json*> open_;  // containers being filled; a parent is not added to meanwhile
    std::string key_;
    size_t depth_ = 0;     // containers open, skipped ones included
    size_t skipFrom_ = 0;  // depth of the container being skipped (a repeated key's), or 0
    bool skipNext_ = false;
};

// Where the first value nested too deeply starts: behind the bracket (or the key) of the
// container that holds it.
size_t TooDeepOffset(const std::string& s) {
    size_t depth = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            for (++i; i < s.size() && s[i] != '"'; ++i)
                if (s[i] == '\\')
                    ++i;
        } else if (c == ']' || c == '}') {
            depth = depth ? depth - 1 : 0;
        } else if (c == '[' || c == '{') {
            if (++depth <= kMaxDepth)
                continue;
            size_t next = s.find_first_not_of(" \t\r\n", i + 1);
            if (next == std::string::npos || s[next] == ']' || s[next] == '}')
                continue;
            if (c == '[')
                return i + 1;
            next = s.find(':', next);
            return next == std::string::npos ? s.size() : next + 1;
        }
    }
    return s.size();
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Where a fault is reported: at the end of the text, at the byte read last, or behind it.
enum class Where { End, Last, Next };

// nlohmann's reports, by a part of their text, in this system's words; the first match wins.
struct Rule {
    const char* part;
    const char* why;
    Where where;
};

const Rule kAtEnd[] = {
    {"object key", "expected a key", Where::End},
    {"object separator", "expected :", Where::End},
    {"parsing object", "unterminated object", Where::End},
    {"parsing array", "unterminated array", Where::End},
    {"", "unexpected end", Where::End},
};

const Rule kInside[] = {
    {"missing closing quote", "unterminated string", Where::End},
    {"must be escaped", "control character in string", Where::Next},
    {"ill-formed UTF-8", "bad UTF-8 in string", Where::Next},
    {"invalid string", "bad escape", Where::Next},
    {"invalid number", "bad number", Where::Last},
    {"object key", "expected a key", Where::Last},
    {"expected end of input", "text after the value", Where::Last},
    {"expected ':'", "expected :", Where::Next},
    {"expected ']'", "expected , or ]", Where::Next},
    {"expected '}'", "expected , or }", Where::Next},
};

// nlohmann's report in this system's words; position is one past the byte read last.
std::string Describe(const std::string& s, size_t position, const std::string& what) {
    const auto at = [](const char* why, size_t offset) {
        return std::string(why) + " at offset " + std::to_string(offset);
    };
    const size_t end = std::min(position, s.size());
    const size_t last = end ? end - 1 : 0;
    const auto match = [&](const auto& rules) -> std::string {
        for (const Rule& r : rules)
            if (what.find(r.part) != std::string::npos)
                return at(r.why, r.where == Where::End    ? end
                                 : r.where == Where::Last ? last
                                                          : position);
        return {};
    };
    if (what.find("unexpected end of input") != std::string::npos)
        // Before the end: a NUL byte, which nlohmann takes for the end.
        return position <= s.size() ? at("unexpected character", last) : match(kAtEnd);
    if (std::string found = match(kInside); !found.empty())
        return found;
    if (what.find("invalid literal") != std::string::npos) {
        size_t start = last;
        while (start > 0 && IsLetter(s[start - 1]))
            --start;
        if (s[start] == 't' || s[start] == 'f' || s[start] == 'n')
            return at("unknown literal", start);
    }
    return at("unexpected character", last);
}

}  // namespace

std::string JsonText(const Json& value, const JsonLayout& layout) {
    std::string out;
    Write(out, value, layout, layout.topObjectLined && value.is_object(), 0);
    return out;
}

bool ParseJsonText(const std::string& text, Json& value, std::string& error) {
    value = Json();
    // nlohmann skips a byte order mark; a document here starts with its value.
    if (!text.empty() && text[0] == '\xEF') {
        error = "unexpected character at offset 0";
        return false;
    }
    Builder builder(value);
    if (Json::sax_parse(text, &builder)) {
        // nlohmann ends the document at a NUL byte outside a string; whatever follows is
        // text after the value.
        const size_t nul = text.find('\0');
        if (nul == std::string::npos)
            return true;
        error = "text after the value at offset " + std::to_string(nul);
    } else if (builder.tooDeep) {
        error = "nested too deeply at offset " + std::to_string(TooDeepOffset(text));
    } else {
        error = Describe(text, builder.position, builder.what);
    }
    value = Json();
    return false;
}

}  // namespace platform
