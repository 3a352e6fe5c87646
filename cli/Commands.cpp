#include "cli/Commands.h"

const std::vector<Command>& AllCommands() {
    static const std::vector<Command> commands = {
        {"ports", "list the serial ports of this machine", kPortsHelp, RunPorts},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : AllCommands())
        if (name == c.name)
            return &c;
    return nullptr;
}
