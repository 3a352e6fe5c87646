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

int RunPorts(CliApp& app, const std::vector<std::string>& args);
extern const char* const kPortsHelp;
