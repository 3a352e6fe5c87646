#include "cli/Commands.h"

namespace cli {

const std::vector<Command>& AllCommands() {
    static const std::vector<Command> commands = {
        {"load", "load an S-Record file into a radio memory", kLoadHelp, MakeLoadCommand},
        {"save", "save radio memory ranges to an S-Record file", kSaveHelp, MakeSaveCommand},
        {"verify", "compare a radio memory with an S-Record file", kVerifyHelp, MakeVerifyCommand},
        {"request", "send one ZIMP request and print the answer", kRequestHelp, MakeRequestCommand},
        {"boot", "boot-load a program through the serial bootstrap", kBootHelp, MakeBootCommand},
        {"tqv-boot", "boot-load a patch and a program into a TQV radio", kTqvBootHelp,
         MakeTqvBootCommand},
        {"raw", "send raw hex bytes and print what comes back", kRawHelp, MakeRawCommand},
        {"info", "show the blocks and runs of an S-Record file", kInfoHelp, MakeInfoCommand},
        {"convert", "rewrite an S-Record file (S1, S2 or S3)", kConvertHelp, MakeConvertCommand},
        {"compress", "LZRW3-A compress standard input", kCompressHelp, MakeCompressCommand},
        {"decompress", "LZRW3-A decompress standard input", kDecompressHelp, MakeDecompressCommand},
        {"ports", "list the serial ports of this machine", kPortsHelp, MakePortsCommand},
        {"trace", "show a wire trace written by --trace", kTraceHelp, MakeTraceCommand},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : AllCommands())
        if (name == c.name)
            return &c;
    return nullptr;
}

}  // namespace cli
