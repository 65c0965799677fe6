// A fresh, empty working directory for each test: the client keeps all its
// state in its working directory, so most tests run inside one of these.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace qrvtest {

// Creates a unique directory under $TMPDIR (or /tmp), changes into it, and on
// tear-down changes back and removes it with everything in it.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Absolute path of the temporary directory, without a trailing slash.
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
    std::string old_cwd_;
};

// Whole-file helpers for assertions; they fail the test on an I/O error.
std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// Path of a program built into the build's bin/ folder (qrv3, test helpers).
std::string BinPath(const std::string& name);

}  // namespace qrvtest
