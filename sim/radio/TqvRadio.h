#pragma once
// The TQV boot ROM: takes blocks (55 55 55 AA, address, length, factor, data, checksum) and
// answers each with one acknowledgement byte; a Vintrel part answers "Z" to "aA" first.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/radio/RadioMode.h"

namespace radio {

struct TqvRadioOptions {
    bool vintrel = false;   // answer "Z" to "aA"
    uint8_t ack = 0x50;     // the acknowledgement of a good block
    bool echo = false;      // return every byte received
    uint32_t idleMs = 500;  // a partial block this old is dropped
};

struct TqvBlock {
    uint32_t address = 0;
    uint16_t length = 0;  // as carried (the low 16 bits)
    uint16_t factor = 0;
    std::vector<uint8_t> data;
    uint8_t checksum = 0;
    bool checksumOk = false;
};

class TqvRadio : public RadioMode {
  public:
    explicit TqvRadio(TqvRadioOptions options = {}) : options_(options) {}

    void Receive(const uint8_t* bytes, size_t n, uint64_t nowMs, RadioLine& line) override;
    void Idle(uint64_t nowMs) override;
    void WriteDump(std::ostream& out) const override;

    std::vector<TqvBlock> Blocks() const;
    uint32_t Handshakes() const;

  private:
    enum class State { Hunt, Header, Data };
    void Byte(uint8_t b, std::vector<uint8_t>& answer);

    const TqvRadioOptions options_;
    mutable std::mutex mutex_;
    State state_ = State::Hunt;
    std::vector<uint8_t> header_;  // bytes 4-11
    TqvBlock block_;
    uint32_t expected_ = 0;  // data bytes still to come (from the length field)
    uint32_t sync_ = 0;      // 0x55 bytes seen in a row
    uint8_t last_ = 0;       // previous byte while hunting ("aA")
    uint64_t lastByteMs_ = 0;
    std::vector<TqvBlock> blocks_;
    uint32_t handshakes_ = 0;
};

}  // namespace radio
