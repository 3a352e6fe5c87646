// zimp save MEMORY FILE [--type S1|S2|S3] [--range START,END]...

#include <cstdio>

#include "cli/CliApp.h"
#include "cli/CliProgress.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/MultiPortCli.h"
#include "memops/MemoryKinds.h"
#include "memops/SaveCommand.h"
#include "platform/HexText.h"
#include "platform/ReplacementFile.h"
#include "station/FileDigest.h"
#include "streams/MessageStreams.h"

using memops::MemoryByName;
using memops::MemoryKindOf;
using memops::SaveCommand;
using memops::SaveFrontEnd;
using memops::SaveOutcome;
using memops::SaveRange;

namespace cli {

const char* const kSaveHelp =
    "usage: zimp save MEMORY FILE [--type S1|S2|S3] [--range START,END]...\n"
    "\n"
    "Reads address ranges of a radio memory with Read requests (128 bytes each) and writes\n"
    "them to the S-Record FILE. MEMORY is ram, flash, int-eeprom, ext-eeprom or pelk (pelk\n"
    "shares the section SaveFlash with flash).\n"
    "\n"
    "  --type T           S-Record type, instead of the section's Type key\n"
    "  --range START,END  a range to save (0x hex, leading 0 octal, else decimal); repeat\n"
    "                     for more, saved in the order given. Without --range, the\n"
    "                     section's Range1, Range2 ... keys are used.\n"
    "\n"
    "A range's END is the last address saved: 0x100,0x17F saves 128 bytes, and a range\n"
    "whose start is not below its end saves nothing and ends the list. When the list is\n"
    "empty, or the port does not open, the save is refused before FILE is touched (exit 1).\n"
    "\n"
    "FILE is stored under the section's File key. The save is written beside FILE and\n"
    "replaces it only when complete: after a failure or an interrupt (Ctrl-C, SIGTERM,\n"
    "SIGHUP, also when repeated) the previous FILE is untouched and the bytes read so far\n"
    "are kept in FILE.partial, without a termination record. A FIFO, a device or a socket\n"
    "is written into once the save is complete, never replaced; FILE - or /dev/stdout is\n"
    "standard output (the summary line then goes to stderr).\n"
    "On several ports at once (see zimp --help) FILE takes {port} (the port's last path\n"
    "component) and {n} (the radio's number in the run, from 1), and must hold one of them,\n"
    "so that every radio gets its own file; the configuration is not written then.\n"
    "Exit status 0 saved, 1 failed or refused, 2 bad usage, 130 interrupted.\n";

namespace {
class CliSaveFrontEnd : public SaveFrontEnd {
  public:
    explicit CliSaveFrontEnd(CliProgress& progress) : progress_(progress) {}
    void ShowAddress(const std::string& text) override {
        address_ = 0;
        platform::ParseHexNumber(text, address_, {.prefix = false});
    }
    void BytesSaved(uint32_t done, uint32_t total) override {
        progress_.Draw(done, total, address_);
    }

  private:
    CliProgress& progress_;
    uint32_t address_ = 0;
};

bool ParseRange(const std::string& text, SaveRange& range) {
    size_t comma = text.find(',');
    if (comma == std::string::npos)
        return false;
    unsigned long s, e;
    if (!ParseUnsigned(text.substr(0, comma), s) || !ParseUnsigned(text.substr(comma + 1), e))
        return false;
    range = {static_cast<uint32_t>(s), static_cast<uint32_t>(e)};
    return true;
}

class SaveCli final : public CliCommand {
  public:
    void Define(CLI::App& o) override {
        typeGiven_ = o.add_option("--type", type_);
        // Every --range counts, in the order given.
        o.add_option("--range", ranges_)
            ->expected(1)
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    }
    int Run(CliApp& app, const std::vector<std::string>& operands) override;

