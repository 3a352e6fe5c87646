#include "memops/Startup.h"

#include <ostream>

#include "streams/MessageStreams.h"

using zimp::ZimpEngine;

using serial::SerialPort;

using streams::Configuration;

namespace memops {

std::string LocateConfiguration(const platform::FileLocator& locator) {
    return locator.Locate(kConfigurationFile, platform::FileLocator::kEverywhere).value_or("");
}

StartupSettings ReadStartupSettings(Configuration& profile) {
    StartupSettings s;
    s.valid &=
        profile.ReadInteger("configuration", "BaudrateFactor", s.factor, 1, kMaxBaudrateFactor);
    s.valid &=
        profile.ReadInteger("configuration", "Baudrate", s.baudrate, kMinBaudrate, kMaxBaudrate);
    // Port names go up to the path limit; one character more is read so that the port itself
    // refuses a longer name, with its reason, instead of opening one cut short.
    s.port = profile.Select("configuration", "Port").ReadText(SerialPort::kMaxPortName + 1);
    profile.ReadInteger("configuration", "DebugLevel", s.debugLevel);
    profile.clear();
    return s;
}

std::optional<bool> ReadEcho(Configuration& profile) {
    long echo = 0;
    const bool taken = profile.ReadPlainInteger("configuration", "Echo", echo);
    profile.clear();
    if (!taken)
        return std::nullopt;
    return echo != 0;
}

bool ConfiguredEcho(Configuration& profile) {
    return ReadEcho(profile).value_or(false);
}

std::optional<unsigned long> ConfiguredBlockSize(Configuration& profile) {
    unsigned long size = kDefaultBlockSize;
    // 0 passes, for the load's own message about it.
    if (!profile.ReadInteger("LoadMemory", "BlockSize", size, 0, kMaxBlockSize))
        return std::nullopt;
    return size;
}

void ApplyWriteResponseTimeout(Configuration& profile, ZimpEngine& engine) {
    long seconds = 0;  // missing: the defaults; out of range: reported, then the defaults
    profile.ReadInteger("configuration", "WriteResponseTimeout", seconds, 1,
                        static_cast<long long>(kMaxWriteResponseSeconds));
    profile.clear();
    if (seconds >= 1) {
        const uint32_t ms = static_cast<uint32_t>(seconds) * 1000u;
        engine.SetWriteResponseTimeouts(ms, ms);
    } else {
        engine.SetWriteResponseTimeouts(ZimpEngine::kWriteResponseMs, ZimpEngine::kEraseResponseMs);
    }
}

bool OpenConfiguredPort(SerialPort& port, const StartupSettings& s) {
    // A factor of 0 is refused by the port, which keeps its factor of 1.
    port.SetBaudrateFactor(static_cast<uint32_t>(s.factor));
    if (!s.valid || s.baudrate <= 0 || s.port.empty())
        return false;
    return port.Open(s.port, static_cast<uint32_t>(s.baudrate));
}

bool OpenPortSayingWhy(SerialPort& port, const StartupSettings& s) {
    if (OpenConfiguredPort(port, s))
        return true;
    if (!s.valid)
        return false;
    // The operation then reports the closed port in its own words; this line says why.
    std::ostream& out = streams::msgout();
    if (s.port.empty())
        out << "No serial port is configured (configuration/Port or --port).\n";
    else if (s.baudrate <= 0)
        out << "Cannot open port " << s.port
            << ": no rate is configured (configuration/Baudrate or --baud).\n";
    else
        out << "Cannot open port " << s.port << ": "
            << platform::OpenFailureText(port.LastOpenFailure()) << ".\n";
    return false;
}

}  // namespace memops
