// zimp boot, zimp tqv-boot and zimp raw: the procedures below ZIMP.

#include <cstdio>

#include "cli/CliApp.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "memops/BootLoad.h"
#include "memops/ManualZimp.h"
#include "memops/TqvBootLoad.h"
#include "platform/Deadline.h"

using memops::BootLoad;
using memops::BootLoadSettings;
using memops::BootOutcome;
using memops::ManualZimp;
using memops::ManualZimpView;
using memops::PostedMessages;
using memops::ReadBootLoadSettings;
using memops::ReadTqvSettings;
using memops::TqvBootLoad;
using memops::TqvSettings;
using memops::ValidateBootLoadSettings;
using memops::ValidateTqvSettings;
using memops::WriteTqvSettings;

namespace cli {

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

// A rate, factor or time as ParseCount reads it; out is set only when it is one.
bool ParseLong(const std::string& text, long& out) {
    unsigned long n = 0;
    if (!ParseCount(text, n))
        return false;
    out = static_cast<long>(n);
    return true;
}

class BootCli final : public CliCommand {
  public:
    void Define(CLI::App& o) override { rate_ = o.add_option("--rate", rateText_); }
    int Run(CliApp& app, const std::vector<std::string>& operands) override {
        BootLoadSettings s;
        ReadBootLoadSettings(app.Profile(), s);
        if (rate_->count() > 0 && !ParseLong(rateText_, s.rate))
            return UsageError("--rate takes a number");
        if (!operands.empty())
            s.fileName = operands.back();
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

  private:
    const CLI::Option* rate_ = nullptr;
    std::string rateText_;
};

class TqvBootCli final : public CliCommand {
  public:
    void Define(CLI::App& o) override {
        numbers_[0].option = o.add_option("--header-rate", numbers_[0].text);
        numbers_[1].option = o.add_option("--data-rate", numbers_[1].text);
        numbers_[2].option = o.add_option("--tqv-factor", numbers_[2].text);
        patch_ = o.add_option("--patch", patchFile_);
        noPatch_ = o.add_flag("--no-patch");
        processor_ = o.add_flag("--vintrel,!--ambrel", vintrel_);
        options_ = &o;
    }
    int Run(CliApp& app, const std::vector<std::string>& operands) override;

  private:
    // The options over the section's values; false when a number is not one.
    bool Apply(TqvSettings& s) const;

    struct Number {
        const CLI::Option* option = nullptr;
        std::string text;
    };
    Number numbers_[3];  // header rate, data rate, factor
    const CLI::Option *patch_ = nullptr, *noPatch_ = nullptr, *processor_ = nullptr;
    const CLI::App* options_ = nullptr;
    std::string patchFile_;
    bool vintrel_ = false;
};

bool TqvBootCli::Apply(TqvSettings& s) const {
    long factor = static_cast<long>(s.factor);
    long* targets[] = {&s.headerRate, &s.dataRate, &factor};
    bool good = true;
    for (int i = 0; i < 3; ++i)
        if (numbers_[i].option->count() > 0 && !ParseLong(numbers_[i].text, *targets[i]))
            good = false;
    if (numbers_[2].option->count() > 0)
        s.factor = static_cast<unsigned long>(factor);
    // --patch FILE and --no-patch: the later one counts.
    if (patch_->count() > 0)
        s.patchFile = patchFile_;
    if (const CLI::Option* last = LastGiven(*options_, patch_, noPatch_))
        s.disablePatch = last == noPatch_ ? 1 : 0;
    if (processor_->count() > 0)
        s.processorType = vintrel_ ? 1 : 0;
    return good;
}

int TqvBootCli::Run(CliApp& app, const std::vector<std::string>& operands) {
    TqvSettings s;
    ReadTqvSettings(app.Profile(), s);
    if (!Apply(s))
        return UsageError("rates and the factor take numbers");
    if (!operands.empty())
        s.file = operands.back();
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

class HexCollector : public ManualZimpView {
  public:
    void AppendReply(const std::string& text) override {
        if (text != "\r\n>")
            hex += text;
    }
    std::string hex;
};

// Operands may start with '-': the bytes are refused by the raw sender's own checks.
class RawCli final : public CliCommand {
  public:
    void Define(CLI::App& o) override {
        o.add_flag("--checksum,!--no-checksum", checksum_);
        listen_ = o.add_option("--listen", listenText_);
    }
    bool DashedOperands() const override { return true; }
    int Run(CliApp& app, const std::vector<std::string>& operands) override;

  private:
    // Prints what arrives until the listening time is over or the run is interrupted.
    void Listen(CliApp& app, ManualZimp& manual, PostedMessages& messages, long ms) const;

    bool checksum_ = true;
    const CLI::Option* listen_ = nullptr;
    std::string listenText_;
};

void RawCli::Listen(CliApp& app, ManualZimp& manual, PostedMessages& messages, long ms) const {
    const platform::Deadline deadline = platform::Deadline::In(static_cast<uint64_t>(ms));
    for (;;) {
        const int left = deadline.RemainingMs();
        if (left == 0 || app.Canceller().Cancelled())
            break;
        PostedMessages::Message m;
        if (messages.Take(m, static_cast<uint32_t>(left)))
            manual.OnEvent(static_cast<int32_t>(m.wParam));
    }
}

int RawCli::Run(CliApp& app, const std::vector<std::string>& operands) {
    long listen = 500;
    if (listen_->count() > 0 && (!ParseLong(listenText_, listen) || listen < 0 || listen > 600000))
        return UsageError("--listen takes 0 to 600000 ms");
    if (operands.size() > 1)
        return UsageError("raw takes one HEX argument");
    if (operands.empty())
        return UsageError("raw needs the bytes as HEX (may be \"\")");
    app.OpenPort();
    HexCollector view;
    PostedMessages messages;
    ManualZimp manual(&app.Port(), view, messages);
    if (!manual.Open())
        return app.Finish(false);
    if (!manual.Send(operands[0], checksum_))
        return kExitUsage;
    app.Canceller().SetHandler([&] { manual.Close(); });
    Listen(app, manual, messages, listen);
    app.Canceller().SetHandler(nullptr);
    std::printf("%s\n", view.hex.c_str());
    return app.Finish(true);
}

}  // namespace

std::unique_ptr<CliCommand> MakeBootCommand() {
    return std::make_unique<BootCli>();
}

std::unique_ptr<CliCommand> MakeTqvBootCommand() {
    return std::make_unique<TqvBootCli>();
}

std::unique_ptr<CliCommand> MakeRawCommand() {
    return std::make_unique<RawCli>();
}

}  // namespace cli
