#include "cli/PortLines.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "memops/ProgressView.h"
#include "platform/Clock.h"

namespace cli {

PortLines::PortLines(std::vector<std::string> names, bool live, bool quiet, std::FILE* out)
    : live_(live && !quiet), quiet_(quiet), out_(out) {
    for (std::string& n : names) {
        nameWidth_ = std::max(nameWidth_, n.size());
        lines_.push_back({std::move(n), "waiting", 0, 0, platform::TickMs()});
    }
    winsize ws{};
    if (live_ && ioctl(fileno(out_), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20)
        columns_ = ws.ws_col;
}

PortLines::~PortLines() {
    Close();
}

std::string PortLines::Render(const Line& l) const {
    // The state first: it is what a narrow terminal must not cut.
    std::string text = l.name + std::string(nameWidth_ - l.name.size() + 2, ' ') + l.state;
    text += std::string(l.state.size() < 26 ? 28 - l.state.size() : 2, ' ');
    char cells[120];
    const double seconds = (platform::TickMs() - l.startMs) / 1000.0;
    const double rate = seconds > 0 ? l.done / seconds : 0;
    if (l.total) {
        const uint32_t permille = memops::ProgressPermille(
            static_cast<uint32_t>(std::min<uint64_t>(l.done, UINT32_MAX)),
            static_cast<uint32_t>(std::min<uint64_t>(l.total, UINT32_MAX)));
        char bar[21];
        for (unsigned i = 0; i < 20; ++i)
            bar[i] = i < permille * 20 / 1000 ? '#' : '.';
        bar[20] = '\0';
        std::snprintf(cells, sizeof cells, "[%s] %3u%%  %llu/%llu bytes  %.1f kB/s", bar,
                      permille / 10, static_cast<unsigned long long>(l.done),
                      static_cast<unsigned long long>(l.total), rate / 1000);
    } else {
        std::snprintf(cells, sizeof cells, "%llu bytes  %.1f kB/s",
                      static_cast<unsigned long long>(l.done), rate / 1000);
    }
    text += cells;
    // A line wider than the terminal would wrap and break the redraw in place.
    if (text.size() >= columns_)
        text.resize(columns_ - 1);
    return text;
}

void PortLines::EraseLocked() {
    if (!drawn_)
        return;
    // Back to the block's first line, and everything below it cleared.
    std::fprintf(out_, "\033[%zuA\r\033[J", lines_.size());
    drawn_ = false;
}

void PortLines::DrawLocked() {
    EraseLocked();
    for (const Line& l : lines_)
        std::fprintf(out_, "%s\n", Render(l).c_str());
    std::fflush(out_);
    drawn_ = true;
    lastDrawMs_ = platform::TickMs();
}

void PortLines::State(size_t port, const std::string& state) {
    std::lock_guard lock(mutex_);
    if (port >= lines_.size())
        return;
    Line& l = lines_[port];
    if (l.state == state)
        return;
    l.state = state;
    if (live_) {
        DrawLocked();
    } else if (!quiet_) {
        std::fprintf(out_, "%s: %s\n", l.name.c_str(), state.c_str());
        std::fflush(out_);
    }
}

void PortLines::Progress(size_t port, uint64_t done, uint64_t total) {
    std::lock_guard lock(mutex_);
    if (port >= lines_.size())
        return;
    Line& l = lines_[port];
    if (done < l.done || l.total != total)
        l.startMs = platform::TickMs();  // a new stretch: its own rate
    l.done = done;
    l.total = total;
    if (live_ && platform::TickMs() - lastDrawMs_ >= 100)
        DrawLocked();
}

void PortLines::Message(size_t port, const std::string& text) {
    std::lock_guard lock(mutex_);
    const std::string name = port < lines_.size() ? lines_[port].name : std::string("zimp");
    EraseLocked();
    size_t from = 0;
    while (from < text.size()) {
        size_t nl = text.find('\n', from);
        if (nl == std::string::npos)
            nl = text.size();
        std::fprintf(out_, "%s: %.*s\n", name.c_str(), static_cast<int>(nl - from),
                     text.data() + from);
        from = nl + 1;
    }
    if (live_)
        DrawLocked();
    std::fflush(out_);
}

void PortLines::Close() {
    std::lock_guard lock(mutex_);
    if (live_ && drawn_)
        DrawLocked();
    live_ = false;
    drawn_ = false;
}

}  // namespace cli
