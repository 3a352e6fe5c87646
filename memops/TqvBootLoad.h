#pragma once
// The TQV boot load: an optional patch and then the program, each sent as one block (a
// 12-byte header at the header rate, then data and checksum at the data rate) and confirmed by
// the radio's acknowledgement byte; a Vintrel radio first agrees the rate ("aA" until "Z").

#include <cstdint>
#include <string>
#include <vector>

#include "memops/BootOutcome.h"
#include "serial/SerialPort.h"
#include "srecord/Image.h"
#include "streams/Configuration.h"

namespace memops {

struct TqvSettings {
    long headerRate = 19200;
    std::string file;
    std::string patchFile;
    long disablePatch = 0;
    unsigned long factor = 0;
    long dataRate = 19200;
    long processorType = 0;  // 0 Ambrel, 1 Vintrel
};

// Section "TqvBootLoad": File and PatchFile (first 58 characters), BaudRate, DataBaudRate,
// DisablePatch, ProcessorType, TQVFactor; a missing number keeps the value given.
void ReadTqvSettings(streams::Configuration& profile, TqvSettings& settings);
// Writes them back, in the dialog's order, numbers in decimal.
void WriteTqvSettings(streams::Configuration& profile, const TqvSettings& settings);
// The dialog's checks: header rate 300 to 1000000, factor 0 to 4096, data rate 300 to 460800.
bool ValidateTqvSettings(const TqvSettings& settings);

// The block for an image: 55 55 55 AA, start, length (low 16 bits), factor (low 16 bits),
// the bytes from start on (gaps 0x00), checksum.
std::vector<uint8_t> BuildTqvBlock(const srecord::Image& image, uint32_t factor);

class TqvBootLoad {
  public:
    static constexpr uint8_t kAck = 0x50;

    explicit TqvBootLoad(serial::SerialPort* port) : port_(port) {}

    // The whole load: handshake (Vintrel), patch (unless disabled), program, the closing wait
    // and the rate restore. Every failure writes one message and gives Failed; Loaded when
    // all went through.
    BootOutcome Run(const TqvSettings& settings);
    // One image; false with its message written.
    bool SendImage(const std::string& file, uint32_t headerRate, uint32_t factor,
                   uint32_t dataRate);
    bool Handshake(uint32_t headerRate);
    // Bytes of the blocks sent, for the command line's report.
    uint32_t BlocksSent() const { return blocks_; }

  private:
    serial::SerialPort* port_;
    uint32_t blocks_ = 0;
};

}  // namespace memops
