#include "cli/CommandLine.h"

#include <algorithm>

namespace {

// CLI11 names the option first in its messages ("--bias: 1 required TEXT missing"); the user
// is shown the argument as typed.
std::string OptionAsGiven(const std::string& message, const std::vector<std::string>& args) {
    const std::string name = message.substr(0, message.find(':'));
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        if (*it == name || it->rfind(name + "=", 0) == 0)
            return *it;
    return name;
}

}  // namespace

std::string ParsedArguments::FirstDashed() const {
    for (const std::string& a : rest)
        if (!a.empty() && a[0] == '-')
            return a;
    return {};
}

CommandLine::CommandLine() {
    app_.set_help_flag();
    app_.allow_extras();
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app_.add_flag("-h,--help", help_);
}

ParsedArguments CommandLine::Parse(const std::vector<std::string>& args) {
    ParsedArguments parsed;
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them so
    try {
        app_.parse(reversed);
    } catch (const CLI::ParseError& e) {
        parsed.incomplete = OptionAsGiven(e.what(), args);
    }
    parsed.help = help_;
    parsed.rest = app_.remaining();
    return parsed;
}

const CLI::Option* LastGiven(const CLI::App& parser, const CLI::Option* a, const CLI::Option* b) {
    const auto& order = parser.parse_order();
    auto last = std::find_if(order.rbegin(), order.rend(),
                             [&](const CLI::Option* o) { return o == a || o == b; });
    return last == order.rend() ? nullptr : *last;
}
