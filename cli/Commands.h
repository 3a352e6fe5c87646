#pragma once
// The commands of `zimp`, each in a file of its own.

#include <memory>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace cli {

class CliApp;

// One command's options and its run. Define binds the options to members; Run gets what no
// option took, after the configuration is set up.
class CliCommand {
  public:
    virtual ~CliCommand() = default;
    virtual void Define(CLI::App& options) { (void)options; }
    virtual int Run(CliApp& app, const std::vector<std::string>& operands) = 0;
    // Whether an operand may start with '-'; otherwise it is an unknown option.
    virtual bool DashedOperands() const { return false; }
    virtual std::string UnknownOption(const std::string& command, const std::string& arg) const {
        return command + ": unknown or incomplete option '" + arg + "'";
    }
};

// A command without options of its own: every argument is an operand, checked by run.
class OperandsOnlyCommand final : public CliCommand {
  public:
    using Function = int (*)(CliApp& app, const std::vector<std::string>& operands);
    explicit OperandsOnlyCommand(Function run) : run_(run) {}
    int Run(CliApp& app, const std::vector<std::string>& operands) override {
        return run_(app, operands);
    }
    bool DashedOperands() const override { return true; }

  private:
    Function run_;
};

struct Command {
    const char* name;
    const char* summary;
    const char* help;
    std::unique_ptr<CliCommand> (*make)();
};

const std::vector<Command>& AllCommands();
const Command* FindCommand(const std::string& name);

#define ZIMP_COMMAND(Name)                             \
    std::unique_ptr<CliCommand> Make##Name##Command(); \
    extern const char* const k##Name##Help
ZIMP_COMMAND(Load);
ZIMP_COMMAND(Save);
ZIMP_COMMAND(Verify);
ZIMP_COMMAND(Request);
ZIMP_COMMAND(Info);
ZIMP_COMMAND(Convert);
ZIMP_COMMAND(Compress);
ZIMP_COMMAND(Decompress);
ZIMP_COMMAND(Ports);
ZIMP_COMMAND(Boot);
ZIMP_COMMAND(TqvBoot);
ZIMP_COMMAND(Raw);
ZIMP_COMMAND(Trace);
#undef ZIMP_COMMAND

}  // namespace cli
