// zimp load MEMORY FILE [options]: the load command with the loading parameters from the
// command line.

#include <cstdio>

#include "cli/CliApp.h"
#include "cli/CliProgress.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "memops/LoadCommand.h"
#include "memops/MemoryKinds.h"
#include "memops/Startup.h"
#include "streams/MessageStreams.h"

using memops::AddChecksumTableFor;
using memops::ConfiguredEcho;
using memops::LoadCommand;
using memops::LoadFrontEnd;
using memops::LoadParameters;
using memops::MemoryKind;
using memops::MemoryKindOf;
using memops::MemoryTypeByName;
using memops::ParseHexText;
using memops::ProgressView;
using memops::ValidateLoadParameters;
using memops::VerifyLoad;
using memops::VerifyOutcome;

using zimp::ZimpEngine;

using streams::msgout;

using srecord::S_Record;

namespace cli {

const char* const kLoadHelp =
    "usage: zimp load MEMORY FILE [--bias HEX] [--compress] [--align N] [--fill HEX]\n"
    "                 [--checksum none|last|address=HEX|block=N] [--verify]\n"
    "\n"
    "Loads the S-Record FILE into a memory of the radio in blocks of LoadMemory/BlockSize\n"
    "bytes (1024 when the key is missing; or --block-size), each a Write Data request, then\n"
    "writes the end marker.\n"
    "MEMORY is ram, flash, int-eeprom, ext-eeprom or pelk.\n"
    "\n"
    "  --bias HEX       added to every block address, 0 to FFFFFF (default 0)\n"
    "  --compress       send LZRW3-A compressed blocks\n"
    "  --align N        blocks start on multiples of N bytes (1 to 16777216); gaps below N\n"
    "                   are filled\n"
    "  --fill HEX       the fill byte for gaps and padding, 0 to FF (default FF)\n"
    "  --checksum MODE  append a checksum table: none, last (after the highest block),\n"
    "                   address=HEX (at that address, 0 to FFFFFF), block=N (after block N,\n"
    "                   0 to 100000)\n"
    "  --verify         read the loaded bytes back afterwards and compare\n"
    "\n"
    "HEX values are hex digits with an optional 0x; N is decimal, or hex after 0x.\n"
    "FILE is stored under LoadMemory/<memory> as the desktop's load does.\n"
    "Exit status 0 loaded, 1 not loaded, 2 bad usage (a value out of its range: nothing is\n"
    "sent), 130 interrupted.\n";

namespace {

// Addresses on the line have 24 bits; an alignment past the whole address space means nothing.
constexpr uint32_t kMaxAddress = 0xFFFFFF;
constexpr unsigned long kMaxAlignment = 0x1000000;

class CliLoadFrontEnd : public LoadFrontEnd {
  public:
    CliLoadFrontEnd(const LoadParameters& wanted, CliProgress& progress)
        : wanted_(wanted), progress_(progress) {}
    bool EditParameters(LoadParameters& params) override {
        std::string title = params.title;
        std::string bias = params.biasText;
        params = wanted_;
        params.title = title;
        if (!biasGiven)
            params.biasText = bias;
        return true;
    }
    ProgressView* Progress() override { return &progress_; }
    bool biasGiven = false;

  private:
    LoadParameters wanted_;
    CliProgress& progress_;
};

class LoadCli final : public CliCommand {
  public:
    void Define(CLI::App& o) override {
        bias_ = o.add_option("--bias", params_.biasText);
        o.add_flag("--compress", params_.compress);
        alignGiven_ = o.add_option("--align", align_);
        fill_ = o.add_option("--fill", params_.fillText);
        checksumGiven_ = o.add_option("--checksum", checksum_);
        o.add_flag("--verify", verify_);
    }
    int Run(CliApp& app, const std::vector<std::string>& operands) override;

  private:
    // The options into params_; the exit status of a refused one, else kExitOk.
    int TakeOptions();
    int TakeChecksum();
    // The image as loaded, read back and compared; false with the message written.
    bool Verify(CliApp& app, LoadCommand& command, const MemoryKind& kind);

