#include "support/thread.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "support/sleep.h"

namespace {

constexpr int kWaitMs = 5000;

template <typename Pred>
bool WaitFor(Pred pred) {
    for (int ms = 0; ms < kWaitMs && !pred(); ++ms) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return pred();
}

struct Probe {
    std::atomic<int> runs{0};
    std::atomic<bool> saw_arg{false};
};

void Record(void* arg) {
    auto* p = static_cast<Probe*>(arg);
    p->saw_arg.store(true);
    ++p->runs;
}

// The callers ask for 4096 and 8192 bytes, sizes no Linux thread lives on;
// a routine using several times that must still run.
void UseDeepStack(void* arg) {
    volatile char buffer[48 * 1024];
    std::memset(const_cast<char*>(buffer), 1, sizeof buffer);
    static_cast<std::atomic<int>*>(arg)->fetch_add(buffer[sizeof buffer - 1]);
}

TEST(Thread, StartsDetachedThreadsWithTheirArgument) {
    Probe probe;
    std::set<uint64_t> ids;
    for (int i = 0; i < 8; ++i) {
        uint64_t id = 0;
        ASSERT_EQ(v3ThreadStart(&id, Record, &probe, 4096), 0);
        EXPECT_NE(id, 0u);
        EXPECT_EQ(id >> 32, 0u);
        ids.insert(id);
    }
    EXPECT_TRUE(WaitFor([&] { return probe.runs.load() == 8; }));
    EXPECT_TRUE(probe.saw_arg.load());
    EXPECT_EQ(ids.size(), 8u);  // IDs of threads alive at once are distinct
}

TEST(Thread, SmallStackRequestsAreRaised) {
    std::atomic<int> done{0};
    uint64_t id = 0;
    ASSERT_EQ(v3ThreadStart(&id, UseDeepStack, &done, 4096), 0);
    ASSERT_EQ(v3ThreadStart(&id, UseDeepStack, &done, 8192), 0);
    EXPECT_TRUE(WaitFor([&] { return done.load() == 2; }));
}

std::atomic<uint32_t> g_hooked_ms{0};
void HookSleep(uint32_t ms) { g_hooked_ms.store(ms); }

TEST(Sleep, HookTakesTheWaitAndNullRestoresRealSleep) {
    v3SetSleepHook(HookSleep);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(v3Sleep(86400000), 0);
    EXPECT_EQ(g_hooked_ms.load(), 86400000u);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));

    v3SetSleepHook(nullptr);
    g_hooked_ms.store(0);
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(v3Sleep(5), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(5));
    EXPECT_EQ(g_hooked_ms.load(), 0u);
}

// A waker cuts a long sleep short from another thread, keeps a wake that
// came before the sleep, and with the hook set leaves the step to the hook
// (and skips it once woken).
TEST(Sleep, AWakerCutsTheSleepShortAndKeepsAnEarlyWake) {
    v3Waker waker;
    const auto t0 = std::chrono::steady_clock::now();
    std::thread wake([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        waker.Wake();
    });
    EXPECT_TRUE(waker.Sleep(60000));
    wake.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_TRUE(waker.Sleep(60000));  // stays woken

    v3Waker quiet;
    EXPECT_FALSE(quiet.Sleep(5));

    v3SetSleepHook(HookSleep);
    g_hooked_ms.store(0);
    v3Waker hooked;
    EXPECT_FALSE(hooked.Sleep(86400000));
    EXPECT_EQ(g_hooked_ms.load(), 86400000u);
    g_hooked_ms.store(0);
    hooked.Wake();
    EXPECT_TRUE(hooked.Sleep(500));
    EXPECT_EQ(g_hooked_ms.load(), 0u);
    v3SetSleepHook(nullptr);
}

}  // namespace
