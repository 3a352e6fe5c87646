#pragma once
// The one retry rule of the memory operations: a request the radio answers with a NAK is sent
// again after a short pause, up to four attempts in all. Loads, saves and verifies use it; a
// request sent by hand is a single attempt.

#include <atomic>
#include <cstdint>

#include "zimp/ZimpEngine.h"

namespace memops {

inline constexpr int kNakAttempts = 4;
inline constexpr uint32_t kNakPauseMs = 20;

// "Read" of count bytes at the wire address, tried again after each NAK while cancelled (when
// given) is not set. Returns the bytes placed in dest; the engine keeps the last outcome.
uint32_t ReadMemoryRetryingNak(zimp::ZimpEngine& engine, uint32_t address, uint8_t* dest,
                               uint32_t count, uint32_t replyTimeoutMs,
                               const std::atomic<bool>* cancelled = nullptr);

}  // namespace memops
