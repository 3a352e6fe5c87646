#include "platform/Clock.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace platform {

uint64_t TickMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetProcessPriority(ProcessPriority p) {
    (void)setpriority(PRIO_PROCESS, 0, p == ProcessPriority::High ? -10 : 0);
}

void RaiseThreadPriority() {
    // Per-thread nice value on Linux; fails quietly without the privilege.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -5);
}

}  // namespace platform
