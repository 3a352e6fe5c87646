// zimp load MEMORY FILE [options]: the load command with the loading parameters from the
// command line.

#include <cstdio>

#include "cli/CliApp.h"
#include "cli/CliProgress.h"
#include "cli/Commands.h"
#include "memops/LoadCommand.h"
#include "memops/MemoryKinds.h"
#include "memops/Startup.h"
#include "streams/MessageStreams.h"

const char* const kLoadHelp =
    "usage: zimp load MEMORY FILE [--bias HEX] [--compress] [--align N] [--fill HEX]\n"
    "                 [--checksum none|last|address=HEX|block=N] [--verify]\n"
    "\n"
    "Loads the S-Record FILE into a memory of the radio in blocks of LoadMemory/BlockSize\n"
    "bytes (or --block-size), each a Write Data request, then writes the end marker.\n"
    "MEMORY is ram, flash, int-eeprom, ext-eeprom or pelk.\n"
    "\n"
    "  --bias HEX       added to every block address (default 0)\n"
    "  --compress       send LZRW3-A compressed blocks\n"
    "  --align N        blocks start on multiples of N bytes; gaps below N are filled\n"
    "  --fill HEX       the fill byte for gaps and padding (default FF)\n"
    "  --checksum MODE  append a checksum table: none, last (after the highest block),\n"
    "                   address=HEX (at that address), block=N (after block N)\n"
    "  --verify         read the loaded bytes back afterwards and compare\n"
    "\n"
    "FILE is stored under LoadMemory/<memory> as the desktop's load does.\n"
    "Exit status 0 loaded, 1 not loaded, 2 bad usage, 130 interrupted.\n";

namespace {

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

}  // namespace

int CmdLoad(CliApp& app, const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    LoadParameters params;
    bool verify = false, biasGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string v;
        const std::string& a = args[i];
        if (TakeValue(args, i, "--bias", v)) {
            params.biasText = v;
            biasGiven = true;
        } else if (a == "--compress") {
            params.compress = true;
        } else if (TakeValue(args, i, "--align", v)) {
            unsigned long n;
            if (!ParseUnsigned(v, n, 10) || n > 0x7FFFFFFF)
                return UsageError("--align takes a number");
            params.alignment = static_cast<long>(n);
        } else if (TakeValue(args, i, "--fill", v)) {
            params.fillText = v;
        } else if (TakeValue(args, i, "--checksum", v)) {
            if (v == "none") {
                params.checksumMode = LoadParameters::kNone;
            } else if (v == "last") {
                params.checksumMode = LoadParameters::kLastAddress;
            } else if (v.rfind("address=", 0) == 0) {
                params.checksumMode = LoadParameters::kAddress;
                params.addressText = v.substr(8);
            } else if (v.rfind("block=", 0) == 0) {
                unsigned long n;
                if (!ParseUnsigned(v.substr(6), n, 10) || n > 100000)
                    return UsageError("--checksum block=N takes N from 0 to 100000");
                params.checksumMode = LoadParameters::kBlock;
                params.blockIndex = static_cast<long>(n);
            } else {
                return UsageError("--checksum takes none, last, address=HEX or block=N");
            }
        } else if (a == "--verify") {
            verify = true;
        } else if (!a.empty() && a[0] == '-') {
            return UsageError("load: unknown or incomplete option '" + a + "'");
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2)
        return UsageError("load takes MEMORY and FILE (see zimp load --help)");
    auto type = MemoryTypeByName(positional[0]);
    if (!type)
        return UsageError("unknown memory '" + positional[0] + "'");
    params.fileName = positional[1];
    if (!ValidateLoadParameters(params))
        return kExitUsage;
    if (params.alignment < 1)
        params.alignment = 1;

    app.OpenPort();  // a port that does not open is reported by the transfer
    CliProgress progress(app.Quiet());
    CliLoadFrontEnd frontEnd(params, progress);
    frontEnd.biasGiven = biasGiven;
    LoadCommand command(&app.Port(), &app.Profile());
    app.Canceller().SetHandler([&] { progress.Cancel([&] { command.Cancel(); }); });
    LoadCommand::Outcome outcome = command.Run(*type, frontEnd);
    app.Canceller().SetHandler(nullptr);
    if (outcome == LoadCommand::Outcome::Refused)
        return app.Finish(false);
    if (outcome != LoadCommand::Outcome::Loaded)
        return app.Finish(false);

    const MemoryKind& kind = MemoryKindOf(*type);
    uint32_t total = command.Loader().Image().TotalLength();
    if (verify) {
        S_Record image;
        uint32_t fill = 0xFF;
        ParseHexText(params.fillText, fill);
        if (image.Open(params.fileName.c_str(), static_cast<int>(params.alignment)) != 0 ||
            !AddChecksumTableFor(image, params)) {
            msgout() << "Cannot open S Record file - " << params.fileName << "\n";
            return app.Finish(false);
        }
        ZimpEngine& engine = command.Engine();
        engine.Attach(&app.Port(), ConfiguredEcho(app.Profile()));
        app.Canceller().SetHandler([&] { app.Port().AbortAll(); });
        uint32_t bad = 0;
        const VerifyOutcome verified = VerifyLoad(engine, image, command.Loader().Bias(), kind.code,
                                                  static_cast<uint8_t>(fill), bad);
        app.Canceller().SetHandler(nullptr);
        engine.Detach();
        if (verified != VerifyOutcome::Same) {
            if (verified == VerifyOutcome::Differs)
                msgout() << "Verify failed at address " << std::hex << bad << std::dec << "\n";
            if (!app.Canceller().Cancelled())
                msgout() << "File was not loaded.\n";
            return app.Finish(false);
        }
    }
    if (!app.Quiet())
        std::printf("loaded %u bytes from %s into %s%s\n", total, params.fileName.c_str(),
                    kind.cliName, verify ? " (verified)" : "");
    return app.Finish(true);
}
