#pragma once
// When a blocking wait gives up: a point on the millisecond clock (platform/Clock.h), or none.
// Every time-limited read, write and wait of the workbench takes its poll time-out from here.

#include <cstdint>

namespace platform {

class Deadline {
  public:
    // No limit: the wait ends only by its event or an abort.
    static Deadline Never() { return Deadline(); }
    // `ms` milliseconds after `startMs` (a TickMs reading).
    static Deadline At(uint64_t startMs, uint64_t ms) { return Deadline(startMs + ms); }
    // `ms` milliseconds from now.
    static Deadline In(uint64_t ms);
    // A transfer of n bytes: multiplier × n + constant milliseconds from now when `limited`.
    static Deadline ForTransfer(bool limited, uint32_t multiplier, uint32_t n, uint32_t constant);

    bool Limited() const { return limited_; }
    // Milliseconds left for poll: -1 without a limit, 0 once passed, else at most 2^30.
    int RemainingMs() const;
    bool Passed() const { return RemainingMs() == 0; }
    // The one that ends first.
    Deadline Earlier(const Deadline& other) const;

  private:
    Deadline() = default;
    explicit Deadline(uint64_t atMs) : limited_(true), atMs_(atMs) {}

    bool limited_ = false;
    uint64_t atMs_ = 0;
};

}  // namespace platform
