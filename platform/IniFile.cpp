#include "platform/IniFile.h"

#include <strings.h>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/ReplacementFile.h"

namespace platform {
namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

ReadStatus ReadLines(const std::string& file, std::vector<std::string>& lines) {
    if (file.empty())
        return ReadStatus::Missing;
    std::string text;
    ReadStatus status = ReadFileBounded(file, kMaxIniFileSize, text);
    if (status != ReadStatus::Ok)
        return status;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return ReadStatus::Ok;
}

// "[name]" -> name; empty optional when the line is no section header.
bool SectionName(const std::string& line, std::string& name) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[')
        return false;
    size_t close = t.find(']');
    if (close == std::string::npos)
        return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

bool KeyValue(const std::string& line, std::string& key, std::string& value) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#')
        return false;
    size_t eq = t.find('=');
    if (eq == std::string::npos)
        return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return !key.empty();
}

bool Same(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

bool FindValue(const std::vector<std::string>& lines, const char* section, const char* key,
               std::string& value) {
    bool inSection = false;
    for (const auto& line : lines) {
        std::string name, k, v;
        if (SectionName(line, name)) {
            inSection = Same(name, section);
        } else if (inSection && KeyValue(line, k, v) && Same(k, key)) {
            if (v.size() >= 2 &&
                ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
                v = v.substr(1, v.size() - 2);
            value = v;
            return true;
        }
    }
    return false;
}

bool WriteAtomically(const std::string& file, const std::string& text) {
    ReplacementFile out;
    return out.Create(file) && out.Write(text) && out.Commit();
}

}  // namespace

size_t ReadIniValue(const char* section, const char* key, const char* def, char* buf, size_t size,
                    const std::string& file) {
    if (buf == nullptr || size == 0)
        return 0;
    std::vector<std::string> lines;
    std::string value = def ? def : "";
    if (section && key && ReadLines(file, lines) == ReadStatus::Ok)
        FindValue(lines, section, key, value);
    size_t n = std::min(value.size(), size - 1);
    std::memcpy(buf, value.data(), n);
    buf[n] = '\0';
    return n;
}

bool WriteIniValue(const char* section, const char* key, const char* value,
                   const std::string& file) {
    if (file.empty() || !section || !key || !value)
        return false;
    std::vector<std::string> lines;
    ReadStatus status = ReadLines(file, lines);
    if (status != ReadStatus::Ok && status != ReadStatus::Missing)
        return false;  // never replace a file we could not read whole
    const std::string entry = std::string(key) + "=" + value;
    bool inSection = false, found = false;
    size_t sectionEnd = std::string::npos;  // index after the last non-blank line of the section
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string name, k, v;
        if (SectionName(lines[i], name)) {
            if (inSection)
                break;
            inSection = Same(name, section);
            if (inSection)
                sectionEnd = i + 1;
        } else if (inSection) {
            if (KeyValue(lines[i], k, v) && Same(k, key)) {
                lines[i] = entry;
                found = true;
                break;
            }
            if (!Trim(lines[i]).empty())
                sectionEnd = i + 1;
        }
    }
    if (!found) {
        if (sectionEnd != std::string::npos) {
            lines.insert(lines.begin() + static_cast<long>(sectionEnd), entry);
        } else {
            lines.push_back(std::string("[") + section + "]");
            lines.push_back(entry);
        }
    }
    std::string text;
    for (const auto& l : lines)
        text += l + "\n";
    return WriteAtomically(file, text);
}

std::vector<std::string> IniKeys(const char* section, const std::string& file) {
    std::vector<std::string> lines, keys;
    if (!section || ReadLines(file, lines) != ReadStatus::Ok)
        return keys;
    bool inSection = false;
    for (const auto& line : lines) {
        std::string name, k, v;
        if (SectionName(line, name))
            inSection = Same(name, section);
        else if (inSection && KeyValue(line, k, v))
            keys.push_back(k);
    }
    return keys;
}

ReadStatus CheckIniFile(const std::string& file) {
    std::vector<std::string> lines;
    return ReadLines(file, lines);
}

}  // namespace platform
