#pragma once
// The simulators' command lines with CLI11: their own help texts, -h/--help a plain flag, and
// what no option takes left for the caller to name in its own message.

#include <CLI/CLI.hpp>
#include <string>

namespace sim {

// Sets up app before any option is added; help becomes true with -h or --help.
inline void PrepareParser(CLI::App& app, bool& help, CLI::MultiOptionPolicy repeated) {
    app.set_help_flag();
    app.allow_extras();
    app.option_defaults()->multi_option_policy(repeated)->disable_flag_override();
    app.add_flag("-h,--help", help);
}

// The option a parse error is about: CLI11 names it first ("--baud: 1 required TEXT missing").
inline std::string OptionOfError(const CLI::ParseError& e) {
    const std::string message = e.what();
    return message.substr(0, message.find(':'));
}

}  // namespace sim
