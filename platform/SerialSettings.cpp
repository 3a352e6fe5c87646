#include "platform/SerialSettings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <utility>
#include <vector>

namespace platform {
namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ParseUnsigned(const std::string& s, uint32_t& out) {
    if (s.empty() || s.size() > 10)
        return false;
    uint64_t v = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFu)
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

// The value a word names in a table of words; false, out untouched, for a word not in it.
template <typename T, size_t N>
bool Lookup(const std::string& word, const std::pair<const char*, T> (&table)[N], T& out) {
    for (const auto& [name, value] : table) {
        if (word == name) {
            out = value;
            return true;
        }
    }
    return false;
}

bool ParseParity(const std::string& v, Parity& p) {
    static constexpr std::pair<const char*, Parity> kWords[] = {
        {"n", Parity::None}, {"o", Parity::Odd},   {"e", Parity::Even},
        {"m", Parity::Mark}, {"s", Parity::Space},
    };
    return Lookup(v, kWords, p);
}

bool ParseStop(const std::string& v, StopBits& s) {
    static constexpr std::pair<const char*, StopBits> kWords[] = {
        {"1", StopBits::One}, {"1.5", StopBits::OneAndHalf}, {"2", StopBits::Two}};
    return Lookup(v, kWords, s);
}

bool ParseData(const std::string& v, uint8_t& bits) {
    uint32_t n;
    if (!ParseUnsigned(v, n) || n < 5 || n > 8)
        return false;
    bits = static_cast<uint8_t>(n);
    return true;
}

bool ParseOnOff(const std::string& v, bool& b) {
    static constexpr std::pair<const char*, bool> kWords[] = {{"on", true}, {"off", false}};
    return Lookup(v, kWords, b);
}

// Toggle is a choice of RTS only.
bool ParseLine(const std::string& v, LineControl& c, bool allowToggle) {
    static constexpr std::pair<const char*, LineControl> kWords[] = {
        {"on", LineControl::Enable},
        {"off", LineControl::Disable},
        {"hs", LineControl::Handshake},
        {"tg", LineControl::Toggle},
    };
    return (allowToggle || v != "tg") && Lookup(v, kWords, c);
}

bool ParseShortForm(const std::string& text, SerialSettings& s) {
    // "9600,n,8,1" with optional leading "COMx:" and optional trailing ",x" or ",p"
    std::string t = text;
    if (auto colon = t.find(':'); colon != std::string::npos)
        t = t.substr(colon + 1);
    std::vector<std::string> parts;
    std::stringstream ss(t);
    for (std::string p; std::getline(ss, p, ',');) {
        p.erase(std::remove_if(p.begin(), p.end(), [](unsigned char c) { return std::isspace(c); }),
                p.end());
        parts.push_back(p);
    }
    if (parts.empty() || parts.size() > 5)
        return false;
    uint32_t rate;
    if (!ParseUnsigned(parts[0], rate))
        return false;
    s.baudRate = rate;
    if (parts.size() > 1 && !ParseParity(parts[1], s.parity))
        return false;
    if (parts.size() > 2 && !ParseData(parts[2], s.dataBits))
        return false;
    if (parts.size() > 3 && !ParseStop(parts[3], s.stopBits))
        return false;
    if (parts.size() > 4) {
        if (parts[4] == "x") {
            s.xonXoffOutput = s.xonXoffInput = true;
        } else if (parts[4] == "p") {
            s.ctsOutputFlow = true;
            s.rtsControl = LineControl::Handshake;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseSettingsText(const std::string& text, SerialSettings& settings) {
    SerialSettings s = settings;
    std::string t = Lower(text);
    if (t.find('=') == std::string::npos) {
        if (!ParseShortForm(t, s))
            return false;
        settings = s;
        return true;
    }
    std::stringstream ss(t);
    bool any = false;
    for (std::string item; ss >> item;) {
        auto eq = item.find('=');
        if (eq == std::string::npos || eq == 0)
            return false;
        std::string key = item.substr(0, eq), value = item.substr(eq + 1);
        bool ok = true;
        if (key == "baud") {
            uint32_t r;
            ok = ParseUnsigned(value, r);
            if (ok)
                s.baudRate = r;
        } else if (key == "parity") {
            ok = ParseParity(value, s.parity);
        } else if (key == "data") {
            ok = ParseData(value, s.dataBits);
        } else if (key == "stop") {
            ok = ParseStop(value, s.stopBits);
        } else if (key == "to") {
            bool dummy;
            ok = ParseOnOff(value, dummy);  // infinite time-out flag: time-outs are set apart
        } else if (key == "xon") {
            bool on;
            ok = ParseOnOff(value, on);
            if (ok)
                s.xonXoffOutput = s.xonXoffInput = on;
        } else if (key == "odsr") {
            ok = ParseOnOff(value, s.dsrOutputFlow);
        } else if (key == "octs") {
            ok = ParseOnOff(value, s.ctsOutputFlow);
        } else if (key == "dtr") {
            ok = ParseLine(value, s.dtrControl, false);
        } else if (key == "rts") {
            ok = ParseLine(value, s.rtsControl, true);
        } else if (key == "idsr") {
            bool ignored;  // DSR sensitivity: accepted, no termios counterpart
            ok = ParseOnOff(value, ignored);
        } else {
            ok = false;
        }
        if (!ok)
            return false;
        any = true;
    }
    if (!any)
        return false;
    settings = s;
    return true;
}

std::string FormatSettingsText(const SerialSettings& s) {
    static const char kParity[] = {'N', 'O', 'E', 'M', 'S'};
    static const char* kStop[] = {"1", "1.5", "2"};
    std::ostringstream o;
    o << "baud=" << s.baudRate << " parity=" << kParity[static_cast<int>(s.parity) % 5]
      << " data=" << static_cast<int>(s.dataBits)
      << " stop=" << kStop[static_cast<int>(s.stopBits) % 3];
    return o.str();
}

}  // namespace platform
