#pragma once
// The commands of `zimp`, each in a file of its own.

#include <string>
#include <vector>

class CliApp;

struct Command {
    const char* name;
    const char* summary;
    const char* help;
    int (*run)(CliApp& app, const std::vector<std::string>& args);
};

const std::vector<Command>& AllCommands();
const Command* FindCommand(const std::string& name);

#define ZIMP_COMMAND(Name)                                            \
    int Cmd##Name(CliApp& app, const std::vector<std::string>& args); \
    extern const char* const k##Name##Help
ZIMP_COMMAND(Load);
ZIMP_COMMAND(Save);
ZIMP_COMMAND(Request);
ZIMP_COMMAND(Info);
ZIMP_COMMAND(Convert);
ZIMP_COMMAND(Compress);
ZIMP_COMMAND(Decompress);
ZIMP_COMMAND(Ports);
ZIMP_COMMAND(Boot);
ZIMP_COMMAND(TqvBoot);
ZIMP_COMMAND(Raw);
#undef ZIMP_COMMAND
