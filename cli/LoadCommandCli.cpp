// zimp load MEMORY FILE [options]: the load command with the loading parameters from the
// command line.

#include <cstdio>

#include "cli/CliApp.h"
#include "cli/CliProgress.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/MultiPortCli.h"
#include "memops/LoadCommand.h"
#include "memops/MemoryKinds.h"
#include "station/FileDigest.h"
#include "station/SerialCounter.h"
#include "streams/MessageStreams.h"

using memops::CheckLoadFileName;
using memops::ChecksumTable;
using memops::LoadCommand;
using memops::LoadRequest;
using memops::MemoryByName;
using memops::MemoryKindOf;

namespace cli {

const char* const kLoadHelp =
    "usage: zimp load MEMORY FILE [--bias HEX] [--compress] [--align N] [--fill HEX]\n"
    "                 [--checksum none|last|address=HEX|block=N] [--verify] [--remember]\n"
    "                 [--serial ADDRESS=FILE]\n"
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
    "  --remember       store FILE under LoadMemory/<memory> in the configuration, as the\n"
    "                   desktop's load does (without it the configuration is not written;\n"
    "                   not with several ports)\n"
    "  --serial ADDRESS=FILE\n"
    "                   after a good load, write a serial number at ADDRESS (hex, in the\n"
    "                   same memory) as 4 bytes, most significant first, then the end\n"
    "                   marker again. FILE holds the next number in decimal; it is taken\n"
    "                   under FILE.lock (stations may share FILE) and FILE is replaced with\n"
    "                   the next number only after the write succeeded\n"
    "\n"
    "Several ports (zimp --port A --port B ... load, or --ports PATTERN, --station,\n"
    "--report FILE; see zimp --help): the file is read once and loaded into every radio at\n"
    "once; one line per port shows its progress, and a table sums up every radio (port,\n"
    "by-id name, outcome, bytes, time, serial, message). Exit status 0 only when every radio\n"
    "was loaded.\n"
    "\n"
    "HEX values are hex digits with an optional 0x; N is decimal, or hex after 0x.\n"
    "Exit status 0 loaded, 1 not loaded, 2 bad usage (a value out of its range: nothing is\n"
    "sent), 130 interrupted.\n";

namespace {

// Addresses on the line have 24 bits; an alignment past the whole address space means nothing.
constexpr uint32_t kMaxAddress = 0xFFFFFF;
constexpr unsigned long kMaxAlignment = 0x1000000;

// The load, or (verifyOnly) the comparison of a radio's memory with what a load would send.
class LoadCli final : public CliCommand {
  public:
    explicit LoadCli(bool verifyOnly) : verifyOnly_(verifyOnly) {}
    void Define(CLI::App& o) override {
        bias_ = o.add_option("--bias", biasText_);
        alignGiven_ = o.add_option("--align", align_);
        fill_ = o.add_option("--fill", fillText_);
        checksumGiven_ = o.add_option("--checksum", checksum_);
        if (verifyOnly_)
            return;
        o.add_flag("--compress", compress_);
        o.add_flag("--verify", verify_);
        o.add_flag("--remember", remember_);
        o.add_option("--serial", serial_);
    }
    int Run(CliApp& app, const std::vector<std::string>& operands) override;

  private:
    // The options into request; the exit status of a refused one, else kExitOk.
    int TakeOptions(LoadRequest& request) const;
    int TakeChecksum(LoadRequest& request) const;

    const CLI::Option *bias_ = nullptr, *alignGiven_ = nullptr, *fill_ = nullptr,
                      *checksumGiven_ = nullptr;
    // Several ports, or a serial number: the load on every port of the run.
    int RunOnEveryPort(CliApp& app, const LoadRequest& request);

    // The single-port verify command.
    int VerifyOnePort(CliApp& app, LoadCommand& command, const LoadRequest& request);
    // request with the memory, the file and what the command's defaults add; false (with the
    // message written) when the defaults refuse every load.
    bool WithDefaults(LoadCommand& command, memops::Memory memory, const std::string& file,
                      LoadRequest& request) const;

