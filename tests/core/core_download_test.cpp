#include "core/core_download.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "core/bundle_maker.h"

namespace {

using namespace qrvtest;

TEST(CoreDownloadAddress, SplitsHostAndPathByTheOptionBit) {
    const struct {
        const char* location;
        uint8_t options;
        uint32_t core_type;
        const char* host;
        const char* path;
    } cases[] = {
        {"host/cores", 0x00, 0x78, "host", "/cores/Core_78.qrv"},
        {"host/cores/Core_0.qrv", 0x10, 0x78, "host", "/cores/Core_78.qrv"},
        {"host:8080/a/b/", 0x10, 0xa1, "host:8080", "/a/b/Core_a1.qrv"},
        {"host/cores", 0x10, 0x78, "host", "/coresCore_78.qrv"},
        {"host/cores/", 0xEF, 0x78, "host", "/cores//Core_78.qrv"},  // only 0x10 counts
        {"h/Core_5/Core_6.qrv", 0x10, 0xffffffff, "h", "/Core_ffffffff.qrv"},
        {"/x/y", 0x00, 0x1, "/x", "/y/Core_1.qrv"},  // the first character is the host's
        {"host", 0x00, 0x78, "host", "/Core_78.qrv"},
        {"host:80", 0x10, 0x78, "host:80", "/Core_78.qrv"},
    };
    for (const auto& c : cases) {
        CoreDownloadAddress a;
        ASSERT_EQ(0, MakeCoreDownloadAddress(&a, c.location, c.options, c.core_type)) << c.location;
        EXPECT_STREQ(c.host, a.host) << c.location;
        EXPECT_STREQ(c.path, a.path) << c.location;
    }
    CoreDownloadAddress a;
    EXPECT_EQ(-1, MakeCoreDownloadAddress(&a, "", 0, 0x78));
    EXPECT_EQ(-1, MakeCoreDownloadAddress(&a, nullptr, 0, 0x78));
    // What the server sends goes into the request line and the Host header:
    // a line break would let it add a request of its own, a blank would split
    // the line. Refused wherever it stands, in the host or in the path.
    for (const char* bad : {"host/cores\r\nGET http://other/ HTTP/1.1", "host\n/cores", "host/my cores",
                            "host/cores\x1b[2J", "ho\tst/cores", "host/cores\x7f", " host/cores"}) {
        EXPECT_EQ(-1, MakeCoreDownloadAddress(&a, bad, 0, 0x78)) << bad;
        EXPECT_EQ(-1, MakeCoreDownloadAddress(&a, bad, 0x10, 0x78)) << bad;
    }
    // Bytes above 0x7F are no control characters.
    ASSERT_EQ(0, MakeCoreDownloadAddress(&a, "host/c\xe9ur", 0, 0x78));
    EXPECT_STREQ("/c\xe9ur/Core_78.qrv", a.path);
}

// The location field holds 127 characters and needs no terminator when full;
// the buffers here are exactly that long, so a read past them is caught by
// the address sanitizer.
TEST(CoreDownloadAddress, FullFieldIsReadNoFurtherThanItsEnd) {
    std::unique_ptr<char[]> field(new char[kCoreLocationMax]);
    std::memset(field.get(), 'h', kCoreLocationMax);
    CoreDownloadAddress a;
    ASSERT_EQ(0, MakeCoreDownloadAddress(&a, field.get(), 0x10, 0x78));
    EXPECT_EQ(std::string(kCoreLocationMax, 'h'), a.host);
    EXPECT_STREQ("/Core_78.qrv", a.path);

    std::memcpy(field.get(), "host/", 5);
    std::memset(field.get() + 5, 'p', kCoreLocationMax - 5);
    ASSERT_EQ(0, MakeCoreDownloadAddress(&a, field.get(), 0x00, 0x78));
    EXPECT_STREQ("host", a.host);
    EXPECT_EQ("/" + std::string(kCoreLocationMax - 5, 'p') + "/Core_78.qrv", a.path);
}

class InstallBundleTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        if (!DemoKeyEmbedded()) GTEST_SKIP() << "the build embeds a deployment key";
        WriteFileText("core.exe", MakeCoreBytes(5000, 8));
    }
};

TEST_F(InstallBundleTest, EngagedCoreRemovesTheBundle) {
    ASSERT_EQ(0, PackBundle("core.exe", "Core_78.qrv"));
    int rc = 1;
    const std::string log =
        CaptureLog([&] { rc = InstallCoreBundle("Core_78.qrv", "QrvCore_78.exe"); });
    EXPECT_EQ(0, rc) << log;
    EXPECT_NE(log.find("+ Core successfully engaged\n"), std::string::npos) << log;
    EXPECT_FALSE(FileExists("Core_78.qrv"));
    EXPECT_EQ(ReadFileText("core.exe"), ReadFileText("QrvCore_78.exe"));
}

TEST_F(InstallBundleTest, FailedExtractionKeepsTheBundle) {
    ASSERT_EQ(0, PackBundle("core.exe", "Core_78.qrv", "--corrupt-data 3"));
    int rc = 0;
    const std::string log =
        CaptureLog([&] { rc = InstallCoreBundle("Core_78.qrv", "QrvCore_78.exe"); });
    EXPECT_EQ(-1, rc);
    EXPECT_NE(log.find("+ Error: Could not extract core\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("engaged"), std::string::npos) << log;
    EXPECT_TRUE(FileExists("Core_78.qrv"));
}

}  // namespace
