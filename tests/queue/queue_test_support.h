// Shared set-up of the queue tests: a working directory of their own, a clock
// the test sets, sleeps that are recorded instead of taken, and the client's
// console output captured for checks of its messages.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "log/log.h"
#include "queue/queue_record.h"
#include "queue/work_queue.h"
#include "support/byte_order.h"
#include "support/sleep.h"
#include "support/time_value.h"

namespace qrvtest {

inline Int128 g_queue_test_now{};
inline std::vector<uint32_t> g_queue_test_sleeps;

inline int QueueTestClock(Int128* now) {
    *now = g_queue_test_now;
    return 0;
}

inline void QueueTestSleep(uint32_t ms) { g_queue_test_sleeps.push_back(ms); }

// Seconds since 2000-01-01 00:00:00 UTC of a date in 2003 (not a leap year).
inline int64_t Seconds2003(int month, int day, int hour, int minute, int second) {
    static const int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int64_t days = 3 * 365 + 1 + kDaysBefore[month - 1] + (day - 1);  // 2000 is a leap year
    return ((days * 24 + hour) * 60 + minute) * 60 + second;
}

inline void SetNow(int64_t seconds) { g_queue_test_now = MakeTimeValue(seconds, 0); }

class QueueTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        SetNow(Seconds2003(6, 1, 12, 0, 0));
        g_queue_test_sleeps.clear();
        v3SetTimeNowHook(QueueTestClock);
        v3SetSleepHook(QueueTestSleep);
        SetLogVerbosity(kLogDefaultVerbosity);
        LogSetConsoleEcho(false);
    }
    void TearDown() override {
        if (capturing_) EndCapture();
        v3SetTimeNowHook(nullptr);
        v3SetSleepHook(nullptr);
        SetLogVerbosity(kLogDefaultVerbosity);
        TempDirTest::TearDown();
    }

    // Everything the client prints between the two calls.
    void BeginCapture() {
        testing::internal::CaptureStdout();
        LogSetConsoleEcho(true);
        capturing_ = true;
    }
    std::string EndCapture() {
        // End the line, so the next capture's first message is stamped too.
        LogPrint("\n");
        LogSetConsoleEcho(false);
        capturing_ = false;
        return testing::internal::GetCapturedStdout();
    }

    static std::string FileBytes(const char* path = kQueueFileName) { return ReadFileText(path); }
    static uint32_t WordAt(const std::string& bytes, size_t offset) {
        return LoadLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
    }

private:
    bool capturing_ = false;
};

// A unit as the work fetch leaves it.
inline QueueEntry MakeUnit(uint32_t status, int64_t received, uint32_t address = 0xC000020A,
                           uint32_t port = 8080) {
    QueueEntry e;
    e.status = status;
    e.received = MakeTimeValue(received, 0);
    e.set_packet_type(kStoredHeaderType);
    e.set_core_type(0x78);
    e.set_server_address(address);
    e.set_server_port(port);
    e.set_core_name("Tinker");
    return e;
}

}  // namespace qrvtest