    bool verifyOnly_;
    std::string biasText_, fillText_, align_, checksum_, serial_;
    bool compress_ = false, verify_ = false, remember_ = false;
};

int LoadCli::TakeChecksum(LoadRequest& r) const {
    const std::string& v = checksum_;
    if (v == "none") {
        r.checksum = ChecksumTable::None;
    } else if (v == "last") {
        r.checksum = ChecksumTable::LastAddress;
    } else if (v.rfind("address=", 0) == 0) {
        if (!ParseHexOption(v.substr(8), kMaxAddress, r.checksumAddress))
            return UsageError("--checksum address=HEX takes an address from 0 to FFFFFF");
        r.checksum = ChecksumTable::Address;
    } else if (v.rfind("block=", 0) == 0) {
        unsigned long n;
        if (!ParseCount(v.substr(6), n) || n > 100000)
            return UsageError("--checksum block=N takes N from 0 to 100000");
        r.checksum = ChecksumTable::AfterBlock;
        r.checksumBlock = static_cast<uint32_t>(n);
    } else {
        return UsageError("--checksum takes none, last, address=HEX or block=N");
    }
    return kExitOk;
}

int LoadCli::TakeOptions(LoadRequest& r) const {
    if (bias_->count() > 0 && !ParseHexOption(biasText_, kMaxAddress, r.bias))
        return UsageError("--bias takes a hex number from 0 to FFFFFF");
    if (fill_->count() > 0) {
        uint32_t fill = 0;
        if (!ParseHexOption(fillText_, 0xFF, fill))
            return UsageError("--fill takes a hex byte from 0 to FF");
        r.fill = static_cast<uint8_t>(fill);
    }
    if (alignGiven_->count() > 0) {
        unsigned long n;
        if (!ParseCount(align_, n) || n < 1 || n > kMaxAlignment)
            return UsageError("--align takes a number from 1 to 16777216");
        r.alignment = static_cast<uint32_t>(n);
    }
    r.compress = compress_;
    r.verify = verify_;
    r.remember = remember_;
    return checksumGiven_->count() > 0 ? TakeChecksum(r) : kExitOk;
}

int LoadCli::Run(CliApp& app, const std::vector<std::string>& operands) {
    LoadRequest options;
    if (const int refused = TakeOptions(options); refused != kExitOk)
        return refused;
    const std::string name = verifyOnly_ ? "verify" : "load";
    if (operands.size() != 2)
        return UsageError(name + " takes MEMORY and FILE (see zimp " + name + " --help)");
    const auto memory = MemoryByName(operands[0]);
    if (!memory)
        return UsageError("unknown memory '" + operands[0] + "'");
    if (!CheckLoadFileName(operands[1]))
        return kExitUsage;

    if (app.SeveralPorts() || !serial_.empty()) {
        LoadCommand defaults(nullptr, &app.Profile());
        if (!WithDefaults(defaults, *memory, operands[1], options))
            return app.Finish(false);
        if (options.remember)
            return UsageError("--remember is for one port");
        return RunOnEveryPort(app, options);
    }

    app.OpenPort();  // a port that does not open is reported by the transfer
    LoadCommand command(&app.Port(), &app.Profile());
    if (!WithDefaults(command, *memory, operands[1], options))
        return app.Finish(false);
    if (verifyOnly_)
        return VerifyOnePort(app, command, options);
    CliProgress progress(app.Quiet());
    app.Canceller().SetHandler([&] { command.Cancel(); });
    const LoadCommand::Outcome outcome = command.Run(options, &progress);
    app.Canceller().SetHandler(nullptr);
    if (outcome != LoadCommand::Outcome::Loaded)
        return app.Finish(false);
    if (!app.Quiet())
        std::printf("loaded %u bytes from %s into %s%s\n", command.LoadedBytes(),
                    options.file.c_str(), MemoryKindOf(*memory).cliName,
                    options.verify ? " (verified)" : "");
    return app.Finish(true);
}

bool LoadCli::WithDefaults(LoadCommand& command, memops::Memory memory, const std::string& file,
                           LoadRequest& request) const {
    const std::optional<LoadRequest> defaults = command.Defaults(memory);
    if (!defaults)
        return false;
    // The options make the request; of the defaults only the bias stays, when none is given.
    if (bias_->count() == 0)
        request.bias = defaults->bias;
    request.memory = memory;
    request.file = file;
    return true;
}

int LoadCli::VerifyOnePort(CliApp& app, LoadCommand& command, const LoadRequest& request) {
    const std::unique_ptr<srecord::Image> image = LoadCommand::OpenImage(request);
    if (!image)
        return app.Finish(false);
    CliProgress progress(app.Quiet());
    app.Canceller().SetHandler([&] { command.Cancel(); });
    const LoadCommand::Outcome outcome = command.VerifyOnly(request, *image, &progress);
    app.Canceller().SetHandler(nullptr);
    if (outcome != LoadCommand::Outcome::Loaded)
        return app.Finish(false);
    if (!app.Quiet())
        std::printf("%s holds the %u bytes of %s\n", MemoryKindOf(request.memory).cliName,
                    command.LoadedBytes(), request.file.c_str());
    return app.Finish(true);
}

int LoadCli::RunOnEveryPort(CliApp& app, const LoadRequest& request) {
    std::optional<station::SerialCounter> counter;
    uint32_t serialAddress = 0;
    if (!serial_.empty()) {
        const size_t eq = serial_.find('=');
        if (eq == std::string::npos || eq + 1 == serial_.size() ||
            !ParseHexOption(serial_.substr(0, eq), kMaxAddress - 3, serialAddress))
            return UsageError("--serial takes ADDRESS=FILE, the address from 0 to FFFFFC");
        counter.emplace(serial_.substr(eq + 1));
    }
    const std::unique_ptr<srecord::Image> image = LoadCommand::OpenImage(request);
    if (!image)
        return app.Finish(false);
    PortRecord base;
    base.operation = verifyOnly_ ? "verify" : "load";
    base.memory = MemoryKindOf(request.memory).cliName;
    base.file = request.file;
    std::string error;
    base.sha256 = station::Sha256File(request.file, error).value_or("");

    const PortJob job = [&](PortContext& ctx) {
        LoadCommand command(&ctx.Port(), &ctx.Profile());
        ctx.SetCancel([&command] { command.Cancel(); });
        ctx.State(verifyOnly_ ? "verifying" : request.verify ? "loading and verifying" : "loading");
        const LoadCommand::Outcome outcome = verifyOnly_ ? command.VerifyOnly(request, *image, &ctx)
                                                         : command.Run(request, *image, &ctx);
        bool ok = outcome == LoadCommand::Outcome::Loaded;
        ctx.Record().bytes = command.LoadedBytes();
        if (ok && counter) {
            ctx.State("writing the serial number");
            std::string why;
            std::optional<station::SerialCounter::Lease> lease =
                counter->Take(why, ctx.CancelFlag());
            ok = false;
            if (!lease) {
                if (!ctx.Cancelled())
                    streams::msgout() << "No serial number: " << why << "\n";
            } else {
                const uint32_t n = lease->Number();
                const uint8_t bytes[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8),
                                          uint8_t(n)};
                if (command.WriteAfterLoad(request, serialAddress, bytes, 4)) {
                    // The number is used once the radio holds it, even if it cannot be counted.
                    ctx.Record().serial = n;
                    ok = lease->Commit(why);
                    if (!ok)
                        streams::msgout() << "Serial number " << n
                                          << " was written but not counted: " << why << "\n";
                }
            }
        }
        ctx.SetCancel(nullptr);
        return ok ? PortOutcome::Succeeded : PortOutcome::Failed;
    };
    return RunOnPorts(app, base, job);
}

}  // namespace

std::unique_ptr<CliCommand> MakeLoadCommand() {
    return std::make_unique<LoadCli>(false);
}

std::unique_ptr<CliCommand> MakeVerifyCommand() {
    return std::make_unique<LoadCli>(true);
}

const char* const kVerifyHelp =
    "usage: zimp verify MEMORY FILE [--bias HEX] [--align N] [--fill HEX]\n"
    "                   [--checksum none|last|address=HEX|block=N]\n"
    "\n"
    "Compares a radio memory with the S-Record FILE: reads back, with Read requests, every\n"
    "byte a load of FILE with the same options would have written (gaps and padding filled\n"
    "as the load fills them) and compares. Nothing is written to the radio.\n"
    "MEMORY is ram, flash, int-eeprom, ext-eeprom or pelk; the options are those of load.\n"
    "On several ports at once as a load (see zimp load --help).\n"
    "Exit status 0 the radio holds FILE, 1 it differs (\"Verify failed at address A\") or a\n"
    "read failed, 2 bad usage, 130 interrupted.\n";

}  // namespace cli
