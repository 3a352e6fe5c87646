#pragma once
// How `zimp` reads its arguments with CLI11: the help texts stay our own, the last of a
// repeated option wins, and what no option takes is handed back in order for the caller to
// check, so that its messages stay those of this program.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace cli {

struct ParsedArguments {
    bool help = false;
    std::string incomplete;         // an option as given, when its value is missing or refused
    std::vector<std::string> rest;  // what no option took, in order
    // The first of rest that starts with '-' (not "-" alone, an operand), or empty.
    std::string FirstDashed() const;
};

class CommandLine {
  public:
    CommandLine();
    // Where the options are added, before Parse.
    CLI::App& Options() { return app_; }
    // Stops at the first argument that is no option: it and all after it are left in rest.
    void StopAtOperand() { app_.prefix_command(); }
    ParsedArguments Parse(const std::vector<std::string>& args);

  private:
    std::vector<std::string> SplitEmptyValues(const std::vector<std::string>& given);

    CLI::App app_;
    bool help_ = false;
};

// Whichever of the two options of parser was given last, or nullptr when neither was.
const CLI::Option* LastGiven(const CLI::App& parser, const CLI::Option* a, const CLI::Option* b);

}  // namespace cli
