#pragma once
// What both front ends do at start: find "ZIMPProtocol.ini", read the port keys, and open the
// port with them. A port that fails to open stays closed without a message; the operations
// that need it report it later.

#include <optional>
#include <string>

#include "platform/FileLocator.h"
#include "serial/SerialPort.h"
#include "streams/Configuration.h"
#include "zimp/ZimpEngine.h"

namespace memops {

inline constexpr const char* kConfigurationFile = "ZIMPProtocol.ini";

// The ranges of the configuration's numbers that the port and the load depend on.
inline constexpr long kMinBaudrate = 60, kMaxBaudrate = 10000000;
inline constexpr long kMaxBaudrateFactor = 1024;
inline constexpr long kMaxBlockSize = 8192;  // the radio's buffer and the request limit
// The block size of a configuration without "BlockSize", so that a configuration naming only
// the port can load.
inline constexpr unsigned long kDefaultBlockSize = 1024;

struct StartupSettings {
    std::string port;          // "Port", up to the system's path limit
    long baudrate = 0;         // "Baudrate", nominal
    unsigned long factor = 1;  // "BaudrateFactor"
    long debugLevel = 0;       // "DebugLevel": non-zero opens the debug log
    bool valid = true;         // false when a value was refused (the port is then not opened)
};

// The located configuration file, or "" when there is none (every value then reads empty and
// every write is lost).
std::string LocateConfiguration(const platform::FileLocator& locator);

StartupSettings ReadStartupSettings(streams::Configuration& profile);

// "Echo" of section "configuration": the radio returns every byte it receives. Missing, no
// echo; nothing when the value is refused (the message is written).
std::optional<bool> ReadEcho(streams::Configuration& profile);
// ReadEcho, a refused value taken as no echo.
bool ConfiguredEcho(streams::Configuration& profile);
// "BlockSize" of section "LoadMemory"; kDefaultBlockSize when missing, nothing when refused
// (the message is written).
std::optional<unsigned long> ConfiguredBlockSize(streams::Configuration& profile);

// Largest "WriteResponseTimeout" (seconds) taken; a day.
inline constexpr unsigned long kMaxWriteResponseSeconds = 86400;
// "WriteResponseTimeout" of section "configuration", in seconds (1 to 86400): when set, it
// bounds every write-response wait, a write's and an erase's alike; missing, or not a number
// in that range, the engine keeps its own defaults (60 s for a write, 600 s for an erase).
void ApplyWriteResponseTimeout(streams::Configuration& profile, zimp::ZimpEngine& engine);

// Sets the port's factor and opens it with the port name and the nominal rate. The result
// says whether it opened; at start-up nobody reports it.
bool OpenConfiguredPort(serial::SerialPort& port, const StartupSettings& settings);
// OpenConfiguredPort, and when it fails the reason on the message stream: "Cannot open port
// NAME: held by another program (zimp, pid 4242)." and the like, or that no port or rate is
// configured. A refused value has been reported already and adds nothing.
bool OpenPortSayingWhy(serial::SerialPort& port, const StartupSettings& settings);

}  // namespace memops
