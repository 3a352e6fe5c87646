// zimp trace show FILE: a wire trace with the gaps between its lines and a summary.

#include <fstream>
#include <iostream>

#include "cli/CliApp.h"
#include "cli/Commands.h"
#include "trace/TraceSummary.h"

namespace cli {

const char* const kTraceHelp =
    "usage: zimp trace show FILE\n"
    "\n"
    "Prints a wire trace written by --trace (FILE, or - for standard input): each line with\n"
    "the time since the line before it and the first bytes of its frame, then a summary:\n"
    "frames, retries, NAKs, bytes each way, and the longest wait for the radio and where it\n"
    "was. Exit status 1 when FILE holds no trace line.\n";

int CmdTrace(CliApp&, const std::vector<std::string>& args) {
    if (args.size() != 2 || args[0] != "show")
        return UsageError("usage: zimp trace show FILE");
    const std::string& file = args[1];
    std::ifstream in;
    if (file != "-") {
        in.open(file, std::ios::binary);
        if (!in) {
            std::cerr << "Cannot read " << file << ".\n";
            return kExitFailed;
        }
    }
    std::istream& source = file == "-" ? std::cin : in;
    const bool any = trace::ShowTrace(source, std::cout);
    if (source.bad()) {
        std::cerr << "Cannot read " << file << ".\n";
        return kExitFailed;
    }
    if (!any) {
        std::cerr << file << " holds no trace line.\n";
        return kExitFailed;
    }
    return kExitOk;
}

std::unique_ptr<CliCommand> MakeTraceCommand() {
    return std::make_unique<OperandsOnlyCommand>(CmdTrace);
}

}  // namespace cli
