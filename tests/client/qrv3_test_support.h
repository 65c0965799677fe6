// Set-up shared by the end-to-end tests of qrv3: a fresh working directory
// with a usable client.cfg, a private registry store, and waits that are
// bounded polls.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/qrv3_process.h"
#include "common/temp_dir.h"
#include "support/platform/semaphore.h"

namespace qrvtest {

class Qrv3Test : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        // Settings with a user ID, so that a start never has to ask for them
        // on the console or fetch an ID from a server.
        WriteFileText("client.cfg",
                      "[settings]\nusername=Tester\nteam=0\nasknet=no\nmachineid=1\n"
                      "userid=1A2B3C4D5E6F7081\n\n"
                      "[http]\nactive=no\nhost=localhost\nport=8080\nusereg=no\nusepasswd=no\n\n");
        mkdir((dir() + "/" + kRegistryFolder).c_str(), 0700);
    }

    std::vector<std::string> Env() const {
        return {"QRV_REGISTRY_DIR=" + dir() + "/" + kRegistryFolder};
    }

    void RemoveSettings() { std::remove("client.cfg"); }

    // The names in the working directory, sorted, without the registry
    // store the test made itself.
    std::vector<std::string> DirectoryEntries() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(".")) {
            while (dirent* e = readdir(d)) {
                const std::string name = e->d_name;
                if (name != "." && name != ".." && name != kRegistryFolder) names.push_back(name);
            }
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Waits until the client thread of child has registered its signal
    // handlers: its signal semaphores exist then. Signal 15 from the system
    // before that point would find no handler.
    static void WaitForClientThread(ChildProcess& child) {
        char name[64];
        snprintf(name, sizeof name, "%016llX-SIGTERM", static_cast<unsigned long long>(child.pid()));
        const bool registered = child.WaitUntil([&] {
            v3PlatformNamedSemaphore* sem = v3PlatformNamedSemaphoreOpen(name);
            if (!sem) return false;
            v3PlatformNamedSemaphoreClose(sem);
            return true;
        });
        ASSERT_TRUE(registered) << "client thread never registered; output:\n" << child.output();
        // The handlers are installed right after the semaphores are made.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    // Starts qrv3 with args for a normal run and waits until it has
    // measured the machine, found no server for its work fetch and begun to
    // wait before the next try (at least 5 s, in which it says nothing). All
    // its threads are up then, and nothing else it prints can come between a
    // shutdown's lines. Only inside a private network namespace, where no
    // server listens: the fetch must never reach a program on the machine.
    std::unique_ptr<ChildProcess> StartWaitingClient(const std::vector<std::string>& args) {
        auto qrv3 = std::make_unique<ChildProcess>(BinPath("qrv3"), args, Env());
        WaitForClientThread(*qrv3);
        const bool waiting = qrv3->WaitForOutput(
            "failed, and no other work to do. Waiting before retry\n", 60000);
        EXPECT_TRUE(waiting) << qrv3->output();
        // The autosend thread's first pass ends without a server too; from
        // level 6 on it says so.
        if (waiting && VerbosityOf(args) >= 6) {
            EXPECT_TRUE(qrv3->WaitForOutput("- Autosend completed\n", 10000)) << qrv3->output();
        }
        return qrv3;
    }

    // The level that args set with -verbosity (the last one wins), or 3.
    static int VerbosityOf(const std::vector<std::string>& args) {
        int level = 3;
        for (size_t i = 0; i + 1 < args.size(); ++i) {
            if (args[i] == "-verbosity") level = std::atoi(args[i + 1].c_str());
        }
        return level;
    }

private:
    static constexpr const char* kRegistryFolder = "registry";
};

// The usage text for the program name qrv3.
inline std::string UsageText() {
    return "Quorvel Version 3.24\n"
           "Usage:   qrv3 [-mode]\n\n"
           "modes:\n"
           "  -config      Configure user information\n"
           "  -queueinfo   Get information on queued work units\n"
           "  -delete x    Delete item #x from work queue\n"
           "  -send x      Send result #x to server. Use x=all to send all results\n"
           "  -verbosity x Sets the output level, from 1 to 9 (max). The default is 3\n"
           "  -pause       Pause after finishing & trying to send current unit\n"
           "  -forceasm    Force core assembly optimizations to be used if available\n"
           "  -advmethods  Use new advanced scientific menthods (beta)\n"
           "  -service     Run in service mode (for programs such as firedaemon)\n"
           "  -local       Use configuration files from local directory\n"
           "  default:     Use configuration from Windows registry\n"
           "\n";
}

}  // namespace qrvtest
