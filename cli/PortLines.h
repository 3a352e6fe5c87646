#pragma once
// What several ports at once show on stderr. On a terminal: one live line per port (port, a bar,
// bytes, rate, state) redrawn in place, with messages written above the block. Elsewhere: one
// plain line per port per state change, and the messages, each prefixed with its port's name.
// Calls come from every port's thread; no two outputs interleave.

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace cli {

class PortLines {
  public:
    // live: draw the block (stderr is a terminal); quiet: only the messages.
    PortLines(std::vector<std::string> names, bool live, bool quiet, std::FILE* out = stderr);
    ~PortLines();
    PortLines(const PortLines&) = delete;
    PortLines& operator=(const PortLines&) = delete;

    void State(size_t port, const std::string& state);
    // total 0: unknown.
    void Progress(size_t port, uint64_t done, uint64_t total);
    // Each line of text prefixed with the port's name.
    void Message(size_t port, const std::string& text);
    // The last drawing of the block, which stays on the screen.
    void Close();

  private:
    struct Line {
        std::string name, state;
        uint64_t done = 0, total = 0;
        uint64_t startMs = 0;
    };
    std::string Render(const Line& line) const;
    void DrawLocked();
    void EraseLocked();

    std::mutex mutex_;
    std::vector<Line> lines_;
    bool live_, quiet_;
    std::FILE* out_;
    size_t nameWidth_ = 0;
    bool drawn_ = false;
    uint64_t lastDrawMs_ = 0;
    unsigned columns_ = 80;
};

}  // namespace cli
