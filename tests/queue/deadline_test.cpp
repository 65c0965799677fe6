#include <cstdlib>
#include <string>

#include "config/registry_store.h"
#include "queue/deadline.h"
#include "queue/unit_progress.h"
#include "queue/unit_status.h"
#include "queue_test_support.h"
#include "support/byte_order.h"
#include "support/dir.h"

namespace {

using qrvtest::FileExists;
using qrvtest::MakeUnit;
using qrvtest::Seconds2003;

class DeadlineTest : public qrvtest::QueueTest {
protected:
    // A finished unit with a deadline period, received at r and completed
    // elapsed seconds later.
    void Finish(uint32_t slot, int32_t period, int64_t elapsed) {
        const int64_t r = Seconds2003(3, 1, 0, 0, 0);
        QueueEntry e = MakeUnit(kSlotDone, r);
        e.completed = MakeTimeValue(r + elapsed, 0x4000000000000000ull);
        e.has_deadline = 1;
        e.set_deadline_seconds(period);
        e.deadline = MakeTimeValue(r + period, 0);
        q.entries[slot] = e;
    }
    WorkQueue q;
};

TEST_F(DeadlineTest, PassedOnlyWhenNowIsStrictlyLater) {
    const Int128 now = qrvtest::g_queue_test_now;
    EXPECT_EQ(DeadlinePassed(now), 0);
    EXPECT_EQ(DeadlinePassed(MakeTimeValue(TimeSeconds(now) - 1, 0xFFFFFFFFFFFFFFFFull)), 1);
    EXPECT_EQ(DeadlinePassed(MakeTimeValue(TimeSeconds(now), 1)), 0);
    EXPECT_EQ(DeadlinePassed(MakeTimeValue(-5, 0)), 1);  // before 2000: signed comparison
}

TEST_F(DeadlineTest, FirstUnitSetsTheFractionAndCount) {
    Finish(4, 864000, 216000);
    SetLogVerbosity(6);
    BeginCapture();
    UpdatePerformanceFraction(&q, 4);
    const std::string out = EndCapture();
    EXPECT_FLOAT_EQ(q.performance_fraction, 0.75f);
    EXPECT_EQ(q.performance_count, 1u);
    EXPECT_NE(out.find("Unit 4 finished with 75 percent of time to deadline remaining.\n"),
              std::string::npos);
    EXPECT_NE(out.find("Updated performance fraction: 0.750000\n"), std::string::npos);
}

TEST_F(DeadlineTest, AverageSaturatesAtFourUnits) {
    q.performance_fraction = 0.5f;
    q.performance_count = 4;
    Finish(0, 3600, 0);
    UpdatePerformanceFraction(&q, 0);
    EXPECT_FLOAT_EQ(q.performance_fraction, 0.6f);
    EXPECT_EQ(q.performance_count, 4u);

    q.performance_fraction = 0.5f;
    q.performance_count = 2;
    Finish(0, 1000, 1500);  // late: f = -0.5
    SetLogVerbosity(6);
    BeginCapture();
    UpdatePerformanceFraction(&q, 0);
    const std::string out = EndCapture();
    EXPECT_FLOAT_EQ(q.performance_fraction, (2 * 0.5f - 0.5f) / 3);
    EXPECT_EQ(q.performance_count, 3u);
    EXPECT_NE(out.find("with -50 percent"), std::string::npos);
}

TEST_F(DeadlineTest, UnitWithoutDeadlineChangesNothing) {
    q.performance_fraction = 0.25f;
    q.performance_count = 2;
    Finish(1, 1000, 10);
    q.entries[1].has_deadline = 0;
    Finish(2, 0, 10);  // flag set but no period
    SetLogVerbosity(9);
    BeginCapture();
    UpdatePerformanceFraction(&q, 1);
    UpdatePerformanceFraction(&q, 2);
    UpdatePerformanceFraction(&q, 10);
    const std::string out = EndCapture();
    EXPECT_EQ(q.performance_fraction, 0.25f);
    EXPECT_EQ(q.performance_count, 2u);
    EXPECT_EQ(out.find("finished with"), std::string::npos);
}

int g_stops = 0;
int CountStop() {
    ++g_stops;
    return 0;
}

class UnitProgressTest : public DeadlineTest {
protected:
    void SetUp() override {
        DeadlineTest::SetUp();
        g_stops = 0;
        gDeadlineInterruptMark.store(0);
        v3Dir dir{};
        ASSERT_EQ(v3DirOpen(&dir, "work/", kDirModeCreate), 0);
        setenv("QRV_REGISTRY_DIR", (this->dir() + "/registry").c_str(), 1);
        // The unit in slot 2 was due an hour ago.
        QueueEntry e = MakeUnit(kSlotActive, Seconds2003(5, 22, 11, 0, 0));
        e.has_deadline = 1;
        e.deadline = MakeTimeValue(Seconds2003(6, 1, 11, 0, 0), 0);
        q.entries[2] = e;
        q.current = 2;
        in.queue = &q;
        in.deadlines_on = true;
        in.core_running = true;
        in.edition_code = 2;
        in.stop_core = CountStop;
    }
    void TearDown() override {
        unsetenv("QRV_REGISTRY_DIR");
        gDeadlineInterruptMark.store(0);
        DeadlineTest::TearDown();
    }
    static void WriteProgress(size_t size) {
        std::string record(size, '\0');
        memcpy(record.data() + kProgressName, "p1234_demo", 10);
        StoreLE32(reinterpret_cast<uint8_t*>(record.data()) + kProgressTotal, 200);
        StoreLE32(reinterpret_cast<uint8_t*>(record.data()) + kProgressDone, 75);
        qrvtest::WriteFileText("work/wuinfo_02.dat", record);
    }
    UnitProgressInputs in;
};

TEST_F(UnitProgressTest, PassedDeadlineStopsTheCoreAndLeavesTheFilesAlone) {
    WriteProgress(512);
    BeginCapture();
    EXPECT_EQ(CheckUnitProgressWith(in), -1);
    const std::string out = EndCapture();
    EXPECT_EQ(g_stops, 1);
    EXPECT_EQ(gDeadlineInterruptMark.load(), 1u);
    EXPECT_NE(out.find("Unit 2's deadline (June 1 11:00) has passed.\n"), std::string::npos);
    EXPECT_NE(out.find("Going to interrupt core and move on to next unit...\n"), std::string::npos);
    EXPECT_FALSE(FileExists("unitinfo.txt"));
}

TEST_F(UnitProgressTest, NoInterruptWhenDeadlinesIgnoredOrUnitOnlyReady) {
    WriteProgress(512);
    in.deadlines_on = false;
    EXPECT_EQ(CheckUnitProgressWith(in), 0);
    in.deadlines_on = true;
    q.entries[2].status = kSlotReady;
    EXPECT_EQ(CheckUnitProgressWith(in), 0);
    q.entries[2].status = kSlotActive;
    in.core_running = false;
    EXPECT_EQ(CheckUnitProgressWith(in), 0);
    EXPECT_EQ(g_stops, 0);
    EXPECT_EQ(gDeadlineInterruptMark.load(), 0u);
    const std::string info = qrvtest::ReadFileText("unitinfo.txt");
    EXPECT_NE(info.find("Name: p1234_demo\n"), std::string::npos);
    EXPECT_NE(info.find("Due time: June 1 11:00:00\n"), std::string::npos);
    EXPECT_NE(info.find("Progress: 37%"), std::string::npos);
}

TEST_F(UnitProgressTest, ShortProgressRecordOrIdleSlotChangesNothing) {
    in.deadlines_on = false;
    WriteProgress(511);
    EXPECT_EQ(CheckUnitProgressWith(in), -1);
    EXPECT_FALSE(FileExists("unitinfo.txt"));
    WriteProgress(512);
    q.entries[2].status = kSlotDone;
    EXPECT_EQ(CheckUnitProgressWith(in), -1);
    q.entries[2].status = kSlotActive;
    q.current = 10;  // a damaged index must not reach past the slots
    EXPECT_EQ(CheckUnitProgressWith(in), -1);
    in.queue = nullptr;
    EXPECT_EQ(CheckUnitProgressWith(in), -1);
    EXPECT_FALSE(FileExists("unitinfo.txt"));
}

TEST_F(UnitProgressTest, OnlyThePartnerEditionWritesItsRegistryValues) {
    const char* key = "Software\\Vantor\\Zelclient";
    ASSERT_EQ(RegistrySetValue(RegistryRoot::kCurrentUser, key, "UserName", kRegistryString,
                               "someone", 0),
              kRegistryOk);
    const std::string before = qrvtest::ReadFileText("registry/HKCU.txt");
    in.deadlines_on = false;
    WriteProgress(512);
    ASSERT_EQ(CheckUnitProgressWith(in), 0);
    EXPECT_EQ(qrvtest::ReadFileText("registry/HKCU.txt"), before);

    in.edition_code = 5;
    ASSERT_EQ(CheckUnitProgressWith(in), 0);
    char value[64] = {};
    uint32_t type = 0;
    uint32_t size = 0;
    ASSERT_EQ(RegistryQueryValue(RegistryRoot::kCurrentUser, key, "PercentComplete", &type, value,
                                 sizeof value, &size),
              kRegistryOk);
    EXPECT_STREQ(value, "38");  // rounded, where unitinfo.txt truncates to 37
    ASSERT_EQ(RegistryQueryValue(RegistryRoot::kCurrentUser, key, "ProteinName", &type, value,
                                 sizeof value, &size),
              kRegistryOk);
    EXPECT_STREQ(value, "p1234_demo");
}

}  // namespace
