// Child processes as the client starts its cores: the command line split
// into arguments, the program taken from the working directory, and the
// detached, idle, descriptor-free child that results.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <dirent.h>

#include "common/temp_dir.h"
#include "support/child_process.h"

namespace {

using qrvtest::TempDirTest;
using qrvtest::WriteFileText;

TEST(CommandLineWords, SplitAtBlanksAndLineFeeds) {
    const std::vector<std::string> core =
        SplitCommandLine("QrvCore_78.exe -dir work/ -suffix 03 -lifeline 77\n");
    ASSERT_EQ(core.size(), 7u);
    EXPECT_EQ(core[0], "QrvCore_78.exe");
    EXPECT_EQ(core[6], "77");  // the line feed is no part of the number
    EXPECT_EQ(SplitCommandLine("  a  b\n\nc "), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(SplitCommandLine(" \n").empty());
    EXPECT_TRUE(SplitCommandLine(nullptr).empty());
}

TEST(CommandLineWords, BareNamesRunFromTheWorkingDirectory) {
    EXPECT_EQ(ProgramPathOf("QrvCore_78.exe"), "./QrvCore_78.exe");
    EXPECT_EQ(ProgramPathOf("/bin/sleep"), "/bin/sleep");
    EXPECT_EQ(ProgramPathOf("cores/QrvCore_78.exe"), "cores/QrvCore_78.exe");
}

std::string ProcText(pid_t pid, const char* what) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + what, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Waits (bounded) for the child to end; its code, or -1.
int WaitCode(uint64_t pid) {
    for (int i = 0; i < 1000; ++i) {
        uint32_t code = 0;
        if (v3ProcessExitCode(pid, &code) != 0) return -1;
        if (code != kProcessStillActive) return static_cast<int>(code);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

class ChildProcessTest : public TempDirTest {};

TEST_F(ChildProcessTest, ChildIsDetachedIdleAndInheritsNoDescriptor) {
    // A descriptor opened without close-on-exec, and console signals blocked
    // as the client blocks them in every thread.
    const int leaky = open(".", O_RDONLY);
    ASSERT_GE(leaky, 3);
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    setenv("QRV_CHILD_MARK", "present", 1);

    uint64_t id = 0;
    ASSERT_EQ(v3ProcessCreate("/bin/sleep 30\n", &id), 0);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    close(leaky);
    const pid_t pid = static_cast<pid_t>(id);
    // /proc shows the new program once the exec is done; v3ProcessCreate
    // returns only after it.
    EXPECT_NE(ProcText(pid, "cmdline").find("30"), std::string::npos);

    EXPECT_EQ(getsid(pid), pid);
    EXPECT_EQ(sched_getscheduler(pid), SCHED_IDLE);
    // The new program's loader briefly holds its libraries open (as
    // descriptor 3) before sleep settles into its wait ("S" in the stat
    // line); only then does the descriptor table show what was inherited.
    for (int i = 0; i < 500; ++i) {
        const std::string stat = ProcText(pid, "stat");
        const size_t paren = stat.rfind(')');
        if (paren != std::string::npos && stat.compare(paren, 3, ") S") == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::set<std::string> fds;
    if (DIR* d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') fds.insert(e->d_name);
        }
        closedir(d);
    }
    EXPECT_EQ(fds, (std::set<std::string>{"0", "1", "2"}));
    char target[256] = {};
    for (const char* fd : {"0", "1", "2"}) {
        const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + fd;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        ASSERT_GT(n, 0);
        target[n] = '\0';
        EXPECT_STREQ(target, "/dev/null");
    }
    const std::string status = ProcText(pid, "status");
    EXPECT_NE(status.find("SigBlk:\t0000000000000000\n"), std::string::npos) << status;
    EXPECT_NE(ProcText(pid, "environ").find(std::string("QRV_CHILD_MARK=present") + '\0'),
              std::string::npos);
    const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/cwd").c_str(), target,
                               sizeof target - 1);
    ASSERT_GT(n, 0);
    target[n] = '\0';
    EXPECT_EQ(std::string(target), dir());
    unsetenv("QRV_CHILD_MARK");

    uint32_t code = 0;
    EXPECT_EQ(v3ProcessExitCode(id, &code), 0);
    EXPECT_EQ(code, kProcessStillActive);
    kill(pid, SIGKILL);
    EXPECT_EQ(WaitCode(id), 128 + SIGKILL);
    // Collected: there is nothing more to read.
    EXPECT_EQ(v3ProcessExitCode(id, &code), -1);
    EXPECT_EQ(code, 0u);
}

TEST_F(ChildProcessTest, ProgramsComeFromTheWorkingDirectoryOnly) {
    WriteFileText("exit7", "#!/bin/sh\nexit 7\n");
    ASSERT_EQ(chmod("exit7", 0700), 0);
    uint64_t id = 0;
    ASSERT_EQ(v3ProcessCreate("exit7 -dir work/\n", &id), 0);
    EXPECT_EQ(WaitCode(id), 7);

    // "sh" is on every search path, but not in this directory.
    EXPECT_EQ(v3ProcessCreate("sh -c exit\n", &id), -1);
    EXPECT_EQ(id, 0u);
    // A file that is no program fails the creation as well.
    WriteFileText("plain", "text");
    EXPECT_EQ(v3ProcessCreate("plain", &id), -1);
    EXPECT_EQ(v3ProcessCreate("", &id), -1);
}

TEST_F(ChildProcessTest, NoChildNoCode) {
    uint32_t code = 5;
    EXPECT_EQ(v3ProcessExitCode(0, &code), -1);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(v3ProcessExitCode(static_cast<uint64_t>(getppid()), &code), -1);

    // The blocking wait: no child is an answer at once, never a wait.
    code = 5;
    EXPECT_EQ(v3ProcessWaitExit(0, &code), -1);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(v3ProcessWaitExit(static_cast<uint64_t>(getppid()), &code), -1);
    // A child's end is waited for and read once.
    WriteFileText("exit7", "#!/bin/sh\nsleep 0.2\nexit 7\n");
    ASSERT_EQ(chmod("exit7", 0700), 0);
    uint64_t id = 0;
    ASSERT_EQ(v3ProcessCreate("exit7\n", &id), 0);
    EXPECT_EQ(v3ProcessWaitExit(id, &code), 0);
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(v3ProcessWaitExit(id, &code), -1);
    EXPECT_EQ(code, 0u);
}

}  // namespace