  private:
    const CLI::Option* typeGiven_ = nullptr;
    std::string type_;
    std::vector<std::string> ranges_;
};

// The save on every port of the run, each radio into a file of its own.
int SaveOnEveryPort(CliApp& app, memops::Memory memory, const std::string& type,
                    const std::vector<SaveRange>& ranges, const std::string& name) {
    const GlobalOptions& o = app.Options();
    const bool several = o.ports.size() > 1 || !o.portsPattern.empty() || o.station;
    if (several && name.find("{port}") == std::string::npos &&
        name.find("{n}") == std::string::npos)
        return UsageError(
            "save on several ports needs {port} or {n} in FILE, so that every "
            "radio gets its own file");
    PortRecord base;
    base.operation = "save";
    base.memory = MemoryKindOf(memory).cliName;
    const PortJob job = [&](PortContext& ctx) {
        SaveCommand command(&ctx.Port(), &ctx.Profile());
        PortRecord& record = ctx.Record();
        record.file = PortFileName(name, ctx.Name(), ctx.Number());
        if (!command.Prepare(memory))
            return PortOutcome::Failed;
        if (!type.empty())
            command.SetType(type);
        if (command.Type().empty()) {
            streams::msgout() << "No S-Record type: give --type or set Type in ["
                              << MemoryKindOf(memory).saveSection << "].\n";
            return PortOutcome::Failed;
        }
        // The bytes saved, for the port's line and its record.
        class Progress : public SaveFrontEnd {
          public:
            explicit Progress(PortContext& c) : ctx(c) {}
            void ShowAddress(const std::string&) override {}
            void BytesSaved(uint32_t done, uint32_t total) override {
                ctx.Record().bytes = done;
                if (total)
                    ctx.Started("", "", "", total);
                ctx.Progress(done, 0);
            }
            PortContext& ctx;
        } progress(ctx);
        ctx.State("saving");
        ctx.SetCancel([&command] { command.Cancel(); });
        ctx.SetLastWish([&command] { command.KeepWhatWasRead(); });
        const SaveOutcome outcome = ranges.empty() ? command.Save(record.file, &progress)
                                                   : command.Save(record.file, &progress, ranges);
        ctx.SetLastWish(nullptr);
        ctx.SetCancel(nullptr);
        command.Close();
        if (outcome != SaveOutcome::Saved)
            return PortOutcome::Failed;
        std::string error;
        record.sha256 = station::Sha256File(record.file, error).value_or("");
        return PortOutcome::Succeeded;
    };
    return RunOnPorts(app, base, job);
}

int SaveCli::Run(CliApp& app, const std::vector<std::string>& operands) {
    std::string type;
    if (typeGiven_->count() > 0 && !ParseRecordType(type_, type))
        return UsageError("--type takes S1, S2 or S3");
    std::vector<SaveRange> ranges;
    for (const std::string& text : ranges_) {
        SaveRange r;
        if (!ParseRange(text, r))
            return UsageError("--range takes START,END");
        ranges.push_back(r);
    }
    if (operands.size() != 2)
        return UsageError("save takes MEMORY and FILE (see zimp save --help)");
    auto memory = MemoryByName(operands[0]);
    if (!memory)
        return UsageError("unknown memory '" + operands[0] + "'");

    if (app.SeveralPorts())
        return SaveOnEveryPort(app, *memory, type, ranges, operands[1]);

    app.OpenPort();
    SaveCommand command(&app.Port(), &app.Profile());
    if (!command.Prepare(*memory))
        return app.Finish(false);
    if (!type.empty())
        command.SetType(type);
    if (command.Type().empty())
        return UsageError(std::string("no S-Record type: give --type or set Type in [") +
                          MemoryKindOf(*memory).saveSection + "]");
    CliProgress progress(app.Quiet());
    progress.Start(0);
    CliSaveFrontEnd frontEnd(progress);
    app.Canceller().SetHandler([&] { command.Cancel(); });
    // A second interrupt ends the process at once: what was read is kept first.
    app.Canceller().SetLastWish([&] { command.KeepWhatWasRead(); });
    SaveOutcome outcome = ranges.empty() ? command.Save(operands[1], &frontEnd)
                                         : command.Save(operands[1], &frontEnd, ranges);
    const bool ok = outcome == SaveOutcome::Saved;
    app.Canceller().SetLastWish(nullptr);
    app.Canceller().SetHandler(nullptr);
    progress.Close();
    command.Close();
    if (ok && !app.Quiet()) {
        // Saved to standard output, the summary must not become part of the file.
        std::FILE* summary = platform::NamesStandardOutput(operands[1]) ? stderr : stdout;
        std::fprintf(summary, "saved %s to %s\n", MemoryKindOf(*memory).cliName,
                     operands[1].c_str());
    }
    return app.Finish(ok);
}
}  // namespace

std::unique_ptr<CliCommand> MakeSaveCommand() {
    return std::make_unique<SaveCli>();
}

}  // namespace cli
