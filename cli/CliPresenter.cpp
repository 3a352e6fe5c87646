#include "cli/CliPresenter.h"

#include <mutex>

#include "cli/TerminalLine.h"

using streams::BoxAsLines;

namespace cli {

namespace {
bool IsResultText(const std::string& text) {
    for (const char* prefix : {"Check Sum: ", "Buffer Length is 0x", "Address is 0x"})
        if (text.rfind(prefix, 0) == 0)
            return true;
    return false;
}
}  // namespace

void CliPresenter::Show(const std::string& text, const std::string&) {
    const bool result = IsResultText(text);
    if (!result)
        ++messages_;
    // Clears a progress line first, so that the two never mix.
    terminal_line::WriteAbove(BoxAsLines(text), result);
}

}  // namespace cli
