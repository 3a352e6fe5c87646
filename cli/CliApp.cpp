#include "cli/CliApp.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "memops/Startup.h"
#include "platform/FileLocator.h"
#include "platform/HexText.h"
#include "platform/IniFile.h"
#include "streams/MessageStreams.h"

using memops::kMaxBaudrate;
using memops::kMaxBaudrateFactor;
using memops::kMaxBlockSize;
using memops::kMaxWriteResponseSeconds;
using memops::kMinBaudrate;
using memops::LocateConfiguration;
using memops::ReadStartupSettings;

using streams::AttachLogSink;
using streams::Configuration;
using streams::ConfigurationBuffer;
using streams::logout;
using streams::msgout;
using streams::SetMessagePresenter;

namespace cli {

namespace {

const char* kUsage =
    "usage: zimp [global options] COMMAND [arguments]\n"
    "\n"
    "Global options (before the command):\n"
    "  --config FILE      configuration file, which must exist (default: ZIMPProtocol.ini\n"
    "                     in the working directory, else beside the program); a file over\n"
    "                     1 MiB is refused\n"
    "  --port DEVICE      serial device, instead of configuration/Port; repeated, the\n"
    "                     command (load, save, verify, request) runs on every port at once\n"
    "  --ports PATTERN    every device matching the shell-style PATTERN, at once\n"
    "                     (such as '/dev/serial/by-id/usb-FTDI*')\n"
    "  --report FILE      append one JSON line per radio to FILE (several ports)\n"
    "  --trace FILE       record every byte sent and received, with its time and its frame,\n"
    "                     in FILE (zimp trace show FILE reads it); on several ports FILE\n"
    "                     takes {port} and {n}, as a save's does, one trace per radio\n"
    "  --station          keep running: wait for a radio on each port, program it, wait\n"
    "                     until it is removed, and again, until Ctrl-C\n"
    "  --count N          with --station: end after N radios in all\n"
    "  --baud RATE        nominal rate, instead of configuration/Baudrate\n"
    "  --factor N         rate factor, instead of configuration/BaudrateFactor\n"
    "  --echo, --no-echo  the radio echoes what it receives (configuration/Echo)\n"
    "  --block-size N     bytes per Write Data request (LoadMemory/BlockSize)\n"
    "  --response-timeout SECONDS\n"
    "                     wait at most this long (1 to 86400) for the radio's answer to a\n"
    "                     write or an erase, once acknowledged, instead of\n"
    "                     configuration/WriteResponseTimeout; without either, 60 s for a\n"
    "                     write and 600 s for an erase; then \"Reply Timeout.\" and status 1\n"
    "  --debug            the debug log on stderr\n"
    "  --quiet            no progress and no summary lines\n"
    "  --help             this text; COMMAND --help for a command's own\n"
    "  --version          the version of zimp\n"
    "\n"
    "Rates, sizes, counts and times given as options, here and after the command, are decimal,\n"
    "or hex after 0x; a leading 0 is not the octal prefix there.\n"
    "Overrides last for this run only; nothing is written back for them. A configured\n"
    "Baudrate (60-10000000), BaudrateFactor (1-1024), BlockSize (0-8192; 1024 when the key\n"
    "is missing), WriteResponseTimeout (1-86400) or Echo that is not one plain number in its\n"
    "range (no number at all, text after it, or a leading 0 that reads as octal: 09600, 010;\n"
    "0x hex is taken) is reported with its section, key and value and exits 2.\n"
    "Exit status: 0 success, 1 the operation failed (also when standard output cannot be\n"
    "written), 2 bad usage or configuration, 130 interrupted (Ctrl-C, SIGTERM and SIGHUP\n"
    "run the operation's own cancel; zimp then waits, at most 2 s, for the radio's late\n"
    "answer to an interrupted transfer before it exits. The same signal again within 200 ms\n"
    "counts once; a later one ends zimp at once, a save still keeping FILE.partial).\n"
    "\n"
    "Commands:\n";

int g_outputError = 0;  // errno of the first failed flush of standard output

}  // namespace

bool FlushOutput() {
    if (std::fflush(stdout) == 0)
        return true;
    if (g_outputError == 0)
        g_outputError = errno;
    return false;
}

bool ParseUnsigned(const std::string& text, unsigned long& value, int base) {
    if (text.empty() || text[0] == '-' || text[0] == '+' ||
        std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (errno || *end != '\0' || v > 0xFFFFFFFFull)
        return false;
    value = static_cast<unsigned long>(v);
    return true;
}

bool ParseCount(const std::string& text, unsigned long& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty())
        return false;
    for (char c : digits)
        if (hex ? !std::isxdigit(static_cast<unsigned char>(c))
                : !std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return ParseUnsigned(digits, value, hex ? 16 : 10);
}

bool ParseHexOption(const std::string& text, uint32_t max, uint32_t& value) {
    uint32_t v = 0;
    if (!platform::ParseHexNumber(text, v) || v > max)
        return false;
    value = v;
    return true;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "zimp: %s\n", message.c_str());
    return kExitUsage;
}

bool ParseRecordType(std::string value, std::string& type) {
    for (char& c : value)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (value != "S1" && value != "S2" && value != "S3")
        return false;
    type = value;
    return true;
}

CliApp::CliApp() {
    SetMessagePresenter(&presenter_);
}

CliApp::~CliApp() {
    canceller_.SetHandler(nullptr);
    port_.Close();
    profile_.reset();
    AttachLogSink(nullptr);
    SetMessagePresenter(nullptr);
}

bool CliApp::ParseGlobal(std::vector<std::string>& args, bool& help, bool& version,
                         std::string& error) {
    CommandLine line;
    line.StopAtOperand();
    CLI::App& o = line.Options();
    auto text = [&](const char* name, std::optional<std::string>& to) {
        o.add_option_function<std::string>(name, [&to](const std::string& v) { to = v; });
    };
    o.add_option("--config", options_.config);
    o.add_option("--port", options_.ports)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    o.add_option("--ports", options_.portsPattern);
    o.add_option("--report", options_.report);
    o.add_option("--trace", options_.trace);
    o.add_flag("--station", options_.station);
    text("--count", options_.count);
    text("--baud", options_.baud);
    text("--factor", options_.factor);
    text("--block-size", options_.blockSize);
    text("--response-timeout", options_.responseTimeout);
    bool echo = false;
    const CLI::Option* echoOption = o.add_flag("--echo,!--no-echo", echo);
    o.add_flag("--debug", options_.debug);
    o.add_flag("-q,--quiet", options_.quiet);
    o.add_flag("--version", version);
    ParsedArguments parsed = line.Parse(args);
    if (options_.ports.size() == 1)
        options_.port = options_.ports[0];
    if (echoOption->count() > 0)
        options_.echo = echo;
    help = parsed.help;
    args = parsed.rest;
    // An option lacking its value, or one that is no global option, before the command.
    std::string bad = parsed.incomplete;
    if (bad.empty() && !args.empty() && !args[0].empty() && args[0][0] == '-')
        bad = args[0];
    if (!bad.empty() && !help && !version) {
        error = "unknown or incomplete option '" + bad + "'";
        return false;
    }
    // Decimal (or 0x hex) here; handed on in decimal, so that the configuration's own
    // notation never reads a leading 0 as octal.
    auto number = [&error](std::optional<std::string>& value, unsigned long min, unsigned long max,
                           const char* message) {
        unsigned long n = 0;
        if (!value)
            return;
        if (!ParseCount(*value, n) || n < min || n > max)
            error = message;
        else
            *value = std::to_string(n);
    };
    number(options_.baud, kMinBaudrate, kMaxBaudrate, "--baud takes a number from 60 to 10000000");
    number(options_.factor, 1, kMaxBaudrateFactor, "--factor takes a number from 1 to 1024");
    number(options_.blockSize, 1, kMaxBlockSize, "--block-size takes a number from 1 to 8192");
    number(options_.responseTimeout, 1, kMaxWriteResponseSeconds,
           "--response-timeout takes 1 to 86400 seconds");
    number(options_.count, 1, 0xFFFFFFFF, "--count takes a number of radios from 1");
    if (error.empty() && options_.count && !options_.station)
        error = "--count goes with --station";
    if (error.empty() && !options_.portsPattern.empty() && !options_.ports.empty())
        error = "--ports and --port do not go together";
    return error.empty();
}

bool CliApp::SetUpConfiguration() {
    if (!options_.config.empty()) {
        configPath_ = options_.config;
    } else {
        configPath_ = LocateConfiguration(platform::FileLocator());
    }
    // A mistyped --config must not become a new file full of keys; a located file that cannot
    // be read whole would be read as empty and then overwritten key by key.
    if (!configPath_.empty()) {
        switch (platform::CheckIniFile(configPath_)) {
            case platform::ReadStatus::Ok:
                break;
            case platform::ReadStatus::Missing:
                if (!options_.config.empty()) {
                    UsageError("configuration file " + configPath_ + " does not exist");
                    return false;
                }
                break;
            case platform::ReadStatus::TooLarge:
                UsageError("configuration file " + configPath_ + " is larger than 1 MiB");
                return false;
            case platform::ReadStatus::Unreadable:
                UsageError("cannot read configuration file " + configPath_ + ": " +
                           std::strerror(errno));
                return false;
        }
    }
    profile_ = std::make_unique<Configuration>(configPath_);
    if (options_.port)
        profile_->Buffer().Override("configuration", "Port", *options_.port);
    ApplyOverrides(profile_->Buffer());
    if (options_.debug) {
        AttachLogSink(&logSink_);
        logout() << "Start application logout.\n";
    }
    return true;
}

void CliApp::ApplyOverrides(ConfigurationBuffer& b) const {
    if (options_.baud)
        b.Override("configuration", "Baudrate", *options_.baud);
    if (options_.factor)
        b.Override("configuration", "BaudrateFactor", *options_.factor);
    if (options_.echo)
        b.Override("configuration", "Echo", *options_.echo ? "1" : "0");
    if (options_.blockSize)
        b.Override("LoadMemory", "BlockSize", *options_.blockSize);
    if (options_.responseTimeout)
        b.Override("configuration", "WriteResponseTimeout", *options_.responseTimeout);
}

bool CliApp::SeveralPorts() const {
    return options_.ports.size() > 1 || !options_.portsPattern.empty() || options_.station ||
           !options_.report.empty();
}

bool CliApp::PreparePortConfigurations() {
    std::string error;
    copies_ = std::make_unique<ConfigurationCopies>();
    if (copies_->Take(configPath_, error))
        return true;
    copies_.reset();
    UsageError(error);
    return false;
}

std::unique_ptr<Configuration> CliApp::PortConfiguration(const std::string& port) {
    std::string error;
    if (!copies_)
        return nullptr;
    const std::string path = copies_->NewCopy(error);
    if (!error.empty()) {
        msgout() << error << "\n";
        return nullptr;
    }
    auto copy = std::make_unique<Configuration>(path);
    copy->Buffer().Override("configuration", "Port", port);
    ApplyOverrides(copy->Buffer());
    return copy;
}

bool CliApp::OpenPort() {
    return OpenPortOf(port_, *profile_);
}

bool OpenPortOf(serial::SerialPort& port, Configuration& profile) {
    return memops::OpenPortSayingWhy(port, ReadStartupSettings(profile));
}

int CliApp::Finish(bool ok) const {
    if (canceller_.Cancelled())
        return kExitCancelled;
    if (profile_ && profile_->Refused() > 0)
        return kExitUsage;
    return ok ? kExitOk : kExitFailed;
}

int CliApp::Main(int argc, char** argv) {
    int code = RunCommand(argc, argv);
    // An interrupted transfer may still be answered: the answer is taken off the line here,
    // so that the next command does not take it for its own.
    if (canceller_.Cancelled())
        port_.DiscardStaleInput();
    // Results that never reached their reader are a failure, whatever the command made of it.
    if (!FlushOutput() || std::ferror(stdout)) {
        const int error = g_outputError != 0 ? g_outputError : EIO;
        msgout() << "Cannot write standard output: " << std::strerror(error) << ".\n";
        if (code == kExitOk)
            code = kExitFailed;
    }
    return code;
}

void CliApp::PrintUsage() const {
    std::fputs(kUsage, stdout);
    for (const Command& c : AllCommands())
        std::printf("  %-11s %s\n", c.name, c.summary);
}

int CliApp::RunCommand(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    bool help = false;
    bool version = false;
    if (!ParseGlobal(args, help, version, error))
        return UsageError(error + " (see zimp --help)");
    if (version && !help) {
        std::printf("zimp %s\n", ZIMP_VERSION);
        return kExitOk;
    }
    if (help || args.empty() || args[0] == "help") {
        PrintUsage();
        return help || !args.empty() ? kExitOk : kExitUsage;
    }
    const Command* cmd = FindCommand(args[0]);
    if (!cmd)
        return UsageError("unknown command '" + args[0] + "' (see zimp --help)");
    const std::string name = cmd->name;
    if (SeveralPorts() && name != "load" && name != "save" && name != "verify" && name != "request")
        return UsageError(name +
                          " runs on one port: several ports, --ports, --station and "
                          "--report are for load, save, verify and request");
    std::unique_ptr<CliCommand> command = cmd->make();
    CommandLine line;
    command->Define(line.Options());
    ParsedArguments parsed = line.Parse({args.begin() + 1, args.end()});
    if (parsed.help) {
        std::fputs(cmd->help, stdout);
        return kExitOk;
    }
    if (!SetUpConfiguration())
        return kExitUsage;
    std::string bad = parsed.incomplete;
    if (bad.empty() && !command->DashedOperands())
        bad = parsed.FirstDashed();
    if (!bad.empty())
        return UsageError(command->UnknownOption(cmd->name, bad));
    // On several ports every radio has a trace of its own (MultiPortRun).
    if (options_.trace.empty() || SeveralPorts())
        return command->Run(*this, parsed.rest);
    if (const std::string why = trace_.Open(options_.trace); !why.empty())
        return UsageError("cannot write the trace " + options_.trace + ": " + why);
    std::string invocation = "zimp";
    for (int i = 1; i < argc; ++i)
        invocation += std::string(" ") + argv[i];
    trace_.Note(invocation);
    port_.SetTrace(&trace_);
    int code = command->Run(*this, parsed.rest);
    port_.SetTrace(nullptr);
    if (const std::string why = trace_.Close(); !why.empty()) {
        msgout() << "Cannot write the trace " << options_.trace << ": " << why << ".\n";
        if (code == kExitOk)
            code = kExitFailed;
    }
    return code;
}

}  // namespace cli
