#include "cli/CliProgress.h"

#include <cstdio>

#include "cli/TerminalLine.h"
#include "platform/Clock.h"

using memops::ProgressPermille;

namespace cli {

void CliProgress::Started(const std::string&, const std::string&, const std::string&,
                          uint32_t total) {
    Start(total);
}

void CliProgress::Start(uint32_t total) {
    std::lock_guard lock(mutex_);
    total_ = total;
    startMs_ = platform::TickMs();
    lastDrawMs_ = 0;
    active_ = !quiet_ && terminal_line::Enabled();
}

void CliProgress::Progress(uint32_t bytesDone, uint32_t address) {
    uint32_t total;
    {
        std::lock_guard lock(mutex_);
        total = total_;
    }
    Draw(bytesDone, total, address);
}

void CliProgress::Draw(uint32_t done, uint32_t total, uint32_t address) {
    std::lock_guard lock(mutex_);
    if (!active_)
        return;
    const uint64_t now = platform::TickMs();
    const bool complete = total && done >= total;
    if (!complete && now - lastDrawMs_ < 100)
        return;  // a terminal needs no more
    lastDrawMs_ = now;
    const double seconds = (now - startMs_) / 1000.0;
    const double rate = seconds > 0 ? done / seconds : 0;
    char line[160];
    if (total) {
        const uint32_t permille = ProgressPermille(done, total);
        char bar[31];
        for (int i = 0; i < 30; ++i)
            bar[i] = i < static_cast<int>(permille * 30 / 1000) ? '#' : '.';
        bar[30] = '\0';
        const double left = rate > 0 ? (total - (done < total ? done : total)) / rate : 0;
        std::snprintf(line, sizeof line, "[%s] %3u%%  %u/%u bytes  %.1f kB/s  %u:%02u left  at %X",
                      bar, permille / 10, done, total, rate / 1000, unsigned(left) / 60,
                      unsigned(left) % 60, address);
    } else {
        std::snprintf(line, sizeof line, "%u bytes  %.1f kB/s  at %X", done, rate / 1000, address);
    }
    terminal_line::Show(line);
}

void CliProgress::Close() {
    std::lock_guard lock(mutex_);
    if (active_)
        terminal_line::Clear();
    active_ = false;
}

}  // namespace cli
