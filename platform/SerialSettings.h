#pragma once
// The line settings of a serial port (rate, framing, flow control) and the five time-outs. A
// settings text such as "baud=9600 parity=N data=8 stop=1" is parsed into the record.

#include <cstdint>
#include <string>

namespace platform {

enum class Parity : uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBits : uint8_t { One = 0, OneAndHalf = 1, Two = 2 };
// DTR and RTS line control.
enum class LineControl : uint8_t { Disable = 0, Enable = 1, Handshake = 2, Toggle = 3 };

struct SerialSettings {
    uint32_t baudRate = 9600;
    uint8_t dataBits = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    bool parityCheck = false;    // mark bytes received with a parity error
    bool ctsOutputFlow = false;  // send only while CTS is on
    bool dsrOutputFlow = false;  // send only while DSR is on
    LineControl dtrControl = LineControl::Enable;
    LineControl rtsControl = LineControl::Enable;
    bool xonXoffOutput = false;  // stop sending on XOFF, go on at XON
    bool xonXoffInput = false;   // send XOFF/XON as the input fills and empties
    char xonChar = 0x11;
    char xoffChar = 0x13;

    bool operator==(const SerialSettings&) const = default;
};

// The five time-outs, in milliseconds.
struct SerialTimeouts {
    uint32_t readInterval = 0;
    uint32_t readMultiplier = 0;
    uint32_t readConstant = 0;
    uint32_t writeMultiplier = 0;
    uint32_t writeConstant = 0;

    bool operator==(const SerialTimeouts&) const = default;
};

// The largest time-out: a read interval of it with no read time-outs returns at once.
inline constexpr uint32_t kMaxTimeout = 0xFFFFFFFFu;

// Parses "baud=9600 parity=N data=8 stop=1" (also to=, xon=, odsr=, octs=, dtr=, rts=, idsr=)
// or the short form "9600,n,8,1" into settings, leaving fields not named as they are. Returns
// false, with settings unchanged, for a text it cannot read.
bool ParseSettingsText(const std::string& text, SerialSettings& settings);

// "baud=9600 parity=N data=8 stop=1"
std::string FormatSettingsText(const SerialSettings& settings);

}  // namespace platform
