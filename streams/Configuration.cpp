#include "streams/Configuration.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "platform/IniFile.h"
#include "streams/MessageStreams.h"

namespace streams {

ConfigurationBuffer::ConfigurationBuffer(const std::string& fileName)
    : queue_(80, 0xFFFF), fileName_(fileName) {}

// A value still pending when the stream goes is stored, not lost.
ConfigurationBuffer::~ConfigurationBuffer() {
    sync();
}

void ConfigurationBuffer::SyncAndDiscard() {
    sync();
    setg(nullptr, nullptr, nullptr);  // unread characters of the previous value
}

void ConfigurationBuffer::SelectSection(const std::string& name) {
    SyncAndDiscard();
    haveKey_ = false;
    key_.clear();
    changed_ = true;
    section_ = name;
    haveSection_ = true;
    keys_ = platform::IniKeys(section_.c_str(), fileName_);
    keyPos_ = 0;
}

void ConfigurationBuffer::SelectKey(const std::string& name) {
    SyncAndDiscard();
    changed_ = true;
    key_ = name;
    haveKey_ = true;
}

namespace {
std::string OverrideKey(const std::string& section, const std::string& key) {
    std::string k = section + "\n" + key;
    for (char& ch : k)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return k;
}
}  // namespace

void ConfigurationBuffer::Override(const std::string& section, const std::string& key,
                                   const std::string& value) {
    overrides_.emplace_back(OverrideKey(section, key), value);  // cut when read, as a file's
}

void ConfigurationBuffer::Fetch() {
    if (haveSection_ && haveKey_ && !overrides_.empty()) {
        const std::string k = OverrideKey(section_, key_);
        for (auto it = overrides_.rbegin(); it != overrides_.rend(); ++it) {
            if (it->first != k)
                continue;
            for (char ch : it->second.substr(0, kMaxDelivered))
                queue_.Put(ch);
            queue_.Put('\n');
            return;
        }
    }
    if (fileName_.empty() || !haveSection_ || !haveKey_)
        return;
    std::string buf;
    size_t size = 96, len = 0;
    for (;;) {
        buf.assign(size, '\0');
        len =
            platform::ReadIniValue(section_.c_str(), key_.c_str(), "", buf.data(), size, fileName_);
        if (len + 2 < size || size > kMaxDelivered)
            break;
        size = size < 256 ? size + 32 : size * 2;
    }
    len = std::min(len, kMaxDelivered);
    if (len > 0 && static_cast<unsigned char>(buf[0]) == 0xFF)
        return;
    for (size_t i = 0; i < len; ++i)
        queue_.Put(buf[i]);
    queue_.Put('\n');
}

ConfigurationBuffer::int_type ConfigurationBuffer::underflow() {
    if (gptr() && gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (mode_ == kWriting || changed_) {
        mode_ = kReading;
        changed_ = false;
        queue_.Clear();
        Fetch();
    }
    int c = queue_.Get();
    if (c < 0)
        return traits_type::eof();
    get_ = static_cast<char>(c);
    setg(&get_, &get_, &get_ + 1);
    return traits_type::to_int_type(get_);
}

ConfigurationBuffer::int_type ConfigurationBuffer::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    if (mode_ == kReading || changed_) {
        queue_.Clear();
        changed_ = false;
        mode_ = kWriting;
        setg(nullptr, nullptr, nullptr);
    }
    char c = traits_type::to_char_type(ch);
    if (c == '\n')
        return sync() == 0 ? ch : traits_type::eof();
    return queue_.Put(c) ? ch : traits_type::eof();
}

int ConfigurationBuffer::sync() {
    if (mode_ == kReading || changed_) {
        queue_.Clear();
        changed_ = false;
        mode_ = kWriting;
        return 0;
    }
    if (fileName_.empty() || !haveSection_ || !haveKey_ || queue_.Count() == 0)
        return 0;
    temp_.assign(queue_.Count(), '\0');
    for (char& c : temp_)
        c = static_cast<char>(queue_.Get());
    bool ok = platform::WriteIniValue(section_.c_str(), key_.c_str(), temp_.c_str(), fileName_);
    return ok ? 0 : -1;
}

Configuration::Configuration(const std::string& fileName) : std::iostream(nullptr), buf_(fileName) {
    rdbuf(&buf_);
    unsetf(std::ios::basefield);  // integers in prefixed notation
}

Configuration::~Configuration() = default;

int Configuration::ReadNumber(unsigned long& out, char delimiter) {
    clear();
    int c;
    while ((c = rdbuf()->sgetc()) != EOF && std::isspace(c))
        rdbuf()->sbumpc();
    if (c == EOF)
        return -1;
    std::string text;
    while ((c = rdbuf()->sbumpc()) != EOF) {
        if (c == static_cast<unsigned char>(delimiter))
            break;
        if (text.size() < 31)
            text += static_cast<char>(c);
    }
    size_t b = text.find_first_not_of(" \t\r\n");
    size_t e = text.find_last_not_of(" \t\r\n");
    text = b == std::string::npos ? "" : text.substr(b, e - b + 1);
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (end == text.c_str()) {
        out = 0;
        return -2;
    }
    out = v;
    return static_cast<unsigned char>(*end);
}

std::string Configuration::ReadText(const std::string& section, const std::string& key,
                                    size_t maxLen) {
    std::string text = Select(section, key).ReadText(ConfigurationBuffer::kMaxDelivered);
    if (text.size() <= maxLen)
        return text;
    // Not counted as refused: the operation goes on as without the key.
    msgout() << "The value of " << key << " in section [" << section << "] is longer than "
             << std::dec << maxLen << " characters; it is not used.\n";
    return {};
}

std::string Configuration::ReadText(size_t maxLen) {
    std::string s;
    int c;
    while ((c = rdbuf()->sbumpc()) != EOF && c != '\n') {
        if (s.size() < maxLen)
            s += static_cast<char>(c);
    }
    return s;
}

namespace {
// A leading 0 before more digits: the prefixed notation reads it as octal.
bool LeadingZeroDigits(const std::string& text) {
    const size_t at = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (text.size() < at + 2 || text[at] != '0')
        return false;
    return text.find_first_not_of("0123456789", at) == std::string::npos;
}
}  // namespace

Configuration::CheckedValue Configuration::ReadCheckedInteger(const std::string& section,
                                                              const std::string& key, long long min,
                                                              long long max, long long& out) {
    std::string text = Select(section, key).ReadText(ConfigurationBuffer::kMaxValueSize);
    clear();
    const size_t b = text.find_first_not_of(" \t\r");
    const size_t e = text.find_last_not_of(" \t\r");
    text = b == std::string::npos ? "" : text.substr(b, e - b + 1);
    if (text.empty())
        return CheckedValue::Missing;
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(start, &end, 0);  // 0x hex, leading 0 octal, else decimal
    const bool whole = end != start && errno == 0 && *end == '\0';
    // A value written with a leading 0 is taken only where it means the same in decimal (07);
    // 010 would be 8, and 09600 is no octal number at all.
    bool octal = false;
    if (LeadingZeroDigits(text)) {
        errno = 0;
        octal = !whole || std::strtoll(start, nullptr, 10) != v || errno != 0;
    }
    if (whole && !octal && v >= min && v <= max) {
        out = v;
        return CheckedValue::Read;
    }
    ++refused_;
    std::ostream& message = msgout();
    message << "The value \"" << text << "\" of " << key << " in section [" << section
            << "] is not a number";
    if (min != kAnyInteger.first || max != kAnyInteger.second)
        message << " from " << std::dec << min << " to " << max;
    message << (octal ? " (a leading 0 means octal).\n" : ".\n");
    return CheckedValue::Refused;
}

}  // namespace streams
