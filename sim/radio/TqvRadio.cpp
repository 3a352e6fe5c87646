#include "sim/radio/TqvRadio.h"

#include <ostream>

#include "platform/HexText.h"
#include "platform/JsonText.h"

namespace radio {

namespace {
constexpr size_t kMaxKeptData = 1 << 20;
}

void TqvRadio::Receive(const uint8_t* bytes, size_t n, uint64_t nowMs, RadioLine& line) {
    std::vector<uint8_t> answer;
    {
        std::lock_guard lock(mutex_);
        if (options_.echo)
            answer.assign(bytes, bytes + n);
        lastByteMs_ = nowMs;
        for (size_t i = 0; i < n; ++i)
            Byte(bytes[i], answer);
    }
    if (!answer.empty())
        line.Send(answer.data(), answer.size());
}

void TqvRadio::Byte(uint8_t b, std::vector<uint8_t>& answer) {
    switch (state_) {
        case State::Hunt:
            if (options_.vintrel && last_ == 0x61 && b == 0x41) {
                ++handshakes_;
                answer.push_back(0x5A);
            }
            last_ = b;
            if (b == 0x55) {
                ++sync_;
            } else if (b == 0xAA && sync_ >= 3) {
                state_ = State::Header;
                header_.clear();
                sync_ = 0;
            } else {
                sync_ = 0;
            }
            break;
        case State::Header:
            header_.push_back(b);
            if (header_.size() == 8) {
                block_ = TqvBlock{};
                block_.address = uint32_t(header_[0]) << 24 | uint32_t(header_[1]) << 16 |
                                 uint32_t(header_[2]) << 8 | header_[3];
                block_.length = static_cast<uint16_t>(header_[4] << 8 | header_[5]);
                block_.factor = static_cast<uint16_t>(header_[6] << 8 | header_[7]);
                // Like the boot ROM, trust the length field: of a span longer than 65,535
                // bytes only its low 16 bits are taken, and the block then fails.
                expected_ = block_.length;
                state_ = State::Data;
            }
            break;
        case State::Data:
            if (expected_ > 0) {
                if (block_.data.size() < kMaxKeptData)
                    block_.data.push_back(b);
                --expected_;
                break;
            }
            block_.checksum = b;
            {
                unsigned sum = 0;
                for (uint8_t h : header_)
                    sum += h;
                for (uint8_t d : block_.data)
                    sum += d;
                block_.checksumOk = static_cast<uint8_t>(0xFF - (sum & 0xFF)) == b;
            }
            answer.push_back(block_.checksumOk ? options_.ack : 0x4E);
            blocks_.push_back(block_);
            state_ = State::Hunt;
            break;
    }
}

void TqvRadio::Idle(uint64_t nowMs) {
    std::lock_guard lock(mutex_);
    if (state_ != State::Hunt && nowMs - lastByteMs_ >= options_.idleMs) {
        state_ = State::Hunt;
        sync_ = 0;
    }
}

std::vector<TqvBlock> TqvRadio::Blocks() const {
    std::lock_guard lock(mutex_);
    return blocks_;
}

uint32_t TqvRadio::Handshakes() const {
    std::lock_guard lock(mutex_);
    return handshakes_;
}

void TqvRadio::WriteDump(std::ostream& out) const {
    std::lock_guard lock(mutex_);
    platform::Json blocks = platform::Json::array();
    for (const TqvBlock& b : blocks_) {
        blocks.push_back({{"address", b.address},
                          {"length", b.length},
                          {"factor", b.factor},
                          {"checksum_ok", b.checksumOk},
                          {"data", platform::HexText(b.data)}});
    }
    const platform::Json doc = {
        {"mode", "tqv"}, {"handshakes", handshakes_}, {"blocks", std::move(blocks)}};
    out << platform::JsonText(doc, {true, {"blocks"}}) << '\n';
}

}  // namespace radio
