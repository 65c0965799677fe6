// Shared set-up of the network tests: the Client state's network settings at
// their defaults, no proxy from the environment, and console capture for the
// messages the client prints.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/client_state.h"
#include "common/temp_dir.h"
#include "log/log.h"
#include "support/time_value.h"

namespace qrvnet {

inline void ResetNetworkSettings() {
    ClientState& s = gClientState;
    s.config = nullptr;
    s.usereg = 0;
    s.permission = NetworkPermission{};
    s.proxy = ProxySettings{};
    s.user_id = 0;
    s.machine_id = 1;
    s.client_type = 0;
    s.benchmark = 0;
    s.edition_code = 2;
    s.betateam = s.advmethods = s.internal = 0;
}

// The system transport takes its proxy from the environment; tests choose.
inline void ClearProxyEnvironment() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy",
                             "NO_PROXY"}) {
        unsetenv(name);
    }
}

class NetTest : public qrvtest::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        ResetNetworkSettings();
        ClearProxyEnvironment();
        SetLogVerbosity(kLogDefaultVerbosity);
        LogSetConsoleEcho(false);
    }
    void TearDown() override {
        LogSetConsoleEcho(false);
        v3SetTimeNowHook(nullptr);
        ResetNetworkSettings();
        ClearProxyEnvironment();
        TempDirTest::TearDown();
    }
};

// Captures what the client prints (LogPrint echoes to the console).
class ConsoleCapture {
public:
    ConsoleCapture() {
        LogSetConsoleEcho(true);
        testing::internal::CaptureStdout();
    }
    ~ConsoleCapture() {
        if (!done_) Text();
    }
    std::string Text() {
        if (!done_) {
            done_ = true;
            LogPrint("\n");  // ends a message printed without a line end
            text_ = testing::internal::GetCapturedStdout();
            LogSetConsoleEcho(false);
        }
        return text_;
    }

private:
    bool done_ = false;
    std::string text_;
};

// A clock that moves on g_clock_step seconds at every reading, so that any
// time-out runs out after a few readings without a real wait.
inline std::atomic<int64_t> g_fake_seconds{0};
inline std::atomic<int64_t> g_clock_step{1};
inline int RacingClock(Int128* now) {
    *now = MakeTimeValue(g_fake_seconds.fetch_add(g_clock_step.load()), 0);
    return 0;
}

inline std::string Bytes(const void* data, size_t n) {
    return std::string(static_cast<const char*>(data), n);
}

}  // namespace qrvnet
