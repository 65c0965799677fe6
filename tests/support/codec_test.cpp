// The codec's state machine, driven through a small recording table so that
// each path (failed start, failed process, failed end) can be provoked.
#include "support/codec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Probe {
    uint32_t argument;
    uint64_t extra;
    char tag;          // 'F' for the first triple, 'S' for the second
    int fail_end;      // the end operation's code while non-zero
    int end_calls;
    uint64_t counter;  // bumped non-atomically by the process operation
};

// The operations give codes outside the codec's own table too (-5, -7, -9),
// so that a code passed through is told apart from one the codec made.
int g_start_code = 0;  // what the next start operation returns

template <char Tag>
CodecResult StartOp(v3Codec* codec, uint32_t argument, uint64_t extra) {
    if (g_start_code != 0) return static_cast<CodecResult>(g_start_code);
    auto* p = static_cast<Probe*>(std::calloc(1, sizeof(Probe)));
    p->argument = argument;
    p->extra = extra;
    p->tag = Tag;
    codec->private_state = p;
    return kCodecOk;
}

// Appends the tag and the data; the text "fail" fails with -7.
template <char Tag>
CodecResult ProcessOp(v3Buffer* q, v3Codec* codec, const void* data, uint64_t n) {
    auto* p = static_cast<Probe*>(codec->private_state);
    if (n == 4 && std::memcmp(data, "fail", 4) == 0) return static_cast<CodecResult>(-7);
    const uint64_t seen = p->counter;
    std::this_thread::yield();  // invites a second thread into an unlocked codec
    p->counter = seen + 1;
    const char tag = Tag;
    if (v3BufferAppend(q, &tag, 1) != 0) return kCodecErrMemory;
    return v3BufferAppend(q, data, n) == 0 ? kCodecOk : kCodecErrMemory;
}

template <char Tag>
CodecResult EndOp(v3Buffer*, v3Codec* codec) {
    auto* p = static_cast<Probe*>(codec->private_state);
    ++p->end_calls;
    return static_cast<CodecResult>(p->fail_end);
}

int Start(v3Buffer* q, v3Codec* c, uint32_t direction, uint32_t argument = 0,
          uint64_t extra = 0) {
    return v3CodecStart(q, c, StartOp<'F'>, ProcessOp<'F'>, EndOp<'F'>, StartOp<'S'>,
                        ProcessOp<'S'>, EndOp<'S'>, direction, argument, extra);
}

Probe* ProbeOf(v3Codec* c) { return static_cast<Probe*>(c->private_state); }

std::string Drain(v3Buffer* q) {
    std::string out;
    EXPECT_EQ(v3BufferTakeAll(q, &out), 0);
    return out;
}

class CodecTest : public ::testing::Test {
protected:
    void SetUp() override { g_start_code = 0; }
    void TearDown() override {
        v3CodecEnd(&q_, &c_);
        v3BufferFree(&q_);
    }
    v3Buffer q_{};
    v3Codec c_{};
};

TEST_F(CodecTest, StartChecksItsArguments) {
    EXPECT_EQ(v3CodecStart(&q_, &c_, StartOp<'F'>, ProcessOp<'F'>, nullptr, StartOp<'S'>,
                           ProcessOp<'S'>, EndOp<'S'>, kCodecFirst, 0, 0),
              -1);
    EXPECT_EQ(Start(&q_, &c_, 180), -1);
    EXPECT_EQ(Start(nullptr, &c_, kCodecFirst), -1);
    EXPECT_EQ(Start(&q_, nullptr, kCodecFirst), -1);
    EXPECT_EQ(c_.state, 0u);
    EXPECT_EQ(q_.kind, 0u);
}

TEST_F(CodecTest, DirectionSelectsTheTripleAndArgumentsReachTheStart) {
    ASSERT_EQ(Start(&q_, &c_, kCodecSecond, 7, 99), 0);
    EXPECT_EQ(c_.state, kCodecStarted);
    EXPECT_EQ(c_.argument, 7u);
    EXPECT_EQ(c_.direction, kCodecSecond);
    EXPECT_EQ(q_.capacity, 4096u);
    EXPECT_EQ(q_.step, 4096u);
    EXPECT_EQ(ProbeOf(&c_)->tag, 'S');
    EXPECT_EQ(ProbeOf(&c_)->argument, 7u);
    EXPECT_EQ(ProbeOf(&c_)->extra, 99u);
    ASSERT_EQ(v3CodecProcess(&q_, &c_, "ab", 2), 0);
    EXPECT_EQ(c_.state, kCodecProcessed);
    ASSERT_EQ(v3CodecProcess(&q_, &c_, nullptr, 0), 0);
    ASSERT_EQ(v3CodecEnd(&q_, &c_), 0);
    EXPECT_EQ(c_.state, kCodecEnded);
    EXPECT_EQ(c_.private_state, nullptr);
    // The queue outlives the codec.
    EXPECT_EQ(Drain(&q_), "SabS");
    v3BufferFree(&q_);

    ASSERT_EQ(Start(&q_, &c_, kCodecFirst), 0);
    ASSERT_EQ(v3CodecProcess(&q_, &c_, "x", 1), 0);
    EXPECT_EQ(Drain(&q_), "Fx");
}

