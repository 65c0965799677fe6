#include "support/lock.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int kWaitMs = 5000;

// Acquires on a helper thread, so that a lock that never comes free fails
// the test instead of hanging it.
class Acquirer {
public:
    explicit Acquirer(v3Lock* lock) : done_(std::make_shared<std::atomic<bool>>(false)) {
        std::thread([lock, done = done_] {
            v3LockAcquire(lock, kLockWaitForever);
            done->store(true);
        }).detach();
    }
    bool Within(int ms) const {
        for (int i = 0; i < ms && !done_->load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return done_->load();
    }

private:
    std::shared_ptr<std::atomic<bool>> done_;
};

TEST(Lock, ZeroRecordIsMadeOnFirstAcquisition) {
    v3Lock lock{};
    EXPECT_EQ(v3LockRelease(&lock), -1);  // not made yet
    EXPECT_EQ(v3LockAcquire(&lock, kLockWaitForever), -1);
    EXPECT_EQ(lock.state, kLockMade);
    EXPECT_EQ(v3LockRelease(&lock), 0);
    // Maximum count 1: a second release must not let two holders in.
    EXPECT_EQ(v3LockRelease(&lock), -1);
    v3LockAcquire(&lock, kLockWaitForever);
    Acquirer waiting(&lock);
    EXPECT_FALSE(waiting.Within(20));
    EXPECT_EQ(v3LockRelease(&lock), 0);  // lets the waiting helper in
    ASSERT_TRUE(waiting.Within(kWaitMs));
    EXPECT_EQ(v3LockRelease(&lock), 0);  // and out again
    v3LockDestroy(&lock);
    EXPECT_EQ(lock.state, 0u);
    EXPECT_EQ(lock.handle, nullptr);
    EXPECT_EQ(v3LockRelease(&lock), -1);
    v3LockDestroy(&lock);  // unmade: nothing to do
    v3LockAcquire(&lock, kLockWaitForever);  // and it can be made again
    EXPECT_EQ(v3LockRelease(&lock), 0);
    v3LockDestroy(&lock);
}

TEST(Lock, AnyThreadMayRelease) {
    v3Lock lock{};
    v3LockAcquire(&lock, kLockWaitForever);
    std::thread([&lock] { EXPECT_EQ(v3LockRelease(&lock), 0); }).join();
    EXPECT_TRUE(Acquirer(&lock).Within(kWaitMs));
    EXPECT_EQ(v3LockRelease(&lock), 0);
    v3LockDestroy(&lock);
}

// Many threads make and use one zero-filled lock at once: exactly one
// semaphore is made (a second would leak and split the holders) and the
// counter sees every increment.
TEST(Lock, RacingFirstAcquisitionsStillExclude) {
    for (int round = 0; round < 20; ++round) {
        v3Lock lock{};
        long counter = 0;
        std::atomic<bool> start{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 6; ++t) {
            threads.emplace_back([&] {
                while (!start.load()) std::this_thread::yield();
                for (int i = 0; i < 500; ++i) {
                    v3LockAcquire(&lock, kLockWaitForever);
                    long seen = counter;
                    std::this_thread::yield();
                    counter = seen + 1;
                    v3LockRelease(&lock);
                }
            });
        }
        start.store(true);
        for (auto& th : threads) th.join();
        EXPECT_EQ(counter, 6 * 500);
        v3LockDestroy(&lock);
    }
}

}  // namespace
