#include "cli/TerminalLine.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace cli {

namespace terminal_line {
namespace {
std::mutex& Mutex() {
    static std::mutex m;
    return m;
}
bool shown = false;  // guarded by Mutex()

void ClearLocked() {
    if (!shown)
        return;
    std::fputs("\r\033[K", stderr);
    shown = false;
}
}  // namespace

bool Enabled() {
    static const bool tty = isatty(STDERR_FILENO) == 1;
    return tty;
}

void Show(const std::string& text) {
    if (!Enabled())
        return;
    std::lock_guard lock(Mutex());
    std::fputs("\r\033[K", stderr);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    shown = true;
}

void Clear() {
    std::lock_guard lock(Mutex());
    ClearLocked();
    std::fflush(stderr);
}

void WriteAbove(const std::string& text, bool toStdout) {
    std::lock_guard lock(Mutex());
    ClearLocked();
    std::fflush(toStdout ? stderr : stdout);
    FILE* out = toStdout ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}
}  // namespace terminal_line

}  // namespace cli
