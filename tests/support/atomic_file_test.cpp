#include "support/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>

#include "common/temp_dir.h"
#include "support/file.h"
#include "support/unprivileged.h"

namespace {

using qrvtest::ReadFileText;
using qrvtest::WriteFileText;

class AtomicFileTest : public qrvtest::TempDirTest {
protected:
    void TearDown() override {
        v3FileSetReplaceFaultHook(nullptr);
        qrvtest::TempDirTest::TearDown();
    }
};

std::set<std::string> Entries(const char* folder) {
    std::set<std::string> names;
    DIR* d = opendir(folder);
    if (d == nullptr) return names;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.insert(name);
    }
    closedir(d);
    return names;
}

int Replace(const char* path, const std::string& data) {
    return v3FileReplaceAtomically(path, data.data(), data.size());
}

uint32_t Mode(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? (st.st_mode & 07777) : 0xffffffffu;
}

TEST_F(AtomicFileTest, ReplacesWholeAndKeepsPermissions) {
    ASSERT_EQ(Replace("queue.dat", "first"), kFileOk);
    EXPECT_EQ(ReadFileText("queue.dat"), "first");
    EXPECT_EQ(Mode("queue.dat"), 0700u);
    ASSERT_EQ(chmod("queue.dat", 0640), 0);
    ASSERT_EQ(Replace("queue.dat", std::string(70000, 'q')), kFileOk);
    EXPECT_EQ(ReadFileText("queue.dat"), std::string(70000, 'q'));
    EXPECT_EQ(Mode("queue.dat"), 0640u);
    ASSERT_EQ(Replace("queue.dat", ""), kFileOk);
    EXPECT_EQ(ReadFileText("queue.dat"), "");
    ASSERT_EQ(mkdir("work", 0700), 0);
    ASSERT_EQ(Replace("work/wudata_01.dat", "unit"), kFileOk);
    EXPECT_EQ(ReadFileText("work/wudata_01.dat"), "unit");
    EXPECT_EQ(Entries("."), (std::set<std::string>{"queue.dat", "work"}));
    EXPECT_EQ(Entries("work"), (std::set<std::string>{"wudata_01.dat"}));

    // Permissions given are taken whatever the old file had, and by a new one.
    ASSERT_EQ(v3FileReplaceAtomically("queue.dat", "s", 1, kSecretFilePermissions), kFileOk);
    EXPECT_EQ(Mode("queue.dat"), 0600u);
    ASSERT_EQ(v3FileReplaceAtomically("new.cfg", "s", 1, kSecretFilePermissions), kFileOk);
    EXPECT_EQ(Mode("new.cfg"), 0600u);
    EXPECT_EQ(ReadFileText("new.cfg"), "s");
}

TEST_F(AtomicFileTest, ArgumentChecks) {
    EXPECT_EQ(v3FileReplaceAtomically(nullptr, "x", 1), kFileErrMissingArgument);
    EXPECT_EQ(v3FileReplaceAtomically("a", nullptr, 1), kFileErrMissingArgument);
    EXPECT_EQ(v3FileReplaceAtomically("a", "x", 0x80000000u), kFileErrTooLarge);
    std::string too_long(256, 'n');
    EXPECT_EQ(Replace(too_long.c_str(), "x"), kFileErrPathTooLong);
    EXPECT_EQ(Replace("nodir/client.cfg", "x"), kFileErrNotFound);
    ASSERT_EQ(mkdir("adir", 0700), 0);
    EXPECT_EQ(Replace("adir", "x"), kFileErrFailed);
    EXPECT_EQ(Entries("."), (std::set<std::string>{"adir"}));
}

ReplaceStep g_failing_step;
bool FailAt(ReplaceStep step) { return step == g_failing_step; }

TEST_F(AtomicFileTest, FailedStepLeavesOldContentAndNoTemporary) {
    WriteFileText("client.cfg", "[settings]\nusername=old\n");
    for (ReplaceStep step : {ReplaceStep::kCreateTemp, ReplaceStep::kWrite, ReplaceStep::kSync,
                             ReplaceStep::kRename}) {
        g_failing_step = step;
        v3FileSetReplaceFaultHook(FailAt);
        EXPECT_EQ(Replace("client.cfg", "[settings]\nusername=new\n"), kFileErrFailed)
            << static_cast<int>(step);
        EXPECT_EQ(ReadFileText("client.cfg"), "[settings]\nusername=old\n");
        EXPECT_EQ(Entries("."), std::set<std::string>{"client.cfg"}) << static_cast<int>(step);
    }
    // Only the directory push failed: the new content is already in place.
    g_failing_step = ReplaceStep::kSyncDirectory;
    EXPECT_EQ(Replace("client.cfg", "[settings]\nusername=new\n"), kFileErrFailed);
    EXPECT_EQ(ReadFileText("client.cfg"), "[settings]\nusername=new\n");
    EXPECT_EQ(Entries("."), std::set<std::string>{"client.cfg"});
}

TEST_F(AtomicFileTest, RealWriteFailureLeavesOldContent) {
    WriteFileText("queue.dat", "old");
    // The child may not run as the folder's owner; let it make files here.
    ASSERT_EQ(chmod(dir().c_str(), 0777), 0);
    // A file size limit makes the system refuse the write part way, as a
    // full disk would.
    int rc = qrvtest::RunUnprivileged([]() -> int {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1000, 1000};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return -50;
        std::string big(5000, 'n');
        return v3FileReplaceAtomically("queue.dat", big.data(), big.size());
    });
    EXPECT_EQ(rc, kFileErrFailed);
    EXPECT_EQ(ReadFileText("queue.dat"), "old");
    EXPECT_EQ(Entries("."), std::set<std::string>{"queue.dat"});
}

