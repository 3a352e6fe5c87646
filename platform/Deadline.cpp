#include "platform/Deadline.h"

#include <algorithm>

#include "platform/Clock.h"

namespace platform {

Deadline Deadline::In(uint64_t ms) {
    return At(TickMs(), ms);
}

Deadline Deadline::ForTransfer(bool limited, uint32_t multiplier, uint32_t n, uint32_t constant) {
    return limited ? In(uint64_t(multiplier) * n + constant) : Never();
}

int Deadline::RemainingMs() const {
    if (!limited_)
        return -1;
    const uint64_t now = TickMs();
    return now >= atMs_ ? 0 : static_cast<int>(std::min<uint64_t>(atMs_ - now, 1u << 30));
}

Deadline Deadline::Earlier(const Deadline& other) const {
    if (!limited_)
        return other;
    if (!other.limited_)
        return *this;
    return atMs_ <= other.atMs_ ? *this : other;
}

}  // namespace platform
