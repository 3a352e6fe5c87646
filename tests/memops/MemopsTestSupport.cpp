#include "MemopsTestSupport.h"

#include <poll.h>

#include <cstdio>

using namespace streams;

namespace memopstest {

std::string Record(uint32_t address, const Bytes& data, bool s2) {
    Bytes b;
    const int addressBytes = s2 ? 3 : 2;
    b.push_back(static_cast<uint8_t>(data.size() + addressBytes + 1));
    for (int i = addressBytes - 1; i >= 0; --i)
        b.push_back(static_cast<uint8_t>(address >> (8 * i)));
    b.insert(b.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t x : b)
        sum += x;
    std::string line = s2 ? "S2" : "S1";
    char hex[3];
    for (uint8_t x : b) {
        std::snprintf(hex, sizeof hex, "%02X", x);
        line += hex;
    }
    std::snprintf(hex, sizeof hex, "%02X", (~sum) & 0xFF);
    return line + hex + "\n";
}

std::string SRecordFile(const std::vector<std::pair<uint32_t, Bytes>>& blocks) {
    std::string text = "S00600004844521B\n";
    for (const auto& [address, data] : blocks) {
        bool s2 = address + data.size() > 0x10000;
        for (size_t off = 0; off < data.size(); off += 32) {
            Bytes part(data.begin() + static_cast<long>(off),
                       data.begin() + static_cast<long>(std::min(data.size(), off + 32)));
            text += Record(address + static_cast<uint32_t>(off), part, s2);
        }
    }
    return text + "S9030000FC\n";
}

RadioRig::RadioRig(radio::ZimpRadioOptions options, const std::string& ini)
    : SimulatedRadio(options) {
    iniPath = dir.Write("ZIMPProtocol.ini", ini.empty() ? "[configuration]\nEcho=0\n"
                                                          "[LoadMemory]\nBlockSize=64\n"
                                                        : ini);
    profile = std::make_unique<Configuration>(iniPath);
    if (!OpenLine())
        return;
    Start();
    ok = port.Open(pty.SlavePath(), 115200);
}

RadioRig::~RadioRig() {
    port.Close();
    Stop();
}

void RecordingProgress::Started(const std::string& t, const std::string&, const std::string& h,
                                uint32_t tot) {
    ++starts;
    title = t;
    header = h;
    total = tot;
}

void RecordingProgress::Progress(uint32_t done, uint32_t) {
    lastDone = done;
    ++posts;
}

}  // namespace memopstest
