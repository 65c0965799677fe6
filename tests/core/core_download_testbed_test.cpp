// Fetching a core from the testbed's download host: the bundle's address,
// the download, verification and unpacking, and what a failed download or
// a bundle that fails verification leaves behind.
#include <sys/stat.h>
#include <unistd.h>

#include "core/bundle_maker.h"
#include "core/core_download.h"
#include "net/conversation_support.h"

class CoreDownloadTestbedTest : public qrvconv::ConversationTest {
protected:
    std::string CoresDir() const override { return dir() + "/bundles"; }

    void SetUp() override {
        qrvconv::ConversationTest::SetUp();
        if (!qrvtest::DemoKeyEmbedded()) GTEST_SKIP() << "the build embeds a deployment key";
        mkdir("bundles", 0700);
        qrvtest::WriteFileText("core.bin", qrvtest::MakeCoreBytes(30000, 5));
    }

    int Download(const char* location, uint8_t options, std::string* log) {
        int rc = 1;
        *log = qrvtest::CaptureLog([&] { rc = DownloadCore(Access(), 0x78, "QrvCore_78.exe", location, options); });
        return rc;
    }
};

TEST_F(CoreDownloadTestbedTest, DownloadedBundleIsVerifiedUnpackedAndRemoved) {
    ASSERT_EQ(qrvtest::PackBundle("core.bin", "bundles/Core_78.qrv"), 0);
    // A symbolic link placed where the bundle goes must not lead the
    // download into the file it points to.
    qrvtest::WriteFileText("victim.txt", "not yours");
    ASSERT_EQ(symlink("victim.txt", "Core_78.qrv"), 0);
    std::string log;
    ASSERT_EQ(Download("127.0.0.4:8081/cores", 0, &log), 0) << log;
    EXPECT_NE(log.find("+ Downloading new core: QrvCore_78.exe\n"), std::string::npos);
    EXPECT_NE(log.find("+ Core successfully engaged\n"), std::string::npos);
    EXPECT_EQ(qrvtest::ReadFileText("QrvCore_78.exe"), qrvtest::ReadFileText("core.bin"));
    EXPECT_EQ(qrvtest::ReadFileText("victim.txt"), "not yours");
    struct stat link_or_file {};
    EXPECT_NE(lstat("Core_78.qrv", &link_or_file), 0);

    // With option bit 0x10 a bundle name in the location is replaced.
    std::remove("QrvCore_78.exe");
    ASSERT_EQ(Download("127.0.0.4:8081/cores/Core_99.qrv", 0x10, &log), 0) << log;
    EXPECT_EQ(qrvtest::ReadFileText("QrvCore_78.exe"), qrvtest::ReadFileText("core.bin"));
    const auto fetched = Journal("download");
    ASSERT_EQ(fetched.size(), 2u);
    EXPECT_EQ(fetched[0]["path"], "/cores/Core_78.qrv");
    EXPECT_EQ(fetched[1]["path"], "/cores/Core_78.qrv");
}

TEST_F(CoreDownloadTestbedTest, FailuresLeaveTheCoreOnDiskAlone) {
    qrvtest::WriteFileText("QrvCore_78.exe", "the core that was there");
    std::string log;
    // Nothing to download.
    EXPECT_EQ(Download("127.0.0.4:8081/cores", 0, &log), -1);
    EXPECT_NE(log.find("+ Error: Could not download core\n"), std::string::npos) << log;
    EXPECT_EQ(qrvtest::ReadFileText("QrvCore_78.exe"), "the core that was there");

    // A bundle whose signature does not match its content.
    ASSERT_EQ(qrvtest::PackBundle("core.bin", "bundles/Core_78.qrv", "--corrupt-data 3"), 0);
    EXPECT_EQ(Download("127.0.0.4:8081/cores", 0, &log), -1);
    EXPECT_NE(log.find("+ Error: Could not extract core\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("engaged"), std::string::npos);
    EXPECT_EQ(qrvtest::ReadFileText("QrvCore_78.exe"), "the core that was there");

    // The host is down.
    ASSERT_TRUE(Configure("cores", R"({"down": true})"));
    EXPECT_EQ(Download("127.0.0.4:8081/cores", 0, &log), -1);
    EXPECT_NE(log.find("+ Error: Could not download core\n"), std::string::npos) << log;
    EXPECT_EQ(qrvtest::ReadFileText("QrvCore_78.exe"), "the core that was there");
}
