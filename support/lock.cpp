#include "support/lock.h"

#include <atomic>
#include <mutex>

#include "support/platform/semaphore.h"

namespace {

// Makes the first acquisitions of one lock from two threads safe: the state
// word is published only after the semaphore exists, and making it is
// serialised. Locks are made a handful of times per run, so one guard for all
// of them costs nothing.
std::mutex& MakeGuard() {
    static std::mutex* guard = new std::mutex;  // never destroyed: usable during exit
    return *guard;
}

v3PlatformSemaphore* Semaphore(const v3Lock* lock) {
    return static_cast<v3PlatformSemaphore*>(lock->handle);
}

bool EnsureMade(v3Lock* lock) {
    std::atomic_ref<uint32_t> state(lock->state);
    if (state.load(std::memory_order_acquire) == kLockMade) return true;
    std::lock_guard<std::mutex> hold(MakeGuard());
    if (state.load(std::memory_order_relaxed) == kLockMade) return true;
    v3PlatformSemaphore* sem = v3PlatformSemaphoreCreate(1);
    if (sem == nullptr) return false;
    lock->handle = sem;
    state.store(kLockMade, std::memory_order_release);
    return true;
}

}  // namespace

int v3LockAcquire(v3Lock* lock, uint32_t /*mode*/) {
    // Every caller waits without limit (mode 14), so the mode changes nothing.
    if (lock == nullptr || !EnsureMade(lock)) return -1;
    v3PlatformSemaphoreWait(Semaphore(lock));
    return -1;
}

int v3LockRelease(v3Lock* lock) {
    if (lock == nullptr) return -1;
    std::atomic_ref<uint32_t> state(lock->state);
    if (state.load(std::memory_order_acquire) != kLockMade) return -1;
    return v3PlatformSemaphoreRelease(Semaphore(lock));
}

void v3LockDestroy(v3Lock* lock) {
    if (lock == nullptr) return;
    std::atomic_ref<uint32_t> state(lock->state);
    if (state.load(std::memory_order_acquire) != kLockMade) return;
    v3PlatformSemaphoreDestroy(Semaphore(lock));
    lock->handle = nullptr;
    state.store(0, std::memory_order_release);
}