TEST_F(CodecTest, SecondStartAndUnfreedQueueAreRefused) {
    ASSERT_EQ(Start(&q_, &c_, kCodecFirst), 0);
    v3Buffer other{};
    EXPECT_EQ(Start(&other, &c_, kCodecFirst), -2);
    EXPECT_EQ(other.kind, 0u);
    ASSERT_EQ(v3CodecEnd(&q_, &c_), 0);

    // The queue of the last run was not freed: it cannot be made again.
    EXPECT_EQ(Start(&q_, &c_, kCodecFirst), -3);
    EXPECT_EQ(c_.private_state, nullptr);
    EXPECT_EQ(c_.lock.state, 0u);
    v3BufferFree(&q_);
    EXPECT_EQ(Start(&q_, &c_, kCodecFirst), 0);
}

TEST_F(CodecTest, FailedStartOperationPassesItsCodeAndFreesTheQueue) {
    g_start_code = -9;
    EXPECT_EQ(Start(&q_, &c_, kCodecFirst), -9);
    EXPECT_EQ(q_.kind, 0u);
    EXPECT_EQ(q_.storage, nullptr);
    EXPECT_EQ(c_.private_state, nullptr);
    EXPECT_EQ(c_.lock.state, 0u);
    g_start_code = 0;
    EXPECT_EQ(Start(&q_, &c_, kCodecFirst), 0);
}

TEST_F(CodecTest, NeverStartedCodecIsRefusedAndCanStillStart) {
    EXPECT_EQ(v3CodecProcess(&q_, &c_, "ab", 2), -2);
    EXPECT_EQ(v3CodecEnd(&q_, &c_), -2);
    EXPECT_EQ(c_.state, kCodecFailed);
    // Ending it again must not run operations that were never stored.
    EXPECT_EQ(v3CodecEnd(&q_, &c_), -2);
    EXPECT_EQ(c_.lock.state, 0u);
    EXPECT_EQ(v3CodecProcess(nullptr, &c_, "ab", 2), -1);
    EXPECT_EQ(v3CodecProcess(&q_, &c_, nullptr, 2), -1);
    ASSERT_EQ(Start(&q_, &c_, kCodecFirst), 0);
    EXPECT_EQ(v3CodecProcess(&q_, &c_, "ab", 2), 0);
}

TEST_F(CodecTest, FailedProcessLeavesFailedStateThatEndCleansUp) {
    ASSERT_EQ(Start(&q_, &c_, kCodecFirst), 0);
    ASSERT_EQ(v3CodecProcess(&q_, &c_, "ok", 2), 0);
    EXPECT_EQ(v3CodecProcess(&q_, &c_, "fail", 4), -7);
    EXPECT_EQ(c_.state, kCodecFailed);
    EXPECT_EQ(v3CodecProcess(&q_, &c_, "more", 4), -2);
    ProbeOf(&c_)->fail_end = -5;  // ignored for a failed codec
    EXPECT_EQ(v3CodecEnd(&q_, &c_), 0);
    EXPECT_EQ(c_.state, kCodecEnded);
    EXPECT_EQ(c_.private_state, nullptr);
    EXPECT_EQ(c_.lock.state, 0u);
    EXPECT_EQ(Drain(&q_), "Fok");
    v3BufferFree(&q_);
    ASSERT_EQ(Start(&q_, &c_, kCodecSecond), 0);
    EXPECT_EQ(v3CodecProcess(&q_, &c_, "again", 5), 0);
}

TEST_F(CodecTest, FailedEndReportsItsCodeAndASecondEndCleansUp) {
    ASSERT_EQ(Start(&q_, &c_, kCodecFirst), 0);
    ProbeOf(&c_)->fail_end = -4;
    EXPECT_EQ(v3CodecEnd(&q_, &c_), -4);
    EXPECT_EQ(c_.state, kCodecFailed);
    ASSERT_NE(c_.private_state, nullptr);
    EXPECT_EQ(ProbeOf(&c_)->end_calls, 1);
    EXPECT_EQ(v3CodecEnd(&q_, &c_), 0);
    EXPECT_EQ(c_.private_state, nullptr);
    // Ending an ended codec is refused.
    EXPECT_EQ(v3CodecEnd(&q_, &c_), -2);
    EXPECT_EQ(c_.state, kCodecFailed);
}

// The codec's lock serialises the operations: a process operation that reads,
// yields and writes back its counter loses no update while several threads
// feed the same codec.
TEST_F(CodecTest, OneCodecFedFromSeveralThreadsInTurn) {
    ASSERT_EQ(Start(&q_, &c_, kCodecFirst), 0);
    constexpr int kThreads = 4;
    constexpr int kCalls = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this] {
            for (int i = 0; i < kCalls; ++i) v3CodecProcess(&q_, &c_, "z", 1);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ProbeOf(&c_)->counter, uint64_t{kThreads * kCalls});
    EXPECT_EQ(v3BufferSize(&q_), uint64_t{2 * kThreads * kCalls});
}

}  // namespace