TEST_F(AtomicFileTest, ReadOnlyFolderLeavesOldContent) {
    ASSERT_EQ(chmod(dir().c_str(), 0711), 0);
    ASSERT_EQ(mkdir("store", 0700), 0);
    WriteFileText("store/registry.txt", "kept");
    ASSERT_EQ(chmod("store/registry.txt", 0666), 0);
    ASSERT_TRUE(qrvtest::GiveToChecker("store"));
    ASSERT_EQ(chmod("store", 0500), 0);
    // The file itself is writable, but the folder is not: no temporary can be
    // made, and nothing may be written in place as a fallback.
    int rc = qrvtest::RunUnprivileged([] { return Replace("store/registry.txt", "new"); });
    EXPECT_EQ(rc, kFileErrFailed);
    EXPECT_EQ(ReadFileText("store/registry.txt"), "kept");
    EXPECT_EQ(Entries("store"), std::set<std::string>{"registry.txt"});
}

TEST_F(AtomicFileTest, LockedTargetIsNotReplaced) {
    WriteFileText("QRVlog.txt", "in use");
    int fd = open("QRVlog.txt", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Replace("QRVlog.txt", "other"), kFileErrFailed);
    close(fd);
    EXPECT_EQ(ReadFileText("QRVlog.txt"), "in use");
    EXPECT_EQ(Replace("QRVlog.txt", "other"), kFileOk);
}

// The in-place overwrite is for a record that keeps its size; anything else
// (another size, no file, a link, a locked file) is refused untouched.
TEST_F(AtomicFileTest, OverwriteInPlaceTakesOnlyTheSameSizedFileItself) {
    const std::string next = "new record";
    const auto overwrite = [&](const char* path) {
        return v3FileOverwriteInPlace(path, next.data(), next.size());
    };
    WriteFileText("queue.dat", "old record");
    const ino_t inode = [] {
        struct stat st;
        return stat("queue.dat", &st) == 0 ? st.st_ino : 0;
    }();
    ASSERT_EQ(overwrite("queue.dat"), kFileOk);
    EXPECT_EQ(ReadFileText("queue.dat"), next);
    struct stat st;
    ASSERT_EQ(stat("queue.dat", &st), 0);
    EXPECT_EQ(st.st_ino, inode) << "the record went into a new file, which needs new blocks";

    WriteFileText("short.dat", "old");
    EXPECT_EQ(overwrite("short.dat"), kFileErrSize);
    EXPECT_EQ(ReadFileText("short.dat"), "old");
    EXPECT_EQ(overwrite("missing.dat"), kFileErrNotFound);
    EXPECT_EQ(Entries(".").count("missing.dat"), 0u);
    WriteFileText("elsewhere.dat", "old record");
    ASSERT_EQ(symlink("elsewhere.dat", "link.dat"), 0);
    EXPECT_NE(overwrite("link.dat"), kFileOk);
    EXPECT_EQ(ReadFileText("elsewhere.dat"), "old record");
    WriteFileText("held.dat", "old record");
    int fd = open("held.dat", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_NE(overwrite("held.dat"), kFileOk);
    close(fd);
    EXPECT_EQ(ReadFileText("held.dat"), "old record");
}

TEST_F(AtomicFileTest, ConcurrentReplacementsNeverMix) {
    const std::string a(100000, 'a');
    const std::string b(50000, 'b');
    ASSERT_EQ(Replace("queue.dat", a), kFileOk);
    auto writer = [](const std::string* data, int* failures) {
        for (int i = 0; i < 40; ++i) {
            if (Replace("queue.dat", *data) != kFileOk) ++*failures;
        }
    };
    int fa = 0, fb = 0;
    std::thread ta(writer, &a, &fa);
    std::thread tb(writer, &b, &fb);
    int mixed = 0;
    for (int i = 0; i < 200; ++i) {
        std::string seen = ReadFileText("queue.dat");
        if (seen != a && seen != b) ++mixed;
    }
    ta.join();
    tb.join();
    EXPECT_EQ(fa + fb, 0);
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(Entries("."), std::set<std::string>{"queue.dat"});
}

TEST_F(AtomicFileTest, MoveAsideReplacesOlderBadFile) {
    WriteFileText("queue.dat", "damaged-2");
    WriteFileText("queue.dat.bad", "damaged-1");
    ASSERT_EQ(v3FileMoveAside("queue.dat", ".bad"), kFileOk);
    EXPECT_FALSE(qrvtest::FileExists("queue.dat"));
    EXPECT_EQ(ReadFileText("queue.dat.bad"), "damaged-2");
    EXPECT_EQ(v3FileMoveAside("queue.dat", ".bad"), kFileErrNotFound);
    EXPECT_EQ(ReadFileText("queue.dat.bad"), "damaged-2");
    EXPECT_EQ(v3FileMoveAside(nullptr, ".bad"), kFileErrMissingArgument);
    EXPECT_EQ(v3FileMoveAside("queue.dat.bad", ""), kFileErrMissingArgument);
    std::string name(252, 'q');
    WriteFileText(name, "x");
    EXPECT_EQ(v3FileMoveAside(name.c_str(), ".bad"), kFileErrPathTooLong);
    EXPECT_TRUE(qrvtest::FileExists(name));
}

}  // namespace
