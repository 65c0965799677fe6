#include "core/unzip_core.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/bundle_maker.h"
#include "core/verify_core_bundle.h"
#include "support/bzip2_codec.h"

namespace {

using namespace qrvtest;

constexpr uint64_t kPiece = 131072;
constexpr uint64_t kHeader = 512;
constexpr uint64_t kBlock = 34 + 128;  // signature block of the 1024-bit demo key

class UnzipCoreTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        if (!DemoKeyEmbedded()) GTEST_SKIP() << "the build embeds a deployment key";
    }

    int Unzip(std::string* log, uint64_t limit = kDefaultDecompressLimit) {
        int rc = 1;
        *log = CaptureLog([&] { rc = UnzipCore("Core_78.qrv", "QrvCore_78.exe", limit); });
        return rc;
    }
};

TEST_F(UnzipCoreTest, ToolBundleUnpacksToTheIdenticalRunnableCore) {
    // A script that exits at once, with enough bytes behind it that the
    // bundle spans several 131072-byte pieces.
    const std::string core = "#!/bin/sh\nexit 42\n" + MakeCoreBytes(600000, 3);
    WriteFileText("core.exe", core);
    ASSERT_EQ(0, PackBundle("core.exe", "Core_78.qrv"));
    WriteFileText("QrvCore_78.exe", MakeCoreBytes(900000, 5));  // the failing old core

    std::string log;
    ASSERT_EQ(0, Unzip(&log)) << log;
    EXPECT_EQ(core, ReadFileText("QrvCore_78.exe"));
    const int status = std::system("./QrvCore_78.exe");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(42, WEXITSTATUS(status));
    for (const std::string line : {"Verifying core Core_78.qrv...\n", "Signature is VALID\n",
                                   "Trying to unzip core QrvCore_78.exe\n",
                                   "Decompressed QrvCore_78.exe (600018 bytes) successfully\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
}

TEST_F(UnzipCoreTest, UnverifiedBundleLeavesTheCoreFileAlone) {
    WriteFileText("core.exe", MakeCoreBytes(30000, 1));
    ASSERT_EQ(0, PackBundle("core.exe", "Core_78.qrv", "--corrupt-data 10"));
    WriteFileText("QrvCore_78.exe", "old core");
    std::string log;
    EXPECT_EQ(-1, Unzip(&log));
    EXPECT_NE(log.find("Failed to verify core\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Trying to unzip"), std::string::npos) << log;
    EXPECT_EQ("old core", ReadFileText("QrvCore_78.exe"));
}

// Only the L signed bytes of compressed data go to the codec. Fed the rest
// of the file as it comes, the codec would get a piece of signature bytes
// alone, after its stream ended, whenever the signature block starts a new
// 131072-byte piece, and refuse a genuine core every time it is downloaded.
TEST_F(UnzipCoreTest, SignatureBlockInALaterPieceStillUnpacks) {
    WriteFileText("core.exe", MakeCoreBytes(20000, 2));
    ASSERT_EQ(0, PackBundle("core.exe", "probe.qrv"));
    const uint64_t data = ReadFileText("probe.qrv").size() - kHeader - kBlock;
    const uint64_t pad_to_fit = kPiece - data - kBlock;

    std::string log;
    for (uint64_t pad : {pad_to_fit, pad_to_fit + 1, pad_to_fit + kBlock}) {
        ASSERT_EQ(0, PackBundle("core.exe", "Core_78.qrv", "--sig-pad " + std::to_string(pad)));
        EXPECT_EQ(0, Unzip(&log)) << "signature padding " << pad << "\n" << log;
        EXPECT_EQ(ReadFileText("QrvCore_78.exe"), ReadFileText("core.exe"));
    }
}

// A stream cut inside a block, followed by the signature block, decompresses
// without any libbz2 error; only the missing end-of-stream mark tells.
TEST_F(UnzipCoreTest, StreamWithoutItsEndIsNotEngaged) {
    WriteFileText("core.exe", MakeCoreBytes(400000, 11));
    ASSERT_EQ(0, PackBundle("core.exe", "Core_78.qrv", "--truncate-stream 1000"));

    const std::string bundle = ReadFileText("Core_78.qrv");
    v3Buffer q{};
    v3Codec codec{};
    ASSERT_EQ(0, v3DecompressInit(&q, &codec));
    ASSERT_EQ(0, v3Decompress(&q, &codec, bundle.data() + kHeader, bundle.size() - kHeader))
        << "precondition: libbz2 reports no error for this cut";
    EXPECT_EQ(0, v3DecompressFinished(&codec));
    v3DecompressEnd(&q, &codec);
    v3BufferFree(&q);

    std::string log;
    EXPECT_EQ(-1, Unzip(&log));
    EXPECT_NE(log.find("Signature is VALID\n"), std::string::npos) << log;
    EXPECT_NE(log.find("UnzipCore: Couldn't v3Decompress\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Decompressed"), std::string::npos) << log;
}

TEST_F(UnzipCoreTest, OutputBeyondTheLimitIsRefused) {
    const std::string core = MakeCoreBytes(300000, 4);
    WriteFileText("core.exe", core);
    ASSERT_EQ(0, PackBundle("core.exe", "Core_78.qrv"));
    std::string log;
    EXPECT_EQ(-1, Unzip(&log, core.size() - 1));
    EXPECT_NE(log.find("UnzipCore: Couldn't v3Decompress\n"), std::string::npos) << log;
    EXPECT_EQ(0, Unzip(&log, core.size())) << log;
    EXPECT_EQ(core, ReadFileText("QrvCore_78.exe"));
}

// A bundle renamed over the verified one between the check and the
// unpacking (another download, or someone with access to the folder) must
// not be what is unpacked: its signature was never checked.
TEST_F(UnzipCoreTest, ABundleReplacedAfterVerificationIsNotWhatIsUnpacked) {
    WriteFileText("core.exe", MakeCoreBytes(40000, 12));
    ASSERT_EQ(0, PackBundle("core.exe", "Core_78.qrv"));
    // Well formed and decompressible, but signed after the key expired.
    WriteFileText("forged.exe", "#!/bin/sh\nexit 100\n" + MakeCoreBytes(40000, 13));
    ASSERT_EQ(0, PackBundle("forged.exe", "forged.qrv",
                            "--signing-time " + std::to_string(kDemoKeyExpiry + 1)));
    UnzipCoreSetVerifiedHook([](const char* bundle) {
        ASSERT_EQ(0, std::rename("forged.qrv", bundle));
    });
    std::string log;
    const int rc = Unzip(&log);
    UnzipCoreSetVerifiedHook(nullptr);
    EXPECT_FALSE(FileExists("forged.qrv")) << "the hook did not run";
    EXPECT_EQ(0, rc) << log;
    const std::string unpacked = ReadFileText("QrvCore_78.exe");
    EXPECT_TRUE(unpacked != ReadFileText("forged.exe")) << "the unverified bundle was unpacked";
    EXPECT_TRUE(unpacked == ReadFileText("core.exe")) << unpacked.size() << " bytes unpacked";
    // What now lies under the bundle's name would not have passed.
    CaptureLog([] { EXPECT_EQ(-1, VerifyCoreBundle("Core_78.qrv")); });
}

TEST_F(UnzipCoreTest, ALinkInThePlaceOfTheCoreIsReplacedNotWrittenThrough) {
    WriteFileText("core.exe", MakeCoreBytes(1000, 6));
    ASSERT_EQ(0, PackBundle("core.exe", "Core_78.qrv"));
    ASSERT_EQ(0, mkdir("elsewhere", 0700));
    WriteFileText("elsewhere/precious", "precious");
    std::filesystem::create_symlink("elsewhere/precious", "QrvCore_78.exe");
    std::string log;
    ASSERT_EQ(0, Unzip(&log)) << log;
    EXPECT_EQ("precious", ReadFileText("elsewhere/precious"));
    EXPECT_FALSE(std::filesystem::is_symlink("QrvCore_78.exe"));
    EXPECT_EQ(ReadFileText("core.exe"), ReadFileText("QrvCore_78.exe"));
}

TEST_F(UnzipCoreTest, UnwritableCoreFileIsReported) {
    WriteFileText("core.exe", MakeCoreBytes(1000, 9));
    ASSERT_EQ(0, PackBundle("core.exe", "Core_78.qrv"));
    ASSERT_EQ(0, mkdir("QrvCore_78.exe", 0700));
    std::string log;
    EXPECT_EQ(-1, Unzip(&log));
    EXPECT_NE(log.find("- Couldn't open file QrvCore_78.exe \n"), std::string::npos) << log;
}

}  // namespace
