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

bool v3Waker::Sleep(uint32_t ms) {
    if (v3SleepHook hook = g_sleep_hook.load(); hook != nullptr) {
        if (Woken()) return true;
        hook(ms);
        return Woken();
    }
    std::unique_lock<std::mutex> hold(lock_);
    return woken_signal_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return woken_; });
}

void v3Waker::Wake() {
    std::lock_guard<std::mutex> hold(lock_);
    woken_ = true;
    woken_signal_.notify_all();
}

bool v3Waker::Woken() {
    std::lock_guard<std::mutex> hold(lock_);
    return woken_;
}

void v3Waker::Rearm() {
    std::lock_guard<std::mutex> hold(lock_);
    woken_ = false;
}
