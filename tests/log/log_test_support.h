// Shared set-up of the log tests: a fixed clock, the default level, no
// console echo, and the log closed again after each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"
#include "log/log.h"
#include "support/time_value.h"

namespace qrvtest {

// 2003-02-05 17:32:09.250 UTC: a February date, so the month table's own
// spelling shows in the full stamp.
inline int FixedClock(Int128* now) {
    *now = TimeFromUnix(1044466329, 250);
    return 0;
}

class LogTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        v3SetTimeNowHook(FixedClock);
        SetLogVerbosity(kLogDefaultVerbosity);
        LogSetConsoleEcho(false);
    }
    void TearDown() override {
        CloseLog();
        // A test that printed without a line end leaves the next one's first
        // line unstamped; end it here.
        LogPrint("\n");
        v3SetTimeNowHook(nullptr);
        TempDirTest::TearDown();
    }
};

inline const char* kOpeningLine = "\r\n\r\n--- Opening Log file [Feburary 5 17:32:09] \r\n\r\n";

}  // namespace qrvtest
