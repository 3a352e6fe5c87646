#pragma once
// The plain boot load: 0xFF, then the program bytes, raw at the chosen rate, with the echo the
// controller returns for every program byte read back and compared.

#include <atomic>
#include <cstdint>
#include <string>

#include "memops/BootOutcome.h"
#include "serial/SerialPort.h"
#include "streams/Configuration.h"

namespace memops {

struct BootLoadSettings {
    long rate = 0;  // nominal rate of the boot load
    std::string fileName;
};

// Section "BootLoad": "File" (first 255 characters) and "Baudrate"; missing keys keep the
// values given.
void ReadBootLoadSettings(streams::Configuration& profile, BootLoadSettings& settings);
// The dialog's checks: rate 50 to 115200, file name 1 to 255 characters.
bool ValidateBootLoadSettings(const BootLoadSettings& settings);

class BootLoad {
  public:
    static constexpr uint32_t kMaxProgram = 2000;

    explicit BootLoad(serial::SerialPort* port) : port_(port) {}

    // Sends the program and reports the outcome on the message stream; the port's rate is
    // restored in every case. Loaded when the whole echo came back and agreed (nothing was
    // written then). A program longer than kMaxProgram bytes is refused unsent.
    BootOutcome Run(const BootLoadSettings& settings);
    // Cancel while busy: ends the pending read at once ("Loading was aborted by User").
    void Cancel();
    bool Busy() const { return busy_.load(); }

    uint32_t ProgramLength() const { return n_; }
    uint32_t EchoCount() const { return echoCount_; }
    const uint8_t* Program() const { return program_; }

  private:
    // Reads the program into program_ (none when its span is over kMaxProgram); false when
    // the file is not a readable image.
    bool ReadProgram(const std::string& fileName, uint32_t& span);
    // 0xFF, then the program on the writer while the echo is read; the read's result.
    int32_t SendProgram(uint32_t rate);
    // The outcome of the echo read, with its message.
    BootOutcome Judge(int32_t result);

    serial::SerialPort* port_;
    std::atomic<bool> busy_{false};
    uint8_t program_[kMaxProgram] = {};
    uint8_t echo_[kMaxProgram] = {};
    uint32_t n_ = 0;
    uint32_t echoCount_ = 0;
    serial::TransferRequest write_;
};

}  // namespace memops
