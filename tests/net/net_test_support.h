// Shared set-up of the network tests: the records the network code takes
// (an identity, a permission and a transport, built fresh for each test), no
// proxy from the environment, and console capture for the messages the
// client prints.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include <memory>

#include "common/temp_dir.h"
#include "config/settings.h"
#include "log/log.h"
#include "net/client_identity.h"
#include "net/server_access.h"
#include "net/transport.h"
#include "support/time_value.h"

namespace qrvnet {

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
        ClearProxyEnvironment();
        SetLogVerbosity(kLogDefaultVerbosity);
        LogSetConsoleEcho(false);
        identity_.edition_code = 2;  // the console edition
        UseTransport(0);
    }
    void TearDown() override {
        LogSetConsoleEcho(false);
        v3SetTimeNowHook(nullptr);
        ClearProxyEnvironment();
        TempDirTest::TearDown();
    }

    // The transport that usereg chooses; the built-in one goes through proxy.
    void UseTransport(uint32_t usereg, const ProxySettings& proxy = ProxySettings{}) {
        Settings settings;
        settings.usereg = usereg;
        settings.proxy = proxy;
        transport_ = MakeTransport(settings);
    }
    Transport& transport() { return *transport_; }
    ServerAccess Access() { return {identity_, *transport_, permission_}; }

    ClientIdentity identity_;
    NetworkPermission permission_;
    std::unique_ptr<Transport> transport_;
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
