#pragma once
// The controller's serial bootstrap: after the byte 0xFF, every byte received is echoed back
// (optionally with one byte corrupted, or only the first few), and kept.

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/radio/RadioMode.h"

namespace radio {

struct BootRadioOptions {
    std::optional<uint32_t> corruptAt;  // the echo of program byte N (from 0) is altered
    std::optional<uint32_t> echoLimit;  // only the first N program bytes are echoed
    uint32_t maxProgram = 1 << 20;      // bytes kept at most
};

class BootRadio : public RadioMode {
  public:
    explicit BootRadio(BootRadioOptions options = {}) : options_(options) {}

    void Receive(const uint8_t* bytes, size_t n, uint64_t nowMs, RadioLine& line) override;
    void Idle(uint64_t) override {}
    void WriteDump(std::ostream& out) const override;

    bool Started() const;
    std::vector<uint8_t> Program() const;

  private:
    const BootRadioOptions options_;
    mutable std::mutex mutex_;
    bool started_ = false;
    std::vector<uint8_t> program_;
    uint32_t echoed_ = 0;
};

}  // namespace radio
