// zimp boot, zimp tqv-boot and zimp raw: the procedures below ZIMP.

#include <cstdio>

#include "cli/CliApp.h"
#include "cli/Commands.h"
#include "memops/BootLoad.h"
#include "memops/ManualZimp.h"
#include "memops/TqvBootLoad.h"
#include "platform/Clock.h"

const char* const kBootHelp =
    "usage: zimp boot [FILE] [--rate N]\n"
    "\n"
    "Boot-loads a program into the radio's internal RAM through the controller's serial\n"
    "bootstrap: 0xFF, then the program bytes (gaps 0x00), each echoed back and compared.\n"
    "A program of more than 2000 bytes is refused before anything is sent. FILE and the\n"
    "rate (50 to 115200) default to BootLoad/File and BootLoad/Baudrate; nothing is written\n"
    "back. Prints \"echo: N of M bytes\".\n"
    "Exit status 0 when the whole echo came back and agreed (no message), 1 otherwise (also\n"
    "\"Echo stopped after N of M bytes.\"), 2 bad usage, 130 interrupted.\n";

const char* const kTqvBootHelp =
    "usage: zimp tqv-boot [FILE] [--patch FILE|--no-patch] [--header-rate N] [--data-rate N]\n"
    "                     [--tqv-factor N] [--ambrel|--vintrel]\n"
    "\n"
    "Sends the optional patch and then the program to a TQV radio, each as one block (header\n"
    "at the header rate, data and checksum at the data rate) acknowledged with 0x50. A Vintrel\n"
    "radio first answers \"Z\" to \"aA\". Defaults come from section TqvBootLoad; the values\n"
    "used are written back there afterwards, as the dialog's OK does.\n"
    "Exit status 0 success, 1 failed, 2 bad usage.\n";

const char* const kRawHelp =
    "usage: zimp raw HEX [--checksum|--no-checksum] [--listen MS]\n"
    "\n"
    "Sends the bytes of HEX (an even number of hex digits, at most 254) as they are, with a\n"
    "checksum byte appended unless --no-checksum, and prints every byte that arrives within\n"
    "the listening time (default 500 ms) as hex on stdout.\n";

namespace {
bool TakeNumber(const std::vector<std::string>& args, size_t& i, const std::string& name, long& out,
                bool& bad) {
    std::string v;
    if (!TakeValue(args, i, name, v))
        return false;
    char* end = nullptr;
    long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0')
        bad = true;
    out = n;
    return true;
}
}  // namespace

int CmdBoot(CliApp& app, const std::vector<std::string>& args) {
    BootLoadSettings s;
    ReadBootLoadSettings(app.Profile(), s);
    bool bad = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (TakeNumber(args, i, "--rate", s.rate, bad))
            continue;
        if (!args[i].empty() && args[i][0] == '-')
            return UsageError("boot: unknown or incomplete option '" + args[i] + "'");
        s.fileName = args[i];
    }
    if (bad)
        return UsageError("--rate takes a number");
    if (!ValidateBootLoadSettings(s))
        return kExitUsage;
    app.OpenPort();
    BootLoad boot(&app.Port());
    app.Canceller().SetHandler([&] { boot.Cancel(); });
    bool ok = boot.Run(s) == BootOutcome::Loaded;
    app.Canceller().SetHandler(nullptr);
    if (!app.Quiet())
        std::printf("echo: %u of %u bytes\n", boot.EchoCount(), boot.ProgramLength());
    return app.Finish(ok);
}

int CmdTqvBoot(CliApp& app, const std::vector<std::string>& args) {
    TqvSettings s;
    ReadTqvSettings(app.Profile(), s);
    bool bad = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string v;
        long factor = 0;
        if (TakeNumber(args, i, "--header-rate", s.headerRate, bad))
            continue;
        if (TakeNumber(args, i, "--data-rate", s.dataRate, bad))
            continue;
        if (TakeNumber(args, i, "--tqv-factor", factor, bad)) {
            if (factor < 0)
                bad = true;
            s.factor = static_cast<unsigned long>(factor);
        } else if (TakeValue(args, i, "--patch", v)) {
            s.patchFile = v;
            s.disablePatch = 0;
        } else if (args[i] == "--no-patch") {
            s.disablePatch = 1;
        } else if (args[i] == "--ambrel") {
            s.processorType = 0;
        } else if (args[i] == "--vintrel") {
            s.processorType = 1;
        } else if (!args[i].empty() && args[i][0] == '-') {
            return UsageError("tqv-boot: unknown or incomplete option '" + args[i] + "'");
        } else {
            s.file = args[i];
        }
    }
    if (bad)
        return UsageError("rates and the factor take numbers");
    if (!ValidateTqvSettings(s))
        return kExitUsage;
    app.OpenPort();
    TqvBootLoad tqv(&app.Port());
    bool ok = tqv.Run(s) == BootOutcome::Loaded;
    WriteTqvSettings(app.Profile(), s);
    if (!app.Quiet())
        std::printf("blocks acknowledged: %u\n", tqv.BlocksSent());
    return app.Finish(ok);
}

namespace {
class HexCollector : public ManualZimpView {
  public:
    void AppendReply(const std::string& text) override {
        if (text != "\r\n>")
            hex += text;
    }
    std::string hex;
};
}  // namespace

int CmdRaw(CliApp& app, const std::vector<std::string>& args) {
    bool checksum = true;
    long listen = 500;
    bool bad = false, haveText = false;
    std::string text;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--checksum")
            checksum = true;
        else if (args[i] == "--no-checksum")
            checksum = false;
        else if (TakeNumber(args, i, "--listen", listen, bad))
            continue;
        else if (!haveText) {
            text = args[i];
            haveText = true;
        } else {
            return UsageError("raw takes one HEX argument");
        }
    }
    if (bad || listen < 0 || listen > 600000)
        return UsageError("--listen takes 0 to 600000 ms");
    if (!haveText)
        return UsageError("raw needs the bytes as HEX (may be \"\")");
    app.OpenPort();
    HexCollector view;
    PostedMessages messages;
    ManualZimp manual(&app.Port(), view, messages);
    if (!manual.Open())
        return app.Finish(false);
    if (!manual.Send(text, checksum))
        return kExitUsage;
    app.Canceller().SetHandler([&] { manual.Close(); });
    const uint64_t end = platform::TickMs() + static_cast<uint64_t>(listen);
    for (;;) {
        const uint64_t now = platform::TickMs();
        if (now >= end || app.Canceller().Cancelled())
            break;
        PostedMessages::Message m;
        if (messages.Take(m, static_cast<uint32_t>(end - now)))
            manual.OnEvent(static_cast<int32_t>(m.wParam));
    }
    app.Canceller().SetHandler(nullptr);
    std::printf("%s\n", view.hex.c_str());
    return app.Finish(true);
}
