#pragma once
#include <cstdint>

namespace platform {
// Milliseconds on a monotonic clock; only differences mean anything.
uint64_t TickMs();
void SleepMs(uint32_t ms);
// Raises (or restores) the process's scheduling priority, best effort: never an error, since
// an unprivileged user may not raise it.
enum class ProcessPriority { Normal, High };
void SetProcessPriority(ProcessPriority p);
// Raises the calling thread above normal where the system allows it.
void RaiseThreadPriority();
}  // namespace platform
