#include "support/signals.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/format.h"
#include "support/platform/semaphore.h"
#include "support/process.h"
#include "support/unprivileged.h"
#include "tests/common/temp_dir.h"

extern char** environ;

namespace {

constexpr int kWaitMs = 10000;

std::string Name(uint64_t pid, const char* fmt) {
    char buf[128];
    v3StringPrint(buf, sizeof buf, fmt, pid);
    return buf;
}

bool NameExists(const std::string& name) {
    v3PlatformNamedSemaphore* s = v3PlatformNamedSemaphoreOpen(name.c_str());
    v3PlatformNamedSemaphoreClose(s);
    return s != nullptr;
}

// signal_child as a real second process, with its standard input and output
// on pipes and a clean signal mask (ours has the dispatcher's signals blocked).
class Child {
public:
    explicit Child(std::initializer_list<const char*> args) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        std::string bin = qrvtest::BinPath("signal_child");
        std::vector<char*> argv{const_cast<char*>(bin.c_str())};
        for (const char* a : args) argv.push_back(const_cast<char*>(a));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
        if (posix_spawn(&pid_, bin.c_str(), &fa, &attr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        posix_spawnattr_destroy(&attr);
        close(in[0]);
        close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~Child() {
        CloseInput();
        if (from_ >= 0) close(from_);
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            // Killed outright, it could not remove its names.
            v3PlatformNamedSemaphoreRemove(Name(pid(), "%016Y-SIGINT").c_str());
            v3PlatformNamedSemaphoreRemove(Name(pid(), "%016Y-SIGTERM").c_str());
        }
    }

    uint64_t pid() const { return static_cast<uint64_t>(pid_); }

    // The next output line without its line feed; "" on end of output or
    // after kWaitMs without one.
    std::string ReadLine() {
        std::string line;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{from_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char c;
            if (read(from_, &c, 1) != 1) return line;
            if (c == '\n') return line;
            line += c;
        }
        return line;
    }
    void Write(const std::string& text) { ASSERT_EQ(write(to_, text.data(), text.size()), static_cast<ssize_t>(text.size())); }
    void CloseInput() {
        if (to_ >= 0) close(to_);
        to_ = -1;
    }
    // The wait status, or -1 when the child has not ended within kWaitMs.
    int Wait() {
        for (int ms = 0; ms < kWaitMs; ++ms) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return -1;
    }
    // Waits for the "ready <pid>" line.
    bool Ready() { return ReadLine() == "ready " + std::to_string(pid_); }

private:
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
    bool reaped_ = false;
};

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

TEST(SignalsBetweenProcesses, InterruptAndTerminateReachThePeersHandlers) {
    Child child({"echo"});
    ASSERT_TRUE(child.Ready());
    EXPECT_TRUE(NameExists(Name(child.pid(), "%016Y-SIGINT")));
    EXPECT_TRUE(NameExists(Name(child.pid(), "%016Y-SIGTERM")));

    EXPECT_EQ(v3SignalSend(child.pid(), 2), 0);
    EXPECT_EQ(child.ReadLine(), "got 2");
    EXPECT_EQ(v3SignalSend(child.pid(), 15), 0);
    EXPECT_EQ(child.ReadLine(), "got 15");
    EXPECT_EQ(v3SignalSend(child.pid(), 3), -1);

    // A normal end removes the names, so later sends find nothing.
    child.CloseInput();
    EXPECT_EQ(ExitCode(child.Wait()), 0);
    EXPECT_FALSE(NameExists(Name(child.pid(), "%016Y-SIGINT")));
    EXPECT_EQ(v3SignalSend(child.pid(), 2), -1);
}

// The cores expect signal 2 on the "-SIGTERM" name and 15 on "-SIGINT".
TEST(SignalsBetweenProcesses, NamesAreCrossedAndHoldOneRelease) {
    Child child({"idle"});
    ASSERT_TRUE(child.Ready());
    EXPECT_EQ(v3SignalSend(child.pid(), 2), -1);  // no semaphores there yet

    std::string term = Name(child.pid(), "%016Y-SIGTERM");
    std::string intr = Name(child.pid(), "%016Y-SIGINT");
    v3PlatformNamedSemaphore* on_term = v3PlatformNamedSemaphoreCreate(term.c_str());
    v3PlatformNamedSemaphore* on_intr = v3PlatformNamedSemaphoreCreate(intr.c_str());
    ASSERT_NE(on_term, nullptr);
    ASSERT_NE(on_intr, nullptr);

    EXPECT_EQ(v3SignalSend(child.pid(), 2), 0);
    EXPECT_EQ(v3SignalSend(child.pid(), 2), -1);  // one already pending
    EXPECT_EQ(v3PlatformNamedSemaphoreTryWait(on_intr), -1);
    EXPECT_EQ(v3PlatformNamedSemaphoreTryWait(on_term), 0);
    EXPECT_EQ(v3PlatformNamedSemaphoreTryWait(on_term), -1);

    EXPECT_EQ(v3SignalSend(child.pid(), 15), 0);
    EXPECT_EQ(v3PlatformNamedSemaphoreTryWait(on_term), -1);
    EXPECT_EQ(v3PlatformNamedSemaphoreTryWait(on_intr), 0);

    v3PlatformNamedSemaphoreClose(on_term);
    v3PlatformNamedSemaphoreClose(on_intr);
    v3PlatformNamedSemaphoreRemove(term.c_str());
    v3PlatformNamedSemaphoreRemove(intr.c_str());
}

TEST(SignalsBetweenProcesses, ReleasesWhileTheHandlerRunsFoldIntoOne) {
    Child child({"echo", "hold"});
    ASSERT_TRUE(child.Ready());
    EXPECT_EQ(v3SignalSend(child.pid(), 2), 0);
    ASSERT_EQ(child.ReadLine(), "got 2");  // the watcher is now busy in the handler
    EXPECT_EQ(v3SignalSend(child.pid(), 2), 0);
    EXPECT_EQ(v3SignalSend(child.pid(), 2), -1);
    child.Write("go\n");
    EXPECT_EQ(child.ReadLine(), "got 2");
    child.CloseInput();
    EXPECT_EQ(child.ReadLine(), "");  // nothing more before the end
    EXPECT_EQ(ExitCode(child.Wait()), 0);
}

TEST(SignalsBetweenProcesses, SystemSignalsBecomeEventsAndSignal15) {
    Child child({"echo"});
    ASSERT_TRUE(child.Ready());
    pid_t pid = static_cast<pid_t>(child.pid());
    kill(pid, SIGINT);
    EXPECT_EQ(child.ReadLine(), "event 0");
    kill(pid, SIGQUIT);
    EXPECT_EQ(child.ReadLine(), "event 1");
    kill(pid, SIGHUP);
    EXPECT_EQ(child.ReadLine(), "event 5");
    kill(pid, SIGTERM);
    EXPECT_EQ(child.ReadLine(), "got 15");
    child.CloseInput();
    EXPECT_EQ(ExitCode(child.Wait()), 0);
}

TEST(SignalsBetweenProcesses, ExitRunsCleanupAndRemovesTheNames) {
    Child child({"echo"});
    ASSERT_TRUE(child.Ready());
    child.Write("exit 7\n");
    EXPECT_EQ(child.ReadLine(), "cleanup 0");
    EXPECT_EQ(ExitCode(child.Wait()), 7);
    EXPECT_FALSE(NameExists(Name(child.pid(), "%016Y-SIGINT")));
    EXPECT_FALSE(NameExists(Name(child.pid(), "%016Y-SIGTERM")));
}

TEST(SignalsBetweenProcesses, ProbeAndKill) {
    Child idle({"idle"});
    ASSERT_TRUE(idle.Ready());
    EXPECT_EQ(v3SignalSend(idle.pid(), 0), 0);
    EXPECT_EQ(v3SignalSend(idle.pid(), 16962), 0);
    EXPECT_TRUE(WIFSIGNALED(idle.Wait()));
    EXPECT_EQ(v3SignalSend(idle.pid(), 0), -1);

    // An ended child that nobody has collected yet reads as ended, and the
    // probe leaves its exit status for the supervisor.
    Child quit({"quit", "5"});
    int probe = 0;
    for (int ms = 0; ms < kWaitMs && (probe = v3SignalSend(quit.pid(), 0)) == 0; ++ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(probe, -1);
    EXPECT_EQ(ExitCode(quit.Wait()), 5);

    // IDs that do not name one process: 0 and -1 mean groups to kill().
    EXPECT_EQ(v3SignalSend(0, 0), -1);
    EXPECT_EQ(v3SignalSend(0xFFFFFFFFull, 0), -1);
    EXPECT_EQ(v3SignalSend(v3ProcessID(), 0), 0);
}

// ---- the receiving side inside this process ----

std::atomic<int> g_last_signal{0};
std::atomic<int> g_signal_calls{0};
std::atomic<bool> g_gate{true};
std::atomic<int> g_inside{0};
std::atomic<int> g_most_inside{0};

void CountingHandler(int sig) {
    int now = ++g_inside;
    int most = g_most_inside.load();
    while (now > most && !g_most_inside.compare_exchange_weak(most, now)) {
    }
    for (int ms = 0; !g_gate.load() && ms < kWaitMs; ++ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    g_last_signal.store(sig);
    ++g_signal_calls;
    --g_inside;
}

template <typename Pred>
bool WaitFor(Pred pred) {
    for (int ms = 0; ms < kWaitMs; ++ms) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

TEST(SignalsInProcess, RegisterAndSendToSelf) {
    EXPECT_EQ(v3SignalRegister(3, CountingHandler), -1);
    ASSERT_EQ(v3SignalRegister(2, CountingHandler), 0);
    ASSERT_EQ(v3SignalRegister(15, CountingHandler), 0);
    EXPECT_TRUE(NameExists(Name(v3ProcessID(), "%016Y-SIGINT")));

    int before = g_signal_calls.load();
    EXPECT_EQ(v3SignalSend(v3ProcessID(), 2), 0);  // runs before the send returns
    EXPECT_EQ(g_signal_calls.load(), before + 1);
    EXPECT_EQ(g_last_signal.load(), 2);
    EXPECT_EQ(v3SignalSend(v3ProcessID(), 15), 0);
    EXPECT_EQ(g_last_signal.load(), 15);
    EXPECT_EQ(v3SignalSend(v3ProcessID(), 9), -1);
}

TEST(SignalsInProcess, HandlersRunOneAtATime) {
    ASSERT_EQ(v3SignalRegister(2, CountingHandler), 0);
    g_most_inside.store(0);
    g_gate.store(false);
    int before = g_signal_calls.load();
    std::thread first([] { v3SignalSend(v3ProcessID(), 2); });
    ASSERT_TRUE(WaitFor([] { return g_inside.load() == 1; }));
    std::thread second([] { v3SignalSend(v3ProcessID(), 2); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(g_inside.load(), 1);
    g_gate.store(true);
    first.join();
    second.join();
    EXPECT_EQ(g_signal_calls.load(), before + 2);
    EXPECT_EQ(g_most_inside.load(), 1);
}

TEST(NamedSemaphore, CreationReplacesAStaleOne) {
    std::string name = Name(0xFFFFFFFF00000000ull | v3ProcessID(), "%016Y-stale-test");
    v3PlatformNamedSemaphore* stale = v3PlatformNamedSemaphoreCreate(name.c_str());
    ASSERT_NE(stale, nullptr);
    EXPECT_EQ(v3PlatformNamedSemaphoreRelease(stale), 0);
    v3PlatformNamedSemaphoreClose(stale);  // its owner ended without removing it

    v3PlatformNamedSemaphore* fresh = v3PlatformNamedSemaphoreCreate(name.c_str());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(v3PlatformNamedSemaphoreTryWait(fresh), -1);
    v3PlatformNamedSemaphoreClose(fresh);
    v3PlatformSemaphoreOwner owner{};
    EXPECT_EQ(v3PlatformNamedSemaphoreForeignOwner(name.c_str(), &owner), 0);
    EXPECT_EQ(v3PlatformNamedSemaphoreRemove(name.c_str()), 0);
    EXPECT_EQ(v3PlatformNamedSemaphoreOpen(name.c_str()), nullptr);
    EXPECT_EQ(v3PlatformNamedSemaphoreForeignOwner(name.c_str(), &owner), 0);
}

// Another local user can make one of our names first. Removing it would take
// away what may be that user's live semaphore; it is refused, and its owner
// can be named.
TEST(NamedSemaphore, OneOfAnotherUserIsNeitherReplacedNorUsed) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give a semaphore to another user";
    std::string name = Name(0xFFFFFFFE00000000ull | v3ProcessID(), "%016Y-foreign-test");
    // Removed however the test ends, so that a failure leaves nothing behind.
    struct RemoveAtEnd {
        const std::string& name;
        ~RemoveAtEnd() { v3PlatformNamedSemaphoreRemove(name.c_str()); }
    } remove_at_end{name};
    v3PlatformNamedSemaphore* theirs = v3PlatformNamedSemaphoreCreate(name.c_str());
    ASSERT_NE(theirs, nullptr);
    const std::string path = "/dev/shm/sem." + name;
    ASSERT_EQ(chown(path.c_str(), qrvtest::kNobody, qrvtest::kNobody), 0);

    EXPECT_EQ(v3PlatformNamedSemaphoreCreate(name.c_str()), nullptr);
    v3PlatformSemaphoreOwner owner{};
    ASSERT_EQ(v3PlatformNamedSemaphoreForeignOwner(name.c_str(), &owner), 1);
    EXPECT_EQ(owner.uid, qrvtest::kNobody);
    EXPECT_STREQ(owner.path, path.c_str());
    const passwd* nobody = getpwuid(qrvtest::kNobody);
    EXPECT_STREQ(owner.user, nobody != nullptr ? nobody->pw_name : "");
    // Still the one its owner made: a release there reaches its handle.
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, qrvtest::kNobody);
    v3PlatformNamedSemaphore* opened = v3PlatformNamedSemaphoreOpen(name.c_str());
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(v3PlatformNamedSemaphoreRelease(opened), 0);
    EXPECT_EQ(v3PlatformNamedSemaphoreTryWait(theirs), 0);

    v3PlatformNamedSemaphoreClose(opened);
    v3PlatformNamedSemaphoreClose(theirs);
}

}  // namespace
