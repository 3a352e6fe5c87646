#pragma once
// "Write Port and Baudrate": reopening the port under another name, nominal rate or rate
// factor for this run, falling back to the port it had. The configuration is never written.

#include <cstdint>
#include <string>

#include "serial/SerialPort.h"

namespace memops {

struct PortChoice {
    static constexpr long long kMinRate = 60;
    static constexpr long long kMaxRate = 10000000;
    static constexpr long long kMinFactor = 1;
    static constexpr long long kMaxFactor = 1024;

    std::string name;
    uint32_t rate = 0;  // nominal
    uint32_t factor = 1;
};

// Fields of the dialog, so that a refused one can take the focus.
enum class PortChoiceField { None, Rate, Factor };

// What the dialog shows: the stored name and factor, and the port's nominal rate (factor x the
// rate the device is programmed with).
PortChoice CurrentPortChoice(const serial::SerialPort& port, const std::string& storedName,
                             uint32_t storedFactor);

// Positive integers: rate 60 to 10,000,000, factor 1 to 1,024 (the framework's texts). The name
// is taken as typed.
PortChoiceField CheckPortChoice(const std::string& name, const std::string& rateText,
                                const std::string& factorText, PortChoice& choice);

// Opens the port as chosen. On success stored takes the new name and factor. On failure writes
// "Cannot open port <name>" and opens the port again with stored's name and factor at the
// nominal rate it had; if that fails too the port stays closed without a further message.
// stored's rate is not used.
bool ReopenPort(serial::SerialPort& port, const PortChoice& chosen, PortChoice& stored);

}  // namespace memops
