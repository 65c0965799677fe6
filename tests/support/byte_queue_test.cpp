#include "support/byte_queue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

std::string ReadAll(v3Buffer* q) {
    std::string out(v3BufferSize(q), '\0');
    EXPECT_EQ(v3BufferRead(out.data(), out.size(), q), out.size());
    return out;
}

TEST(ByteQueue, InitReportsEachRefusal) {
    EXPECT_EQ(v3BufferInit(nullptr, 16, 1, 16), -4);
    v3Buffer q{};
    EXPECT_EQ(v3BufferInit(&q, 16, 2, 16), -3);
    EXPECT_EQ(q.kind, 0u);
    ASSERT_EQ(v3BufferInit(&q, 16, 1, 16), 0);
    EXPECT_EQ(v3BufferInit(&q, 16, 1, 16), -2);
    for (uint64_t i = 0; i < q.capacity; ++i) EXPECT_EQ(q.storage[i], 0) << i;
    v3BufferFree(&q);
    EXPECT_EQ(q.kind, 0u);
    EXPECT_EQ(q.storage, nullptr);
    EXPECT_EQ(q.capacity, 0u);
    // A freed queue can be made again.
    EXPECT_EQ(v3BufferInit(&q, 8, 1, 0), 0);
    v3BufferFree(&q);
}

TEST(ByteQueue, GrowsByWholeStepsCoveringTheShortfall) {
    v3Buffer q{};
    ASSERT_EQ(v3BufferInit(&q, 4096, 1, 4096), 0);
    std::string data(5000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    ASSERT_EQ(v3BufferAppend(&q, data.data(), data.size()), 0);
    EXPECT_EQ(q.capacity, 8192u);
    EXPECT_EQ(v3BufferSize(&q), 5000u);
    EXPECT_EQ(ReadAll(&q), data);
    v3BufferFree(&q);

    // Several steps at once: a shortfall of 2490 with step 1000 takes three.
    ASSERT_EQ(v3BufferInit(&q, 10, 1, 1000), 0);
    ASSERT_EQ(v3BufferAppend(&q, std::string(2500, 'x').data(), 2500), 0);
    EXPECT_EQ(q.capacity, 3010u);
    v3BufferFree(&q);
}

TEST(ByteQueue, QueueWithoutGrowthRefusesWhatDoesNotFit) {
    v3Buffer q{};
    ASSERT_EQ(v3BufferInit(&q, 8, 1, 0), 0);
    ASSERT_EQ(v3BufferAppend(&q, "abcdefgh", 8), 0);
    EXPECT_EQ(v3BufferAppend(&q, "i", 1), -2);
    EXPECT_EQ(v3BufferAppend(&q, "", 0), 0);
    EXPECT_EQ(ReadAll(&q), "abcdefgh");

    // Zero capacity and no growth: nothing fits, nothing is lost either.
    v3Buffer empty{};
    ASSERT_EQ(v3BufferInit(&empty, 0, 1, 0), 0);
    EXPECT_EQ(v3BufferAppend(&empty, "a", 1), -2);
    EXPECT_EQ(v3BufferSize(&empty), 0u);
    v3BufferFree(&empty);
    v3BufferFree(&q);
}

TEST(ByteQueue, MissingOrUnmadeQueueAndBadArguments) {
    v3Buffer unmade{};
    char byte = 0;
    EXPECT_EQ(v3BufferAppend(nullptr, "a", 1), -4);
    EXPECT_EQ(v3BufferAppend(&unmade, "a", 1), -4);
    EXPECT_EQ(v3BufferRead(&byte, 1, &unmade), 0u);
    EXPECT_EQ(v3BufferRead(&byte, 1, nullptr), 0u);
    EXPECT_EQ(v3BufferSize(nullptr), 0u);
    v3BufferFree(nullptr);

    v3Buffer q{};
    ASSERT_EQ(v3BufferInit(&q, 4, 1, 4), 0);
    EXPECT_EQ(v3BufferAppend(&q, nullptr, 3), -4);
    ASSERT_EQ(v3BufferAppend(&q, "xy", 2), 0);
    EXPECT_EQ(v3BufferRead(nullptr, 2, &q), 0u);
    EXPECT_EQ(v3BufferSize(&q), 2u);
    v3BufferFree(&q);
}

// Sizes that would wrap a 64-bit counter are refused before anything is
// allocated or copied (the data pointer is never read for them).
TEST(ByteQueue, SizeArithmeticNeverWraps) {
    char small[8] = {};
    v3Buffer q{};
    ASSERT_EQ(v3BufferInit(&q, 4096, 1, 4096), 0);
    ASSERT_EQ(v3BufferAppend(&q, small, 8), 0);
    EXPECT_EQ(v3BufferAppend(&q, small, kMax - 4), -1);  // held + n wraps
    v3BufferFree(&q);

    ASSERT_EQ(v3BufferInit(&q, 4096, 1, kMax), 0);  // capacity + one step wraps
    EXPECT_EQ(v3BufferAppend(&q, small, 4097), -1);
    EXPECT_EQ(q.capacity, 4096u);
    v3BufferFree(&q);

    const uint64_t step = (uint64_t{1} << 63) + 1;  // two steps wrap
    ASSERT_EQ(v3BufferInit(&q, 4096, 1, step), 0);
    EXPECT_EQ(v3BufferAppend(&q, small, step + 4097), -1);
    EXPECT_EQ(v3BufferSize(&q), 0u);
    v3BufferFree(&q);
}

// Reads and appends alternate in random sizes against a simple model. A
// fixed-size queue must accept every append that fits its free room, which
// only works if consumed space at the front is reused.
TEST(ByteQueue, InterleavedReadsAndAppendsKeepDataIntact) {
    for (uint64_t step : {uint64_t{0}, uint64_t{16}}) {
        SCOPED_TRACE(step);
        std::mt19937 rng(1234 + static_cast<unsigned>(step));
        v3Buffer q{};
        ASSERT_EQ(v3BufferInit(&q, 64, 1, step), 0);
        std::deque<char> model;
        char next = 0;
        for (int round = 0; round < 5000; ++round) {
            const uint64_t n = rng() % 40;
            if (rng() % 2 == 0) {
                std::vector<char> chunk(n);
                for (auto& c : chunk) c = next++;
                const bool fits = model.size() + n <= q.capacity;
                const int rc = v3BufferAppend(&q, chunk.data(), n);
                if (step == 0 && !fits) {
                    ASSERT_EQ(rc, -2);
                    next = static_cast<char>(next - n);
                    continue;
                }
                ASSERT_EQ(rc, 0) << "round " << round;
                model.insert(model.end(), chunk.begin(), chunk.end());
            } else {
                std::vector<char> out(n + 1, '\x7f');
                const uint64_t got = v3BufferRead(out.data(), n, &q);
                ASSERT_EQ(got, std::min<uint64_t>(n, model.size()));
                for (uint64_t i = 0; i < got; ++i) {
                    ASSERT_EQ(out[i], model.front()) << "round " << round;
                    model.pop_front();
                }
                ASSERT_EQ(out[got], '\x7f');  // nothing past the count is written
            }
            ASSERT_EQ(v3BufferSize(&q), model.size());
            ASSERT_LE(q.read_pos + q.held, q.capacity);
        }
        v3BufferFree(&q);
    }
}

}  // namespace
