#include "support/dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/temp_dir.h"
#include "support/unprivileged.h"

namespace {

class DirTest : public qrvtest::TempDirTest {};

bool IsDir(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

TEST_F(DirTest, CreateMakesMissingParentsOnly) {
    ASSERT_EQ(mkdir("a", 0700), 0);
    v3Dir d{};
    ASSERT_EQ(v3DirOpen(&d, "a/b/c/", kDirModeCreate), kDirOk);
    EXPECT_TRUE(IsDir("a/b"));
    EXPECT_TRUE(IsDir("a/b/c"));
    struct stat st;
    ASSERT_EQ(stat("a/b/c", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(d.open, 0u);
    // Existing already: a failure to create, with or without the slash.
    EXPECT_EQ(v3DirOpen(&d, "a/b/c/", kDirModeCreate), kDirErrCreate);
    EXPECT_EQ(v3DirOpen(&d, "a/b/c", kDirModeCreate), kDirErrCreate);

    ASSERT_EQ(v3DirOpen(&d, "work/", kDirModeCreate), kDirOk);
    EXPECT_TRUE(IsDir("work"));
    ASSERT_EQ(v3DirOpen(&d, "x//y/z", kDirModeCreate), kDirOk);
    EXPECT_TRUE(IsDir("x/y/z"));
    ASSERT_EQ(v3DirOpen(&d, "p|q/r", kDirModeCreate), kDirOk);
    EXPECT_TRUE(IsDir("pq/r"));
    std::string abs = dir() + "/abs/one";
    ASSERT_EQ(v3DirOpen(&d, abs.c_str(), kDirModeCreate), kDirOk);
    EXPECT_TRUE(IsDir("abs/one"));
}

TEST_F(DirTest, CreateFailures) {
    v3Dir d{};
    qrvtest::WriteFileText("file", "x");
    EXPECT_EQ(v3DirOpen(&d, "file", kDirModeCreate), kDirErrCreate);
    EXPECT_EQ(v3DirOpen(&d, "file/sub/deeper", kDirModeCreate), kDirErrCreate);
    EXPECT_EQ(v3DirOpen(&d, "", kDirModeCreate), kDirErrCreate);
    std::string too_long(256, 'd');
    EXPECT_EQ(v3DirOpen(&d, too_long.c_str(), kDirModeCreate), kDirErrPathTooLong);
    EXPECT_FALSE(qrvtest::FileExists("file/sub"));
}

TEST_F(DirTest, ArgumentChecks) {
    v3Dir d{};
    for (uint32_t mode : {0u, 3u, 5u, 6u, 7u, 8u}) {
        EXPECT_EQ(v3DirOpen(&d, ".", mode), kDirErrBadMode) << mode;
    }
    EXPECT_EQ(v3DirOpen(nullptr, ".", kDirModeTest), kDirErrNotFound);
    EXPECT_EQ(v3DirOpen(&d, nullptr, kDirModeTest), kDirErrMissingArgument);
    // Listing and testing keep two characters of the limit in reserve.
    std::string at_limit(253, 'n');
    std::string over_limit(254, 'n');
    EXPECT_EQ(v3DirOpen(&d, at_limit.c_str(), kDirModeTest), kDirErrNotFound);
    EXPECT_EQ(v3DirOpen(&d, over_limit.c_str(), kDirModeTest), kDirErrPathTooLong);
    EXPECT_EQ(v3DirOpen(&d, over_limit.c_str(), kDirModeList), kDirErrPathTooLong);
}

TEST_F(DirTest, TestAndListing) {
    ASSERT_EQ(mkdir("work", 0700), 0);
    qrvtest::WriteFileText("file", "x");
    v3Dir d{};
    EXPECT_EQ(v3DirOpen(&d, "work/", kDirModeTest), kDirOk);
    EXPECT_EQ(v3DirOpen(&d, "work", kDirModeTest), kDirOk);
    EXPECT_EQ(d.open, 0u);
    EXPECT_EQ(v3DirOpen(&d, "missing/", kDirModeTest), kDirErrNotFound);
    EXPECT_EQ(v3DirOpen(&d, "file", kDirModeTest), kDirErrNotFound);
    EXPECT_EQ(v3DirOpen(&d, "missing", kDirModeList), kDirErrNotFound);
    EXPECT_EQ(d.open, 0u);

    ASSERT_EQ(v3DirOpen(&d, "w|ork", kDirModeList), kDirOk);
    EXPECT_EQ(d.open, 1u);
    EXPECT_STREQ(d.path, "work");
    ASSERT_NE(d.listing, nullptr);
    // The listing's descriptor must not reach a core either.
    int fd = dirfd(static_cast<DIR*>(d.listing));
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(v3DirOpen(&d, "work", kDirModeList), kDirErrAlreadyOpen);
    EXPECT_EQ(v3DirOpen(&d, "work", kDirModeCreate), kDirErrAlreadyOpen);
    EXPECT_EQ(v3DirClose(&d), kDirOk);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(d.listing, nullptr);
    EXPECT_EQ(v3DirClose(&d), kDirErrNotOpen);
    EXPECT_EQ(v3DirClose(nullptr), kDirErrNotFound);
    // The entries come without "." and ".."; a name too long for the
    // caller's room is passed over, never cut into another file's name.
    qrvtest::WriteFileText("work/a", "x");
    qrvtest::WriteFileText("work/abcd", "x");
    ASSERT_EQ(v3DirOpen(&d, "work", kDirModeList), kDirOk);
    char name[4];
    EXPECT_EQ(v3DirNext(&d, name, sizeof name), kDirOk);
    EXPECT_STREQ(name, "a");
    EXPECT_EQ(v3DirNext(&d, name, sizeof name), kDirErrNotFound);
    EXPECT_EQ(v3DirClose(&d), kDirOk);
    EXPECT_EQ(v3DirNext(&d, name, sizeof name), kDirErrNotOpen);
}

TEST_F(DirTest, ReadOnlyAndUnreadableDirectories) {
    ASSERT_EQ(chmod(dir().c_str(), 0711), 0);
    ASSERT_EQ(mkdir("ro", 0500), 0);
    ASSERT_EQ(mkdir("sealed", 0000), 0);
    ASSERT_TRUE(qrvtest::GiveToChecker("ro"));
    ASSERT_TRUE(qrvtest::GiveToChecker("sealed"));
    EXPECT_EQ(qrvtest::RunUnprivileged([] {
                  v3Dir d{};
                  return v3DirOpen(&d, "ro/work/", kDirModeCreate);
              }),
              kDirErrCreate);
    EXPECT_EQ(qrvtest::RunUnprivileged([] {
                  v3Dir d{};
                  return v3DirOpen(&d, "ro/a/b", kDirModeCreate);
              }),
              kDirErrCreate);
    EXPECT_FALSE(qrvtest::FileExists("ro/work"));
    EXPECT_FALSE(qrvtest::FileExists("ro/a"));
    // Still listable: testing it succeeds.
    EXPECT_EQ(qrvtest::RunUnprivileged([] {
                  v3Dir d{};
                  return v3DirOpen(&d, "ro", kDirModeTest);
              }),
              kDirOk);
    // There, but not readable: neither missing nor usable.
    EXPECT_EQ(qrvtest::RunUnprivileged([] {
                  v3Dir d{};
                  return v3DirOpen(&d, "sealed", kDirModeTest);
              }),
              kDirErrFailed);
}

}  // namespace
