// The lock record: a counting semaphore of count 1 and maximum 1 (not a
// re-entrant mutex: any thread may release it). A zero-filled record is a
// valid lock that is not made yet; the first acquisition makes it.
#pragma once

#include <cstdint>

inline constexpr uint32_t kLockMade = 42;
// The one acquisition mode in use: wait without limit.
inline constexpr uint32_t kLockWaitForever = 14;

struct v3Lock {
    uint32_t state;  // kLockMade once the semaphore exists
    void* handle;    // the platform's unnamed semaphore, owned by the record
};

// Makes the lock if needed and waits for it. Always returns -1; callers
// ignore the result.
int v3LockAcquire(v3Lock* lock, uint32_t mode);
// 0, or -1 when the lock is not made or the release failed.
int v3LockRelease(v3Lock* lock);
// Unmakes a made lock; the record is then zero-state again.
void v3LockDestroy(v3Lock* lock);
