// The deployment key option: cmake/public_key.cmake is run on a scratch
// project with records of several sizes.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/bundle_maker.h"

namespace {

using namespace qrvtest;

// A record of the given size with a modulus that has its top bit, and
// `extra` bytes more than that size needs.
std::string MakeRecord(uint32_t bits, int extra = 0) {
    std::string r(48 + bits / 8 + extra, '\x5a');
    const char head[8] = {0, 5, 0, 0, static_cast<char>(bits >> 24),
                          static_cast<char>(bits >> 16), static_cast<char>(bits >> 8),
                          static_cast<char>(bits)};
    r.replace(0, 8, head, 8);
    r[48] = static_cast<char>(0xc3);
    return r;
}

class PublicKeyOptionTest : public TempDirTest {
protected:
    // Configures the scratch project with the record; cmake's exit status,
    // its output in *out.
    int Configure(const std::string& record, std::string* out) {
        WriteFileText("key.rec", record);
        WriteFileText("CMakeLists.txt",
                      "cmake_minimum_required(VERSION 3.25)\n"
                      "project(keycheck LANGUAGES NONE)\n"
                      "set(QRV_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)\n"
                      "add_library(qrv3lib INTERFACE)\n"
                      "include(" + SourceDir() + "/cmake/public_key.cmake)\n");
        const std::string cmd = "cmake -S . -B build -DQRV_PUBLIC_KEY_FILE=" + dir() +
                                "/key.rec > cmake.out 2>&1";
        const int status = std::system(cmd.c_str());
        // CMake wraps its messages; one blank between words is easier to match.
        out->clear();
        for (const char ch : ReadFileText("cmake.out")) {
            const bool blank = ch == ' ' || ch == '\n';
            if (!blank || (!out->empty() && out->back() != ' ')) *out += blank ? ' ' : ch;
        }
        std::filesystem::remove_all("build");
        return status;
    }
};

TEST_F(PublicKeyOptionTest, KeysUpTo4096BitsAreEmbedded) {
    std::string out;
    ASSERT_EQ(0, Configure(MakeRecord(4096), &out)) << out;
    EXPECT_NE(out.find("4096-bit key"), std::string::npos) << out;
}

TEST_F(PublicKeyOptionTest, LargerOrMalformedKeysAreRefusedWithTheReason) {
    const struct {
        const char* what;
        std::string record;
        const char* reason;
    } cases[] = {
        {"4104 bits", MakeRecord(4104), "keys above about 5,700 bits let anyone forge"},
        {"one byte too many", MakeRecord(1024, 1), "a 1024-bit record has 176"},
        {"504 bits", MakeRecord(504), "at least 512 bits"},
        {"type 4", std::string("\x00\x04", 2) + MakeRecord(1024).substr(2), "not a public key record"},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_NE(0, Configure(c.record, &out)) << c.what;
        EXPECT_NE(out.find(c.reason), std::string::npos) << c.what << "\n" << out;
    }
}

}  // namespace