    LoadParameters params_;
    const CLI::Option *bias_ = nullptr, *alignGiven_ = nullptr, *fill_ = nullptr,
                      *checksumGiven_ = nullptr;
    std::string align_, checksum_;
    bool verify_ = false;
};

int LoadCli::TakeChecksum() {
    const std::string& v = checksum_;
    if (v == "none") {
        params_.checksumMode = LoadParameters::kNone;
    } else if (v == "last") {
        params_.checksumMode = LoadParameters::kLastAddress;
    } else if (v.rfind("address=", 0) == 0) {
        uint32_t at = 0;
        if (!ParseHexOption(v.substr(8), kMaxAddress, at))
            return UsageError("--checksum address=HEX takes an address from 0 to FFFFFF");
        params_.checksumMode = LoadParameters::kAddress;
        params_.addressText = v.substr(8);
    } else if (v.rfind("block=", 0) == 0) {
        unsigned long n;
        if (!ParseCount(v.substr(6), n) || n > 100000)
            return UsageError("--checksum block=N takes N from 0 to 100000");
        params_.checksumMode = LoadParameters::kBlock;
        params_.blockIndex = static_cast<long>(n);
    } else {
        return UsageError("--checksum takes none, last, address=HEX or block=N");
    }
    return kExitOk;
}

int LoadCli::TakeOptions() {
    uint32_t v = 0;
    if (bias_->count() > 0 && !ParseHexOption(params_.biasText, kMaxAddress, v))
        return UsageError("--bias takes a hex number from 0 to FFFFFF");
    if (fill_->count() > 0 && !ParseHexOption(params_.fillText, 0xFF, v))
        return UsageError("--fill takes a hex byte from 0 to FF");
    if (alignGiven_->count() > 0) {
        unsigned long n;
        if (!ParseCount(align_, n) || n < 1 || n > kMaxAlignment)
            return UsageError("--align takes a number from 1 to 16777216");
        params_.alignment = static_cast<long>(n);
    }
    return checksumGiven_->count() > 0 ? TakeChecksum() : kExitOk;
}

bool LoadCli::Verify(CliApp& app, LoadCommand& command, const MemoryKind& kind) {
    S_Record image;
    uint32_t fill = 0xFF;
    ParseHexText(params_.fillText, fill);
    if (image.Open(params_.fileName.c_str(), static_cast<int>(params_.alignment)) != 0 ||
        !AddChecksumTableFor(image, params_)) {
        msgout() << "Cannot open S Record file - " << params_.fileName << "\n";
        return false;
    }
    ZimpEngine& engine = command.Engine();
    engine.Attach(&app.Port(), ConfiguredEcho(app.Profile()));
    app.Canceller().SetHandler([&] { app.Port().AbortAll(); });
    uint32_t bad = 0;
    const VerifyOutcome verified = VerifyLoad(engine, image, command.Loader().Bias(), kind.code,
                                              static_cast<uint8_t>(fill), bad);
    app.Canceller().SetHandler(nullptr);
    engine.Detach();
    const bool same = verified == VerifyOutcome::Same;
    if (!same) {
        if (verified == VerifyOutcome::Differs)
            msgout() << "Verify failed at address " << std::hex << bad << std::dec << "\n";
        if (!app.Canceller().Cancelled())
            msgout() << "File was not loaded.\n";
    }
    return same;
}

int LoadCli::Run(CliApp& app, const std::vector<std::string>& operands) {
    if (const int refused = TakeOptions(); refused != kExitOk)
        return refused;
    if (operands.size() != 2)
        return UsageError("load takes MEMORY and FILE (see zimp load --help)");
    auto type = MemoryTypeByName(operands[0]);
    if (!type)
        return UsageError("unknown memory '" + operands[0] + "'");
    params_.fileName = operands[1];
    if (!ValidateLoadParameters(params_))
        return kExitUsage;
    if (params_.alignment < 1)
        params_.alignment = 1;

    app.OpenPort();  // a port that does not open is reported by the transfer
    CliProgress progress(app.Quiet());
    CliLoadFrontEnd frontEnd(params_, progress);
    frontEnd.biasGiven = bias_->count() > 0;
    LoadCommand command(&app.Port(), &app.Profile());
    app.Canceller().SetHandler([&] { progress.Cancel([&] { command.Cancel(); }); });
    LoadCommand::Outcome outcome = command.Run(*type, frontEnd);
    app.Canceller().SetHandler(nullptr);
    if (outcome != LoadCommand::Outcome::Loaded)
        return app.Finish(false);

    const MemoryKind& kind = MemoryKindOf(*type);
    if (verify_ && !Verify(app, command, kind))
        return app.Finish(false);
    if (!app.Quiet())
        std::printf("loaded %u bytes from %s into %s%s\n", command.Loader().Image().TotalLength(),
                    params_.fileName.c_str(), kind.cliName, verify_ ? " (verified)" : "");
    return app.Finish(true);
}

}  // namespace

std::unique_ptr<CliCommand> MakeLoadCommand() {
    return std::make_unique<LoadCli>();
}

}  // namespace cli
