// Set-up shared by the tests that run real cores from inside the test
// process: a working directory with work/, the scriptable test core
// installed as QrvCore_78.exe, the process-wide records reset, sleeps that
// are recorded and shortened to a millisecond (so the pauses between passes
// and the day's sleep cost nothing), and the client's console captured.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/client_state.h"
#include "client/core_launch.h"
#include "client/qrv3_process.h"
#include "common/temp_dir.h"
#include "log/log.h"
#include "queue/deadline.h"
#include "queue/work_queue.h"
#include "support/sleep.h"
#include "support/time_value.h"

namespace qrvtest {

inline std::mutex g_sleep_guard;
inline std::vector<uint32_t> g_sleeps;

inline void ShortSleep(uint32_t ms) {
    {
        std::lock_guard<std::mutex> hold(g_sleep_guard);
        g_sleeps.push_back(ms);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// How many recorded sleeps asked for exactly ms.
inline size_t SleepsOf(uint32_t ms) {
    std::lock_guard<std::mutex> hold(g_sleep_guard);
    return static_cast<size_t>(std::count(g_sleeps.begin(), g_sleeps.end(), ms));
}

inline void ClearSleeps() {
    std::lock_guard<std::mutex> hold(g_sleep_guard);
    g_sleeps.clear();
}

// A READY unit of the test core (core type 0x78) in slot, with its work
// data file.
inline void AddTestUnit(WorkQueue* queue, uint32_t slot, const char* core_name = "TestCore") {
    QueueEntry e;
    e.status = kSlotReady;
    v3TimeNow(&e.received);
    e.set_packet_type(kStoredHeaderType);
    e.set_core_type(0x78);
    e.set_core_name(core_name);
    e.set_server_address(0x7F000001);
    e.set_server_port(8080);
    std::snprintf(e.core_location, sizeof e.core_location, "127.0.0.1/cores");
    {
        QueueGuard guard(*queue);
        queue->entries[slot] = e;
    }
    char path[32];
    std::snprintf(path, sizeof path, "work/wudata_%02u.dat", slot);
    WriteFileText(path, "unit data");
}

class CoreRunTest : public TempDirTest {
protected:
    static constexpr uint32_t kCoreType = 0x78;

    void SetUp() override {
        TempDirTest::SetUp();
        ASSERT_EQ(mkdir("work", 0700), 0);
        ASSERT_TRUE(FileExists(BinPath("test_core"))) << "build the test_core target first";
        ASSERT_EQ(symlink(BinPath("test_core").c_str(), "QrvCore_78.exe"), 0);
        script_ = dir() + "/core.script";
        setenv("QRV_TEST_CORE_SCRIPT", script_.c_str(), 1);
        // No section for a normal start (the core exits 125) until a test
        // says what the core does; cleanup removes the files with 101.
        Script("");
        ClearSleeps();
        v3SetSleepHook(ShortSleep);
        SetLogVerbosity(kLogDefaultVerbosity);

        ClientState& s = state_;
        s.edition_code = 2;
        s.core_priority = 0;
        s.cpu_usage = 100;
        s.use_assembly = 1;
        s.deadline = 1;
        s.work_queue = NewWorkQueue();
        ASSERT_NE(s.work_queue, nullptr);
        queue_ = s.work_queue.get();
        gSettingsRestartMark.store(0);
        gDeadlineInterruptMark.store(0);
    }

    void TearDown() override {
        if (capturing_) EndCapture();
        v3SetSleepHook(nullptr);
        v3SetTimeNowHook(nullptr);
        unsetenv("QRV_TEST_CORE_SCRIPT");
        SetLogVerbosity(kLogDefaultVerbosity);
        TempDirTest::TearDown();
    }

    void Script(const std::string& text) { WriteFileText(script_, text); }
    std::string Journal() const {
        return FileExists(script_ + ".journal") ? ReadFileText(script_ + ".journal") : "";
    }
    // The arguments of every normal start, in order.
    std::vector<std::string> StartArgs() const {
        std::vector<std::string> args;
        const std::string j = Journal();
        for (size_t at = j.find("start "); at != std::string::npos; at = j.find("start ", at + 1)) {
            const size_t from = j.find("args=", at) + 5;
            args.push_back(j.substr(from, j.find('\n', from) - from));
        }
        return args;
    }

    void AddUnit(uint32_t slot, const char* core_name = "TestCore") {
        AddTestUnit(queue_, slot, core_name);
    }

    void BeginCapture() {
        testing::internal::CaptureStdout();
        LogSetConsoleEcho(true);
        capturing_ = true;
    }
    std::string EndCapture() {
        LogPrint("\n");  // so the next capture starts on a stamped line
        LogSetConsoleEcho(false);
        capturing_ = false;
        return testing::internal::GetCapturedStdout();
    }

    ClientState state_;           // what the client builds at start-up
    WorkQueue* queue_ = nullptr;  // state_'s
    std::string script_;

private:
    bool capturing_ = false;
};

}  // namespace qrvtest
