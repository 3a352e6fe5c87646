#include "memops/NakRetry.h"

#include "platform/Clock.h"

namespace memops {

uint32_t ReadMemoryRetryingNak(zimp::ZimpEngine& engine, uint32_t address, uint8_t* dest,
                               uint32_t count, uint32_t replyTimeoutMs,
                               const std::atomic<bool>* cancelled) {
    uint32_t got = 0;
    for (int attempt = 1; attempt <= kNakAttempts; ++attempt) {
        got = engine.ReadMemory(address, dest, count, replyTimeoutMs);
        if (engine.LinkError() != zimp::LinkError::Nak || attempt == kNakAttempts)
            break;
        if (cancelled != nullptr && cancelled->load())
            break;
        platform::SleepMs(kNakPauseMs);
    }
    return got;
}

}  // namespace memops
