#include "config/registry_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <optional>
#include <string>

#include "common/temp_dir.h"
#include "support/unprivileged.h"

namespace {

using qrvtest::ReadFileText;
using qrvtest::WriteFileText;

constexpr char kKey[] = "Software\\Tarnwick\\Quorvel";
constexpr RegistryRoot kMachine = RegistryRoot::kLocalMachine;
constexpr RegistryRoot kUser = RegistryRoot::kCurrentUser;

// Sets or unsets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old;
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class RegistryStoreTest : public qrvtest::TempDirTest {
protected:
    void SetUp() override {
        qrvtest::TempDirTest::SetUp();
        store_ = dir() + "/store";
        env_.emplace("QRV_REGISTRY_DIR", store_.c_str());
    }
    void TearDown() override {
        env_.reset();
        qrvtest::TempDirTest::TearDown();
    }
    std::string store_;
    std::optional<ScopedEnv> env_;
};

TEST_F(RegistryStoreTest, ValuesRoundTripInTheDocumentedFileForm) {
    const unsigned char id[8] = {0xef, 0xcd, 0xab, 0x89, 0x67, 0x45, 0x23, 0x01};
    ASSERT_EQ(RegistrySetValue(kMachine, kKey, "UserID", kRegistryBinary, id, sizeof id), kRegistryOk);
    ASSERT_EQ(RegistrySetValue(kUser, kKey, "DirName", kRegistryString, "/srv/qrv dir", 0), kRegistryOk);
    EXPECT_EQ(ReadFileText(store_ + "/HKLM.txt"),
              "[Software\\Tarnwick\\Quorvel]\nUserID=bin:efcdab8967452301\n\n");
    EXPECT_EQ(ReadFileText(store_ + "/HKCU.txt"), "[Software\\Tarnwick\\Quorvel]\nDirName=sz:/srv/qrv dir\n\n");

    unsigned char bytes[8] = {};
    uint32_t type = 0;
    uint32_t size = 0;
    ASSERT_EQ(RegistryQueryValue(kMachine, kKey, "UserID", &type, bytes, sizeof bytes, &size), kRegistryOk);
    EXPECT_EQ(type, kRegistryBinary);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(memcmp(bytes, id, 8), 0);

    char text[32];
    ASSERT_EQ(RegistryQueryValue(kUser, kKey, "DirName", &type, text, sizeof text, &size), kRegistryOk);
    EXPECT_EQ(type, kRegistryString);
    EXPECT_EQ(size, 13u);  // the terminator counts
    EXPECT_STREQ(text, "/srv/qrv dir");

    // A second value keeps the first; a changed value replaces it.
    ASSERT_EQ(RegistrySetValue(kUser, kKey, "DirName", kRegistryString, "/new", 0), kRegistryOk);
    ASSERT_EQ(RegistrySetValue(kUser, kKey, "Name", kRegistryString, "bob", 0), kRegistryOk);
    EXPECT_EQ(ReadFileText(store_ + "/HKCU.txt"),
              "[Software\\Tarnwick\\Quorvel]\nDirName=sz:/new\nName=sz:bob\n\n");

    // The user ID is the volunteer's identity: a store file is its owner's
    // alone after every change, whatever mode it was given meanwhile.
    struct stat st {};
    ASSERT_EQ(stat((store_ + "/HKLM.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(chmod((store_ + "/HKLM.txt").c_str(), 0644), 0);
    ASSERT_EQ(RegistrySetValue(kMachine, kKey, "UserID", kRegistryBinary, id, sizeof id), kRegistryOk);
    ASSERT_EQ(stat((store_ + "/HKLM.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(RegistryStoreTest, MissingKeysValuesAndDamagedValues) {
    char buf[16];
    uint32_t type = 0;
    uint32_t size = 0;
    EXPECT_EQ(RegistryKeyExists(kUser, kKey), kRegistryNotFound);
    EXPECT_EQ(RegistryQueryValue(kUser, kKey, "Name", &type, buf, sizeof buf, &size), kRegistryNotFound);

    mkdir(store_.c_str(), 0700);
    WriteFileText(store_ + "/HKCU.txt",
                  "[Software\\Tarnwick\\Quorvel]\nplain=no prefix\nodd=bin:abc\nbad=bin:zz\n"
                  "upper=bin:0AFF\nlong=sz:0123456789abcdef\n\n");
    EXPECT_EQ(RegistryKeyExists(kUser, kKey), kRegistryOk);
    EXPECT_EQ(RegistryKeyExists(kUser, "Software\\Tarnwick"), kRegistryNotFound);
    EXPECT_EQ(RegistryQueryValue(kUser, kKey, "Name", &type, buf, sizeof buf, &size), kRegistryNotFound);
    EXPECT_EQ(RegistryQueryValue(kUser, kKey, "plain", &type, buf, sizeof buf, &size), kRegistryUnreadable);
    EXPECT_EQ(RegistryQueryValue(kUser, kKey, "odd", &type, buf, sizeof buf, &size), kRegistryUnreadable);
    EXPECT_EQ(RegistryQueryValue(kUser, kKey, "bad", &type, buf, sizeof buf, &size), kRegistryUnreadable);
    ASSERT_EQ(RegistryQueryValue(kUser, kKey, "upper", &type, buf, sizeof buf, &size), kRegistryOk);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(static_cast<unsigned char>(buf[1]), 0xFF);

    // Sixteen characters and a terminator do not fit sixteen bytes: refused,
    // never cut.
    memcpy(buf, "untouched", 10);
    EXPECT_EQ(RegistryQueryValue(kUser, kKey, "long", &type, buf, sizeof buf, &size), kRegistryTooLarge);
    EXPECT_STREQ(buf, "untouched");
    char wide[17];
    EXPECT_EQ(RegistryQueryValue(kUser, kKey, "long", &type, wide, sizeof wide, &size), kRegistryOk);
}

TEST_F(RegistryStoreTest, RootThatCannotBeWrittenFailsAStore) {
    WriteFileText("blocker", "a file where a folder should be");
    ScopedEnv env("QRV_REGISTRY_DIR", (dir() + "/blocker/store").c_str());
    EXPECT_EQ(RegistrySetValue(kUser, kKey, "Name", kRegistryString, "bob", 0), kRegistryFailed);
    EXPECT_NE(RegistryKeyExists(kUser, kKey), kRegistryOk);
    EXPECT_EQ(RegistrySetValue(kUser, kKey, "line", kRegistryString, "a\nb", 0), kRegistryFailed);
}

TEST_F(RegistryStoreTest, UnreadableFileIsNeverReplaced) {
    mkdir(store_.c_str(), 0700);
    const std::string file = store_ + "/HKLM.txt";
    WriteFileText(file, "[Other\\Program]\nSecret=sz:keep me\n\n");
    ASSERT_EQ(chmod(file.c_str(), 0200), 0);
    ASSERT_TRUE(qrvtest::GiveToChecker(store_));
    ASSERT_TRUE(qrvtest::GiveToChecker(file));
    const int rc = qrvtest::RunUnprivileged([] {
        const unsigned char id[8] = {1};
        return RegistrySetValue(kMachine, kKey, "UserID", kRegistryBinary, id, sizeof id);
    });
    EXPECT_EQ(rc, kRegistryFailed);
    chmod(file.c_str(), 0600);
    EXPECT_EQ(ReadFileText(file), "[Other\\Program]\nSecret=sz:keep me\n\n");
}

TEST(RegistryPathTest, FollowsTheEnvironment) {
    ScopedEnv no_dir("QRV_REGISTRY_DIR", nullptr);
    char path[256];
    ASSERT_EQ(PlatformRegistryFilePath(kMachine, path, sizeof path), 0);
    EXPECT_STREQ(path, "/etc/quorvel/registry.txt");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
        ASSERT_EQ(PlatformRegistryFilePath(kUser, path, sizeof path), 0);
        EXPECT_STREQ(path, "/cfg/quorvel/registry.txt");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative");
        ScopedEnv home("HOME", "/home/v");
        ASSERT_EQ(PlatformRegistryFilePath(kUser, path, sizeof path), 0);
        EXPECT_STREQ(path, "/home/v/.config/quorvel/registry.txt");
        ScopedEnv no_home("HOME", nullptr);
        EXPECT_EQ(PlatformRegistryFilePath(kUser, path, sizeof path), -1);
    }
    ScopedEnv dir("QRV_REGISTRY_DIR", "/t");
    ASSERT_EQ(PlatformRegistryFilePath(kUser, path, sizeof path), 0);
    EXPECT_STREQ(path, "/t/HKCU.txt");
    EXPECT_EQ(PlatformRegistryFilePath(kMachine, path, 8), -1);  // "/t/HKLM.txt" does not fit
}

}  // namespace
