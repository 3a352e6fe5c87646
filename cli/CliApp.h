#pragma once
// The `zimp` command line: global options, the configuration and the port as the desktop
// program sets them up, and the commands over the shared procedures.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CancelWatcher.h"
#include "cli/CliPresenter.h"
#include "cli/ConfigurationCopies.h"
#include "serial/SerialPort.h"
#include "streams/Configuration.h"
#include "streams/ConsoleBuffer.h"
#include "trace/WireTrace.h"

namespace cli {

enum ExitCode : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitCancelled = 130 };

struct GlobalOptions {
    std::string config;  // empty: "ZIMPProtocol.ini" looked up as the program looks it up
    std::optional<std::string> port;  // the one port, when one is given
    std::vector<std::string> ports;   // every --port, in order
    std::string portsPattern;         // --ports
    std::string report;               // --report FILE
    std::string trace;                // --trace FILE
    bool station = false;
    std::optional<std::string> count;  // --count N
    std::optional<std::string> baud, factor, blockSize;
    std::optional<std::string> responseTimeout;  // seconds
    std::optional<bool> echo;
    bool debug = false;
    bool quiet = false;
};

class CliApp {
  public:
    CliApp();
    ~CliApp();

    int Main(int argc, char** argv);

    streams::Configuration& Profile() { return *profile_; }
    serial::SerialPort& Port() { return port_; }
    CliPresenter& Presenter() { return presenter_; }
    CancelWatcher& Canceller() { return canceller_; }
    const GlobalOptions& Options() const { return options_; }
    const std::string& ConfigPath() const { return configPath_; }
    bool Quiet() const { return options_.quiet; }
    // Whether the command runs on several ports at once (several --port, --ports, --station
    // or --report).
    bool SeveralPorts() const;
    // Reads the configuration for such a run, before its threads start; false with the
    // message written.
    bool PreparePortConfigurations();
    // A configuration for one port of such a run: a private copy of the one read at start,
    // with this run's overrides and the port. nullptr with the message written.
    std::unique_ptr<streams::Configuration> PortConfiguration(const std::string& port);
    // Opens the port from the configuration (with this run's overrides); false when it cannot.
    bool OpenPort();
    // The exit status after an operation: 130 when interrupted, 2 when a configuration value
    // was refused, else ok or failed.
    int Finish(bool ok) const;

  private:
    int RunCommand(int argc, char** argv);
    // Takes the global options off the front of args; false with error for a bad one.
    bool ParseGlobal(std::vector<std::string>& args, bool& help, bool& version, std::string& error);
    void PrintUsage() const;
    bool SetUpConfiguration();
    void ApplyOverrides(streams::ConfigurationBuffer& buffer) const;

    CancelWatcher canceller_;  // first: blocks the interrupt signals before any thread starts
    CliPresenter presenter_;
    streams::StderrLogSink logSink_;
    GlobalOptions options_;
    std::string configPath_;
    std::unique_ptr<streams::Configuration> profile_;
    trace::WireTrace trace_;  // --trace; outlives the port that writes into it
    serial::SerialPort port_;
    std::unique_ptr<ConfigurationCopies> copies_;
};

// Opens port from profile; false with the reason written (a refused value is its own message).
bool OpenPortOf(serial::SerialPort& port, streams::Configuration& profile);

// Command helpers.
// Flushes standard output; false when it fails (the reason is kept for the closing report).
bool FlushOutput();
bool ParseUnsigned(const std::string& text, unsigned long& value, int base = 0);
// A rate, size or count given as an option: decimal digits, or hex digits after "0x" or "0X".
// A leading 0 is a decimal digit like any other, never the octal prefix; no sign, no blanks,
// at most 32 bits.
bool ParseCount(const std::string& text, unsigned long& value);
// A hex option value (digits after an optional "0x"), from 0 to max.
bool ParseHexOption(const std::string& text, uint32_t max, uint32_t& value);
int UsageError(const std::string& message);
// "--type S1|S2|S3" (any case) into type, upper case; false for another value.
bool ParseRecordType(std::string value, std::string& type);

}  // namespace cli
