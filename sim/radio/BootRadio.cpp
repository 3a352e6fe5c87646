#include "sim/radio/BootRadio.h"

#include <ostream>

#include "platform/HexText.h"
#include "platform/JsonText.h"

namespace radio {

void BootRadio::Receive(const uint8_t* bytes, size_t n, uint64_t, RadioLine& line) {
    std::vector<uint8_t> echo;
    {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < n; ++i) {
            if (!started_) {
                started_ = bytes[i] == 0xFF;  // the bootstrap waits for its start byte
                continue;
            }
            const uint32_t index = static_cast<uint32_t>(program_.size());
            if (program_.size() < options_.maxProgram)
                program_.push_back(bytes[i]);
            if (options_.echoLimit && index >= *options_.echoLimit)
                continue;
            uint8_t b = bytes[i];
            if (options_.corruptAt && index == *options_.corruptAt)
                b ^= 0x05;
            echo.push_back(b);
            ++echoed_;
        }
    }
    if (!echo.empty())
        line.Echo(echo.data(), echo.size());
}

bool BootRadio::Started() const {
    std::lock_guard lock(mutex_);
    return started_;
}

std::vector<uint8_t> BootRadio::Program() const {
    std::lock_guard lock(mutex_);
    return program_;
}

void BootRadio::WriteDump(std::ostream& out) const {
    std::lock_guard lock(mutex_);
    const platform::Json doc = {{"mode", "boot"},
                                {"started", started_},
                                {"received", platform::HexText(program_)},
                                {"echoed", echoed_}};
    out << platform::JsonText(doc, {true, {}}) << '\n';
}

}  // namespace radio
