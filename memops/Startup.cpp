#include "memops/Startup.h"

std::string LocateConfiguration(const platform::FileLocator& locator) {
    return locator.Locate(kConfigurationFile, platform::FileLocator::kEverywhere).value_or("");
}

StartupSettings ReadStartupSettings(profilestream& profile) {
    StartupSettings s;
    profile.clear();
    profile.SelectSection("configuration");
    profile.SelectKey("BaudrateFactor");
    profile.ReadInteger(s.factor);
    profile.clear();
    profile.SelectKey("Baudrate");
    profile.ReadInteger(s.baudrate);
    profile.clear();
    profile.SelectKey("Port");
    s.port = profile.ReadText(79);
    profile.clear();
    profile.SelectKey("DebugLevel");
    profile.ReadInteger(s.debugLevel);
    profile.clear();
    return s;
}

bool OpenConfiguredPort(SerialPort& port, const StartupSettings& s) {
    // A factor of 0 is refused by the port, which keeps its factor of 1.
    port.SetBaudrateFactor(static_cast<uint32_t>(s.factor));
    if (s.baudrate <= 0 || s.port.empty())
        return false;
    return port.Open(s.port, static_cast<uint32_t>(s.baudrate));
}
