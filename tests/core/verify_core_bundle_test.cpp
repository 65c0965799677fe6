#include "core/verify_core_bundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <string>

#include "core/bundle_maker.h"

// ThreadSanitizer's runtime defines the allocation functions itself, so a
// build with it cannot stand in for a small machine below; the one case that
// needs that runs in every other build.
#if defined(__SANITIZE_THREAD__)
#define QRV_TEST_OWN_ALLOCATOR 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QRV_TEST_OWN_ALLOCATOR 0
#endif
#endif
#ifndef QRV_TEST_OWN_ALLOCATOR
#define QRV_TEST_OWN_ALLOCATOR 1
#endif

#if QRV_TEST_OWN_ALLOCATOR
// No case here needs a gigabyte: such a request is refused, as on a machine
// without that much memory, so that a length the client tries to allocate
// costs nothing on a 64-bit host.
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (size >= (std::size_t{1} << 30)) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}
#endif

namespace {

using namespace qrvtest;

class VerifyBundleTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        if (!DemoKeyEmbedded()) GTEST_SKIP() << "the build embeds a deployment key";
        WriteFileText("core.exe", MakeCoreBytes(20000, 7));
    }

    // Packs core.exe with the tool's extra switches and verifies the result.
    int PackAndVerify(const std::string& extra, std::string* log) {
        EXPECT_EQ(0, PackBundle("core.exe", "Core_78.qrv", extra)) << extra;
        int rc = 1;
        *log = CaptureLog([&] { rc = VerifyCoreBundle("Core_78.qrv"); });
        return rc;
    }
};

TEST_F(VerifyBundleTest, AcceptsToolBundleAndPrintsKeyAndSigningDates) {
    std::string log;
    ASSERT_EQ(0, PackAndVerify("", &log)) << log;
    EXPECT_NE(log.find("Signature is VALID\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Created: Tuesday December 8, 2026 16:26:58 UTC\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Signed: Sunday Feburary 14, 2027 09:05:03 UTC\n"), std::string::npos) << log;
}

TEST_F(VerifyBundleTest, ReservedHeaderBytesAreNotExamined) {
    std::string log;
    EXPECT_EQ(0, PackAndVerify("--reserved-byte 4=0xff --reserved-byte 15=1 "
                               "--reserved-byte 32=7 --reserved-byte 511=0x80", &log))
        << log;
}

TEST_F(VerifyBundleTest, SigningTimeMustLieWithinTheKeysValidity) {
    const struct {
        int64_t signing_time;
        int rc;
    } cases[] = {
        {kDemoKeyCreated, 0},
        {kDemoKeyExpiry, 0},
        {kDemoKeyCreated - 1, -1},
        {kDemoKeyExpiry + 1, -1},
    };
    for (const auto& c : cases) {
        std::string log;
        EXPECT_EQ(c.rc, PackAndVerify("--signing-time " + std::to_string(c.signing_time), &log))
            << c.signing_time << "\n" << log;
        if (c.rc != 0) {
            EXPECT_NE(log.find("Unable to decode signature from downloaded core file.\n"),
                      std::string::npos) << log;
        }
    }
}

TEST_F(VerifyBundleTest, EachDamageIsRefusedWithItsMessage) {
    const char* const kShort = "Could not read compressed core for verification.\n";
    const char* const kMagic = "Bad file format for downloaded core bundle.\n";
    const char* const kSigRead = "Error reading signature from downloaded core file.\n";
    const char* const kInvalid = "Invalid signature in downloaded core file.\n";
    const char* const kDecode = "Unable to decode signature from downloaded core file.\n";
    const char* const kNotValid = "Signature is _NOT_ valid on given file.\n";
    const struct {
        const char* extra;
        const char* message;
    } cases[] = {
        {"--truncate-file 511", kShort},
        {"--magic deaf0fae", kMagic},
        {"--sig-length 163", kSigRead},
        {"--sig-length 18446744073709551615", kSigRead},
        {"--sig-length 161", kInvalid},         // one byte short of 34 + 128
        {"--block-scheme 5,52", kInvalid},
        {"--block-scheme 0,204", kDecode},      // scheme 0 never goes with a public key
        {"--block-created 850062419", kDecode},
        {"--block-identifier 1", kDecode},
        {"--signature-value modulus", kDecode},
        {"--signature-value plus-modulus", kDecode},  // opens like the true signature
        {"--signed-scheme 7,204", kDecode},
        {"--corrupt-data 100", kNotValid},
        {"--signed-scheme 6,204", kNotValid},
        {"--signed-scheme 5,51", kNotValid},
    };
    for (const auto& c : cases) {
        std::string log;
        EXPECT_EQ(-1, PackAndVerify(c.extra, &log)) << c.extra;
        EXPECT_NE(log.find(c.message), std::string::npos) << c.extra << "\n" << log;
        EXPECT_EQ(log.find("Signature is VALID"), std::string::npos) << c.extra;
    }
}

// A signature length just under 2^32 in a (sparse) file that holds that many
// bytes: where size_t has 32 bits the block and its slack would wrap to a few
// bytes. Every processor refuses it as memory the client cannot have.
TEST_F(VerifyBundleTest, SignatureTooLargeForTheAddressSpaceIsRefused) {
    if (!QRV_TEST_OWN_ALLOCATOR) GTEST_SKIP() << "the sanitizer's allocator would hand out 4 GiB";
    const uint64_t sig_length = 0xFFFFFE00;  // plus the 1024 bytes of slack: 2^32 + 512
    std::string header(512, '\0');
    const uint8_t magic[4] = {0xDE, 0xAF, 0x0F, 0xAD};
    for (int i = 0; i < 4; ++i) header[i] = static_cast<char>(magic[i]);
    for (int i = 0; i < 8; ++i) header[24 + i] = static_cast<char>(sig_length >> (56 - 8 * i));
    WriteFileText("Core_78.qrv", header);
    std::error_code ec;
    std::filesystem::resize_file("Core_78.qrv", 512 + sig_length, ec);
    ASSERT_FALSE(ec) << ec.message();
    int rc = 0;
    const std::string log = CaptureLog([&] { rc = VerifyCoreBundle("Core_78.qrv"); });
    EXPECT_EQ(-1, rc);
    EXPECT_NE(log.find("Memory problems.\n"), std::string::npos) << log;
}

TEST_F(VerifyBundleTest, MissingBundleIsRefused) {
    int rc = 0;
    const std::string log = CaptureLog([&] { rc = VerifyCoreBundle("Core_99.qrv"); });
    EXPECT_EQ(-1, rc);
    EXPECT_NE(log.find("Error opening compressed core file\n"), std::string::npos) << log;
}

}  // namespace
