// Shared pieces of the configuration tests: a working directory with its own
// registry store, a fresh Settings record, and standard input and output
// taken over so that questions can be answered and messages read.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/temp_dir.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "log/log.h"

namespace qrvtest {

// Standard output into a file until Take() (or the end of the scope).
class StdoutCapture {
public:
    StdoutCapture() {
        fflush(stdout);
        saved_ = dup(1);
        char name[] = "/tmp/qrvout.XXXXXX";
        fd_ = mkstemp(name);
        unlink(name);
        dup2(fd_, 1);
    }
    ~StdoutCapture() { Restore(); }
    std::string Take() {
        Restore();
        std::string text;
        char buf[4096];
        ssize_t n;
        lseek(fd_, 0, SEEK_SET);
        while ((n = read(fd_, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
        return text;
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
    }
    int saved_ = -1;
    int fd_ = -1;
};

// Standard input reads text and then its end, until the end of the scope.
class StdinFeed {
public:
    explicit StdinFeed(const std::string& text) {
        int p[2];
        if (pipe(p) != 0) return;
        // Test inputs are far below a pipe's capacity, so writing them
        // before anything reads cannot block.
        (void)!write(p[1], text.data(), text.size());
        close(p[1]);
        saved_ = dup(0);
        dup2(p[0], 0);
        close(p[0]);
    }
    ~StdinFeed() {
        if (saved_ < 0) return;
        dup2(saved_, 0);
        close(saved_);
    }

private:
    int saved_ = -1;
};

// A temporary working directory whose registry store lives in "registry/"
// inside it, a Settings record at its start values for the console edition,
// and messages echoed to the console at the default level.
class ConfigTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        registry_ = dir() + "/registry";
        setenv("QRV_REGISTRY_DIR", registry_.c_str(), 1);
        v3ConfigClear(ClientConfig());
        LogSetConsoleEcho(true);
        SetLogVerbosity(kLogDefaultVerbosity);
    }
    void TearDown() override {
        v3ConfigClear(ClientConfig());
        unsetenv("QRV_REGISTRY_DIR");
        TempDirTest::TearDown();
    }

    // The registry store's file of the machine's root.
    std::string MachineRegistry() const { return registry_ + "/HKLM.txt"; }
    std::string UserRegistry() const { return registry_ + "/HKCU.txt"; }
    // Puts a user ID into the machine's root, as a previous run would have.
    void StoreRegistryUserID(const std::string& hex_lsb_first) {
        mkdir(registry_.c_str(), 0700);
        WriteFileText(MachineRegistry(),
                      "[Software\\Tarnwick\\Quorvel]\nUserID=bin:" + hex_lsb_first + "\n\n");
    }

    std::string registry_;
    Settings settings_;
    uint32_t edition_ = 2;  // the console edition
};

}  // namespace qrvtest
