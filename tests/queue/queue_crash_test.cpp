// A client killed at any moment while it saves its queue must leave a
// queue.dat that loads whole: the old record or the new one, never a mixture
// and never nothing.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>

#include "queue_test_support.h"

namespace {

class QueueCrashTest : public qrvtest::QueueTest {};

// Starts the saver in the current directory and waits for its first save.
pid_t StartSaver() {
    int out[2];
    if (pipe(out) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        const std::string path = qrvtest::BinPath("queue_saver");
        execl(path.c_str(), "queue_saver", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char line[8] = {};
    const ssize_t n = read(out[0], line, 6);
    close(out[0]);
    if (n != 6 || std::string(line) != "ready\n") {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

// Every field the saver wrote carries the same generation.
void ExpectWholeRecord(const WorkQueue& q, int round) {
    const uint32_t g = q.performance_count;
    EXPECT_EQ(q.version, kQueueVersion) << round;
    EXPECT_EQ(q.current, g % kQueueSlots) << round;
    for (uint32_t i = 0; i < kQueueSlots; ++i) {
        const QueueEntry& e = q.entries[i];
        EXPECT_EQ(e.status, (g + i) % 2 == 0 ? kSlotReady : kSlotDone) << round;
        EXPECT_EQ(TimeSeconds(e.received), static_cast<int64_t>(g)) << round;
        EXPECT_EQ(e.server_address(), g) << round;
        EXPECT_EQ(e.core_name(), "gen-" + std::to_string(g)) << round;
    }
}

TEST_F(QueueCrashTest, QueueSurvivesKillsAtRandomMomentsOfSaving) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delay_us(0, 20000);
    uint32_t last_generation = 0;
    for (int round = 0; round < 40; ++round) {
        const pid_t pid = StartSaver();
        ASSERT_GT(pid, 0) << "the saver did not start";
        usleep(static_cast<useconds_t>(delay_us(random)));
        ASSERT_EQ(kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saver ended by itself: " << status;

        std::unique_ptr<WorkQueue> q = LoadQueue();
        ASSERT_NE(q, nullptr) << round;
        EXPECT_EQ(FileBytes().size(), kQueueFileSize) << round;
        ExpectWholeRecord(*q, round);
        last_generation = q->performance_count;
        EXPECT_FALSE(qrvtest::FileExists("queue.dat.bad")) << round;
    }
    EXPECT_GT(last_generation, 0u);
}

}  // namespace
