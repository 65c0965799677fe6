// End to end on the testbed with the molecular dynamics demo core: a client
// stopped with Ctrl-C in the middle of a unit, and started again, resumes the
// unit from the core's checkpoint, and the work server, which recomputes
// parts of the run, still accepts the result.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "client/qrv3_process.h"
#include "client/qrv3_test_support.h"
#include "common/testbed.h"
#include "core/bundle_maker.h"

namespace {

using qrvtest::ChildProcess;

// 256 atoms: a unit of 16000 steps takes the core a few seconds, with a
// checkpoint every 800 steps, so that a Ctrl-C after the first checkpoint
// lands well inside the unit.
const char kTestbedConfig[] = R"({"servers": {
  "ws1": {"core_type": 120, "units": {"source": "plugin", "path": "%s", "class": "MdUnits",
          "args": {"cells": 4, "steps": 16000, "checkpoint_every": 800}}},
  "ws2": null}})";

constexpr int kUnitTimeoutMs = 60000;

class DemoResumeTest : public qrvtest::Qrv3Test {
protected:
    void SetUp() override {
        Qrv3Test::SetUp();
        if (!qrvtest::DemoKeyEmbedded()) GTEST_SKIP() << "the build embeds a deployment key";
        ASSERT_TRUE(qrvtest::InPrivateNetwork()) << "ctest must start this test through netns-run";
        mkdir("cores", 0700);
        ASSERT_EQ(qrvtest::PackBundle(qrvtest::BinPath("md_core"), "cores/Core_78.qrv"), 0);
        char config[sizeof kTestbedConfig + 512];
        snprintf(config, sizeof config, kTestbedConfig,
                 (qrvtest::SourceDir() + "/testbed/server/qrvtb/md_units.py").c_str());
        mkdir("server", 0700);
        ASSERT_TRUE(testbed_.Start(dir() + "/server", config, dir() + "/cores")) << testbed_.error();
    }

    ChildProcess* StartClient() {
        client_ = std::make_unique<ChildProcess>(qrvtest::BinPath("qrv3"),
                                                 std::vector<std::string>{"-verbosity", "3"}, Env());
        client_->CloseInput();
        return client_.get();
    }

    // The two-digit slot of the first work/<prefix>NN.dat, or "" (the core
    // also leaves <prefix>NN.dat.tmp files for a moment).
    static std::string SlotOf(const std::string& prefix) {
        std::string found;
        if (DIR* d = opendir("work")) {
            while (dirent* e = readdir(d)) {
                const std::string name = e->d_name;
                if (found.empty() && name.size() == prefix.size() + 6 && name.rfind(prefix, 0) == 0 &&
                    name.compare(prefix.size() + 2, 4, ".dat") == 0) {
                    found = name.substr(prefix.size(), 2);
                }
            }
            closedir(d);
        }
        return found;
    }

    // The client exits as soon as it has asked the core to stop; the core
    // then checkpoints on its own. Waits for its last words in its log.
    static std::string WaitForCoreToStop(const std::string& core_log) {
        std::string text;
        for (int i = 0; i < 1000; ++i) {
            text = qrvtest::FileExists(core_log) ? qrvtest::ReadFileText(core_log) : "";
            const size_t at = text.find("Interrupted at step ");
            if (at != std::string::npos && text.find("Writing local files", at) != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return text;
    }

    static std::string ClientLog() {
        std::string text;
        for (const char* name : {"QRVlog-Prev.txt", "QRVlog.txt"}) {
            if (qrvtest::FileExists(name)) text += qrvtest::ReadFileText(name);
        }
        return text;
    }

    qrvtest::Testbed testbed_;
    std::unique_ptr<ChildProcess> client_;
};

TEST_F(DemoResumeTest, CtrlCInsideAUnitThenRestartResumesFromTheCheckpointAndIsAccepted) {
    ChildProcess* first = StartClient();
    std::string slot;
    ASSERT_TRUE(first->WaitUntil([&] { return !(slot = SlotOf("wucheckpoint_")).empty(); },
                                 kUnitTimeoutMs))
        << "no checkpoint of the core appeared; client output:\n" << first->output();
    first->Signal(SIGINT);
    ASSERT_EQ(first->WaitExit(), 0) << first->output();
    EXPECT_NE(first->output().find("Quorvel Client Shutdown."), std::string::npos);

    const std::string core_log = WaitForCoreToStop("work/logfile_" + slot + ".txt");
    std::smatch stopped;
    ASSERT_TRUE(std::regex_search(core_log, stopped, std::regex("Interrupted at step (\\d+): signal 2")))
        << "the core was not stopped by signal 2:\n" << core_log;
    const long stopped_at = std::stol(stopped[1]);
    ASSERT_GT(stopped_at, 0);
    ASSERT_LT(stopped_at, 16000) << "the unit ended before Ctrl-C arrived; nothing to resume";
    EXPECT_EQ(testbed_.Summary("uploads"), 0);
    EXPECT_EQ(testbed_.Summary("units_issued"), 1);

    ChildProcess* second = StartClient();
    ASSERT_TRUE(second->WaitUntil([&] { return testbed_.Summary("units_accepted") >= 1; },
                                  kUnitTimeoutMs))
        << "no result accepted after the restart; client output:\n" << second->output()
        << "\nserver units:\n" << testbed_.Control("GET", "/units.txt");
    second->Signal(SIGINT);
    EXPECT_EQ(second->WaitExit(), 0);

    // The core went on from the step it was stopped at, not from step 0.
    std::smatch resumed;
    const std::string log = ClientLog();
    ASSERT_TRUE(std::regex_search(log, resumed, std::regex("Resuming from checkpoint at step (\\d+)")))
        << log;
    EXPECT_EQ(std::stol(resumed[1]), stopped_at);

    // The resumed unit is the one first issued, accepted at its first upload.
    const std::string units = testbed_.Control("GET", "/units.txt");
    EXPECT_NE(units.find("index=0 status=accepted delivery=sent"), std::string::npos) << units;
    EXPECT_NE(units.find("verdicts=400 "), std::string::npos) << units;
    EXPECT_EQ(testbed_.Summary("units_refused"), 0);
}

}  // namespace
