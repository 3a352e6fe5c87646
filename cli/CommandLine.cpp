#include "cli/CommandLine.h"

#include <algorithm>

namespace cli {

std::string ParsedArguments::FirstDashed() const {
    for (const std::string& a : rest)
        if (a.size() > 1 && a[0] == '-')  // "-" alone is an operand: standard output
            return a;
    return {};
}

CommandLine::CommandLine() {
    app_.set_help_flag();
    app_.allow_extras();
    app_.option_defaults()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->disable_flag_override();
    app_.add_flag("-h,--help", help_);
}

// "--name=" gives an option the empty value; CLI11 would take the next argument for it.
std::vector<std::string> CommandLine::SplitEmptyValues(const std::vector<std::string>& given) {
    std::vector<std::string> args;
    for (const std::string& a : given) {
        const std::string name = a.substr(0, a.size() - 1);
        const CLI::Option* o = a.size() > 3 && a.rfind("--", 0) == 0 && a.back() == '='
                                   ? app_.get_option_no_throw(name)
                                   : nullptr;
        if (o != nullptr && o->get_type_size_max() > 0) {
            args.push_back(name);
            args.push_back("");
        } else {
            args.push_back(a);
        }
    }
    return args;
}

ParsedArguments CommandLine::Parse(const std::vector<std::string>& given) {
    ParsedArguments parsed;
    const std::vector<std::string> args = SplitEmptyValues(given);
    std::vector<std::string> left(args.rbegin(), args.rend());  // CLI11 takes from the back
    try {
        app_.parse(left);
    } catch (const CLI::ParseError&) {
        // It stops at the argument it was reading: an option whose value is missing, or a
        // flag given a value.
        parsed.incomplete =
            left.size() < args.size() ? args[args.size() - left.size() - 1] : args.back();
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

}  // namespace cli
