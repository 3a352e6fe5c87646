#include "cli/CliPresenter.h"

#include <cstdio>
#include <mutex>

namespace {
bool IsResultText(const std::string& text) {
    for (const char* prefix : {"Check Sum: ", "Buffer Length is 0x", "Address is 0x"})
        if (text.rfind(prefix, 0) == 0)
            return true;
    return false;
}
}  // namespace

void CliPresenter::Show(const std::string& text, const std::string&) {
    std::string line = text;
    for (char& c : line)
        if (c == '\r')
            c = '\n';
    line += '\n';
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    FILE* out = IsResultText(text) ? stdout : stderr;
    if (out == stderr)
        ++messages_;
    std::fflush(stdout);
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
}
