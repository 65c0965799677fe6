#include "support/file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <string>

#include "common/temp_dir.h"
#include "support/platform/folder_lock.h"
#include "support/unprivileged.h"

namespace {

using qrvtest::FileExists;
using qrvtest::ReadFileText;
using qrvtest::WriteFileText;

class FileTest : public qrvtest::TempDirTest {};

std::string Zeros(size_t n) { return std::string(n, '\0'); }

// Another open of the file holding its exclusive lock, as a second client's
// log would: a separate open file description counts as another holder.
class ForeignLock {
public:
    explicit ForeignLock(const char* path) : fd_(open(path, O_RDONLY | O_CLOEXEC)) {
        locked_ = fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0;
    }
    ~ForeignLock() {
        if (fd_ >= 0) close(fd_);
    }
    bool locked() const { return locked_; }

private:
    int fd_;
    bool locked_ = false;
};

TEST_F(FileTest, OpenMissingAndCreate) {
    v3File f{};
    EXPECT_EQ(v3FileOpen(&f, "missing.dat", kFileModeRead), kFileErrNotFound);
    EXPECT_EQ(v3FileOpen(&f, "nodir/x.dat", 52), kFileErrNotFound);
    EXPECT_EQ(f.open, 0u);

    ASSERT_EQ(v3FileOpen(&f, "new.dat", 52), kFileOk);
    EXPECT_EQ(f.size, 0u);
    EXPECT_EQ(f.position, 0u);
    EXPECT_STREQ(f.path, "new.dat");
    EXPECT_EQ(v3FileClose(&f), kFileOk);
    struct stat st;
    ASSERT_EQ(stat("new.dat", &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Existence test only: never creates, never opens.
    EXPECT_EQ(v3FileOpen(&f, "new.dat", kFileModeTest), kFileOk);
    EXPECT_EQ(v3FileOpen(&f, "other.dat", kFileModeTest | kFileModeCreate), kFileErrNotFound);
    EXPECT_FALSE(FileExists("other.dat"));
    EXPECT_EQ(f.open, 0u);
}

TEST_F(FileTest, InvalidModesAndRecords) {
    WriteFileText("a.dat", "abc");
    v3File f{};
    for (uint32_t mode : {0u, 32u, 32u | 2u, 1u | 4u, 16u, 64u, 128u, 2u | 256u}) {
        EXPECT_EQ(v3FileOpen(&f, "a.dat", mode), kFileErrBadMode) << mode;
    }
    EXPECT_EQ(v3FileOpen(nullptr, "a.dat", 2), kFileErrNotFound);
    EXPECT_EQ(v3FileOpen(&f, nullptr, 2), kFileErrMissingArgument);
    // Append alone is a write-only open.
    ASSERT_EQ(v3FileOpen(&f, "a.dat", kFileModeAppend), kFileOk);
    EXPECT_EQ(v3FileOpen(&f, "a.dat", 2), kFileErrNotOpen);
    EXPECT_EQ(v3FileClose(&f), kFileOk);
    EXPECT_EQ(v3FileClose(&f), kFileErrNotOpen);
    char c;
    EXPECT_EQ(v3FileRead(&c, nullptr, &f, 1), kFileErrNotOpen);
    EXPECT_EQ(v3FileWrite(&f, nullptr, "x", 1), kFileErrNotOpen);
    EXPECT_EQ(v3FileSeek(&f, 0), kFileErrNotOpen);
    EXPECT_EQ(v3FileClose(nullptr), kFileErrNotFound);
    // The record can be opened again after a close.
    ASSERT_EQ(v3FileOpen(&f, "a.dat", 2), kFileOk);
    EXPECT_EQ(f.size, 3u);
    v3FileClose(&f);
    // A directory is not a file to read or write.
    ASSERT_EQ(mkdir("sub", 0700), 0);
    EXPECT_EQ(v3FileOpen(&f, "sub", 2), kFileErrFailed);
    EXPECT_EQ(v3FileOpen(&f, "sub", 4), kFileErrFailed);
}

TEST_F(FileTest, PathLengthAndBars) {
    v3File f{};
    std::string longest = "d/" + std::string(253, 'n');  // 255 characters
    ASSERT_EQ(mkdir("d", 0700), 0);
    ASSERT_EQ(v3FileOpen(&f, longest.c_str(), 52), kFileOk);
    v3FileClose(&f);
    std::string too_long = longest + "x";
    EXPECT_EQ(v3FileOpen(&f, too_long.c_str(), 52), kFileErrPathTooLong);
    EXPECT_EQ(v3FileOpen(&f, too_long.c_str(), kFileModeTest), kFileErrPathTooLong);
    // The limit holds before "|" is removed: such a path is refused, not cut.
    std::string barred = "|" + longest;
    EXPECT_EQ(v3FileOpen(&f, barred.c_str(), 2), kFileErrPathTooLong);
    EXPECT_EQ(v3FileDelete(too_long.c_str()), kFileErrPathTooLong);

    ASSERT_EQ(v3FileOpen(&f, "w|x|.dat", 52), kFileOk);
    EXPECT_STREQ(f.path, "wx.dat");
    v3FileClose(&f);
    EXPECT_TRUE(FileExists("wx.dat"));
    // Slashes stay slashes: they are the separator here.
    ASSERT_EQ(mkdir("work", 0700), 0);
    ASSERT_EQ(v3FileOpen(&f, "work/wudata_01.dat", 52), kFileOk);
    v3FileClose(&f);
    EXPECT_TRUE(FileExists("work/wudata_01.dat"));
}

TEST_F(FileTest, ReadWritePositionsAndSize) {
    v3File f{};
    ASSERT_EQ(v3FileOpen(&f, "rw.dat", 2 | 4 | 16), kFileOk);
    uint64_t n = 99;
    ASSERT_EQ(v3FileWrite(&f, &n, "hello", 5), kFileOk);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(f.position, 5u);
    EXPECT_EQ(f.size, 5u);
    ASSERT_EQ(v3FileSeek(&f, 2), kFileOk);
    ASSERT_EQ(v3FileWrite(&f, &n, "XY", 2), kFileOk);
    EXPECT_EQ(f.size, 5u);  // overwriting inside does not grow it
    ASSERT_EQ(v3FileSeek(&f, 8), kFileOk);
    ASSERT_EQ(v3FileWrite(&f, &n, "!", 1), kFileOk);
    EXPECT_EQ(f.size, 9u);

    char buf[16] = {};
    ASSERT_EQ(v3FileSeek(&f, 1), kFileOk);
    ASSERT_EQ(v3FileRead(buf, &n, &f, 4), kFileOk);
    EXPECT_EQ(std::string(buf, n), "eXYo");
    EXPECT_EQ(f.position, 5u);
    // A read past the end is short, not an error.
    ASSERT_EQ(v3FileRead(buf, &n, &f, sizeof buf), kFileOk);
    EXPECT_EQ(std::string(buf, n), std::string("\0\0\0!", 4));
    ASSERT_EQ(v3FileRead(buf, &n, &f, sizeof buf), kFileOk);
    EXPECT_EQ(n, 0u);

    EXPECT_EQ(v3FileSeek(&f, 0x80000000u), kFileErrTooLarge);
    EXPECT_EQ(v3FileRead(buf, &n, &f, 0x80000000u), kFileErrTooLarge);
    EXPECT_EQ(v3FileWrite(&f, &n, buf, 0x80000000u), kFileErrTooLarge);
    EXPECT_EQ(v3FileRead(nullptr, &n, &f, 4), kFileErrMissingArgument);
    v3FileClose(&f);
    EXPECT_EQ(ReadFileText("rw.dat"), std::string("heXYo\0\0\0!", 9));
}

TEST_F(FileTest, AppendGoesToTheEndAndRefusesSeek) {
    WriteFileText("log.txt", "one\n");
    v3File f{};
    ASSERT_EQ(v3FileOpen(&f, "log.txt", kFileModeWrite | kFileModeAppend), kFileOk);
    EXPECT_EQ(v3FileSeek(&f, 0), kFileErrFailed);
    // Another writer extends the file meanwhile; appends still land after it.
    {
        FILE* out = fopen("log.txt", "ab");
        ASSERT_NE(out, nullptr);
        fputs("two\n", out);
        fclose(out);
    }
    uint64_t n = 0;
    ASSERT_EQ(v3FileWrite(&f, &n, "three\n", 6), kFileOk);
    EXPECT_EQ(f.position, 14u);
    EXPECT_EQ(f.size, 14u);
    // Zero-filling an append-mode file works in place, not at the end.
    ASSERT_EQ(v3FileSetSize(&f, 4), kFileOk);
    ASSERT_EQ(v3FileWrite(&f, &n, "four\n", 5), kFileOk);
    v3FileClose(&f);
    EXPECT_EQ(ReadFileText("log.txt"), "one\nfour\n");
}

TEST_F(FileTest, SetSizeAndWipe) {
    std::string big(10000, 'q');
    WriteFileText("big.dat", big);
    v3File f{};
    ASSERT_EQ(v3FileOpen(&f, "big.dat", 2 | 4), kFileOk);
    ASSERT_EQ(v3FileSeek(&f, 7), kFileOk);
    // The wipe crosses several 4096-byte pieces and keeps the size and position.
    ASSERT_EQ(v3FileWipe(&f, 100), kFileOk);
    EXPECT_EQ(f.position, 7u);
    EXPECT_EQ(ReadFileText("big.dat"), std::string(100, 'q') + Zeros(9900));
    ASSERT_EQ(v3FileWipe(&f, 20000), kFileOk);  // past the end: nothing to do
    EXPECT_EQ(v3FileWipe(&f, 0x80000000u), kFileErrTooLarge);

    ASSERT_EQ(v3FileSetSize(&f, 3), kFileOk);
    EXPECT_EQ(f.size, 3u);
    EXPECT_EQ(f.position, 3u);
    EXPECT_EQ(ReadFileText("big.dat"), "qqq");
    ASSERT_EQ(v3FileSetSize(&f, 6), kFileOk);  // growing fills with zeros
    EXPECT_EQ(ReadFileText("big.dat"), "qqq" + Zeros(3));
    EXPECT_EQ(v3FileSetSize(&f, 0x80000000u), kFileErrTooLarge);
    v3FileClose(&f);

    // Truncation at open empties an existing file.
    WriteFileText("t.dat", "old content");
    ASSERT_EQ(v3FileOpen(&f, "t.dat", 52), kFileOk);
    EXPECT_EQ(f.size, 0u);
    EXPECT_EQ(f.position, 0u);
    v3FileClose(&f);
    EXPECT_EQ(ReadFileText("t.dat"), "");

    // A read-only record cannot be cut.
    WriteFileText("ro.dat", "keep");
    ASSERT_EQ(v3FileOpen(&f, "ro.dat", 2), kFileOk);
    EXPECT_EQ(v3FileSetSize(&f, 0), kFileErrFailed);
    v3FileClose(&f);
    EXPECT_EQ(ReadFileText("ro.dat"), "keep");
}

TEST_F(FileTest, DeleteZerosTheContentBeforeRemoving) {
    EXPECT_EQ(v3FileDelete("missing.dat"), kFileOk);
    EXPECT_EQ(v3FileDelete("nodir/missing.dat"), kFileOk);
    EXPECT_EQ(v3FileDelete(nullptr), kFileErrMissingArgument);

    std::string secret(5000, 's');
    WriteFileText("wuresults_03.dat", secret);
    // A second name for the same data shows what the removed name held last.
    ASSERT_EQ(link("wuresults_03.dat", "witness"), 0);
    ASSERT_EQ(v3FileDelete("wuresults_03.dat"), kFileOk);
    EXPECT_FALSE(FileExists("wuresults_03.dat"));
    EXPECT_EQ(ReadFileText("witness"), Zeros(5000));

    // A symbolic link goes away without its target being zeroed.
    WriteFileText("target.dat", "precious");
    ASSERT_EQ(symlink("target.dat", "alias"), 0);
    ASSERT_EQ(v3FileDelete("alias"), kFileOk);
    struct stat st;
    EXPECT_NE(lstat("alias", &st), 0);
    EXPECT_EQ(ReadFileText("target.dat"), "precious");
    ASSERT_EQ(symlink("nowhere", "dangling"), 0);
    EXPECT_EQ(v3FileDelete("dangling"), kFileOk);
    EXPECT_NE(lstat("dangling", &st), 0);

    ASSERT_EQ(mkdir("dir", 0700), 0);
    EXPECT_EQ(v3FileDelete("dir"), kFileErrFailed);
}

TEST_F(FileTest, LockedFileRefusesWritersAndDeletion) {
    WriteFileText("QRVlog.txt", "first client's log\n");
    {
        ForeignLock holder("QRVlog.txt");
        ASSERT_TRUE(holder.locked());
        EXPECT_EQ(v3FileIsLocked("QRVlog.txt"), 1);
        v3File f{};
        EXPECT_EQ(v3FileOpen(&f, "QRVlog.txt", 52), kFileErrFailed);
        EXPECT_EQ(v3FileOpen(&f, "QRVlog.txt", 4 | 8), kFileErrFailed);
        EXPECT_EQ(v3FileOpenLocked(&f, "QRVlog.txt", 4 | 16 | 32), kFileErrFailed);
        EXPECT_EQ(v3FileDelete("QRVlog.txt"), kFileErrFailed);
        EXPECT_EQ(f.open, 0u);
        // Nothing was cut or zeroed by the refused opens and the deletion.
        EXPECT_EQ(ReadFileText("QRVlog.txt"), "first client's log\n");
        // Readers are welcome.
        ASSERT_EQ(v3FileOpen(&f, "QRVlog.txt", 2), kFileOk);
        v3FileClose(&f);
    }
    EXPECT_EQ(v3FileIsLocked("QRVlog.txt"), 0);
    EXPECT_EQ(v3FileIsLocked("missing.txt"), 0);
    EXPECT_EQ(v3FileDelete("QRVlog.txt"), kFileOk);
}

TEST_F(FileTest, OpenLockedHoldsTheLockUntilClose) {
    v3File first{};
    v3File second{};
    EXPECT_EQ(v3FileOpenLocked(&first, "QRVlog.txt", 2), kFileErrBadMode);
    ASSERT_EQ(v3FileOpenLocked(&first, "QRVlog.txt", 4 | 8 | 16), kFileOk);
    uint64_t n = 0;
    ASSERT_EQ(v3FileWrite(&first, &n, "line\n", 5), kFileOk);
    EXPECT_EQ(v3FileIsLocked("QRVlog.txt"), 1);
    EXPECT_EQ(v3FileOpenLocked(&second, "QRVlog.txt", 4 | 8 | 16), kFileErrFailed);
    EXPECT_EQ(v3FileOpen(&second, "QRVlog.txt", 4), kFileErrFailed);
    EXPECT_EQ(v3FileDelete("QRVlog.txt"), kFileErrFailed);
    ASSERT_EQ(v3FileClose(&first), kFileOk);
    EXPECT_EQ(v3FileIsLocked("QRVlog.txt"), 0);
    ASSERT_EQ(v3FileOpenLocked(&second, "QRVlog.txt", 4 | 16 | 32), kFileOk);
    EXPECT_EQ(second.size, 0u);
    v3FileClose(&second);
}

TEST_F(FileTest, LockOfAnotherProcessEndsWithIt) {
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        v3File f{};
        char ok = v3FileOpenLocked(&f, "shared.txt", 4 | 16) == kFileOk ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        char c;
        (void)!read(release[0], &c, 1);
        _exit(0);  // the lock goes with the process, closed or not
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    v3File f{};
    EXPECT_EQ(v3FileOpen(&f, "shared.txt", 4), kFileErrFailed);
    EXPECT_EQ(v3FileIsLocked("shared.txt"), 1);
    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(v3FileOpen(&f, "shared.txt", 4), kFileOk);
    v3FileClose(&f);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

// The working folder's lock is its process's for as long as that lives, and
// no program it runs (a core) keeps it: a core still running after its
// client was killed must not lock the next client out of the folder.
TEST_F(FileTest, FolderLockLastsWithItsProcessButNotIntoAProgramItRuns) {
    int ready[2];
    int go[2];
    ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
    ASSERT_EQ(pipe(go), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const bool held = PlatformFolderLockTake("queue.lock") == FolderLockResult::kHeld &&
                          PlatformFolderLockTake("queue.lock") == FolderLockResult::kHeld;
        char ok = held ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        char c;
        (void)!read(go[0], &c, 1);
        // The write end of ready closes here, which tells that the exec
        // happened; the process lives on as the program.
        execl("/bin/sleep", "sleep", "10", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    EXPECT_FALSE(ForeignLock("queue.lock").locked());
    EXPECT_EQ(PlatformFolderLockTake("queue.lock"), FolderLockResult::kTaken);
    ASSERT_EQ(write(go[1], "x", 1), 1);
    EXPECT_EQ(read(ready[0], &ok, 1), 0);
    // The exec closes the descriptors one after the other: the lock's may go
    // a moment after the pipe's.
    FolderLockResult now = FolderLockResult::kTaken;
    for (int ms = 0; ms < 2000 && now == FolderLockResult::kTaken; ++ms) {
        now = PlatformFolderLockTake("queue.lock");
        if (now == FolderLockResult::kTaken) usleep(1000);
    }
    EXPECT_EQ(now, FolderLockResult::kHeld);
    EXPECT_EQ(kill(pid, 0), 0) << "the program ended, so this tells nothing";
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    for (int fd : {ready[0], go[0], go[1]}) close(fd);
}

TEST_F(FileTest, DescriptorsAreCloseOnExecAndScopedFilesClose) {
    int fd = -1;
    {
        ScopedFile f;
        ASSERT_EQ(v3FileOpen(f.get(), "a.dat", 52), kFileOk);
        fd = f->descriptor;
        EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
        // Opening never leaves the descriptor non-blocking.
        EXPECT_FALSE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    }
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    v3File locked{};
    ASSERT_EQ(v3FileOpenLocked(&locked, "log.txt", 4 | 16), kFileOk);
    EXPECT_TRUE(fcntl(locked.descriptor, F_GETFD) & FD_CLOEXEC);
    v3FileClose(&locked);
}

TEST_F(FileTest, StatusReportsKindPermissionsAndTimes) {
    WriteFileText("core.exe", "12345");
    ASSERT_EQ(chmod("core.exe", 0700), 0);
    // One day after the start of 2000.
    struct utimbuf times = {946684800 + 86400 + 5, 946684800 + 86400};
    ASSERT_EQ(utime("core.exe", &times), 0);
    v3FileStatusRecord st{};
    ASSERT_EQ(v3FileStatus(&st, "core.exe"), kFileOk);
    EXPECT_EQ(st.size, 5u);
    EXPECT_EQ(st.kind, kFileKindRegular);
    EXPECT_EQ(st.permissions, 15u);
    EXPECT_EQ(st.last_modification.high, 86400u);
    EXPECT_EQ(st.last_modification.low, 0u);
    EXPECT_EQ(st.last_access.high, 86405u);
    // Times before 2000 are negative seconds.
    struct utimbuf early = {0, 0};
    ASSERT_EQ(utime("core.exe", &early), 0);
    ASSERT_EQ(v3FileStatus(&st, "core.exe"), kFileOk);
    EXPECT_EQ(static_cast<int64_t>(st.last_modification.high), -946684800);

    ASSERT_EQ(chmod("core.exe", 0400), 0);
    ASSERT_EQ(v3FileStatus(&st, "core.exe"), kFileOk);
    EXPECT_EQ(st.permissions, kFilePermRead);

    ASSERT_EQ(mkdir("work", 0700), 0);
    ASSERT_EQ(v3FileStatus(&st, "work"), kFileOk);
    EXPECT_EQ(st.kind, kFileKindDirectory);
    ASSERT_EQ(v3FileStatus(&st, "/dev/null"), kFileOk);
    EXPECT_EQ(st.kind, kFileKindCharDevice);
    EXPECT_EQ(v3FileStatus(&st, "missing"), kFileErrNotFound);
    EXPECT_EQ(v3FileStatus(nullptr, "core.exe"), kFileErrNotFound);
}

TEST_F(FileTest, PermissionDeniedIsMinusOne) {
    ASSERT_EQ(chmod(dir().c_str(), 0711), 0);
    WriteFileText("ro.dat", "keep");
    ASSERT_EQ(chmod("ro.dat", 0444), 0);
    ASSERT_EQ(mkdir("closed", 0500), 0);
    ASSERT_TRUE(qrvtest::GiveToChecker("closed"));
    int write_ro = qrvtest::RunUnprivileged([] {
        v3File f{};
        return v3FileOpen(&f, "ro.dat", 4);
    });
    EXPECT_EQ(write_ro, kFileErrFailed);
    int create_in_closed = qrvtest::RunUnprivileged([] {
        v3File f{};
        return v3FileOpen(&f, "closed/new.dat", 52);
    });
    EXPECT_EQ(create_in_closed, kFileErrFailed);
    int delete_ro = qrvtest::RunUnprivileged([] { return v3FileDelete("ro.dat"); });
    EXPECT_EQ(delete_ro, kFileErrFailed);
    EXPECT_EQ(ReadFileText("ro.dat"), "keep");
}

}  // namespace
