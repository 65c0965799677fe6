#include "support/sleep.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<v3SleepHook> g_sleep_hook{nullptr};

}  // namespace

int v3Sleep(uint32_t ms) {
    if (v3SleepHook hook = g_sleep_hook.load(); hook != nullptr) {
        hook(ms);
        return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return 0;
}

void v3SetSleepHook(v3SleepHook hook) {
    g_sleep_hook.store(hook);
}
