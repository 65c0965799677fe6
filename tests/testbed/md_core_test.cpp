// The demo core as a real process on small units: it must finish with a
// result the work server's check accepts, stop and resume without changing
// the outcome, and answer every other part of the client's contract.
#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>

#include "common/temp_dir.h"
#include "testbed/core_child.h"

namespace qrvtest {
namespace {

namespace fs = std::filesystem;

// 256 atoms in a box of edge 6.84: a few hundred steps per second even in
// a sanitizer build.
const char* kSmallUnit = "--cells 4 --density 0.8 --sample-every 50 --probe-steps 5";

// Runs a command, returns its exit status and puts its output in *out.
int Shell(const std::string& cmd, std::string* out = nullptr) {
    std::FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (p == nullptr) return -1;
    std::string text;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) text += buf;
    const int status = pclose(p);
    if (out != nullptr) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class MdCoreTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        fs::create_directories("work");
    }

    void MakeUnit(const std::string& path, const std::string& opts) {
        std::string out;
        ASSERT_EQ(Shell(BinPath("md_units") + " make-unit " + path + " " + opts, &out), 0) << out;
    }

    // The work server's verdict on a result, with its reason.
    int Check(const std::string& unit, const std::string& result, std::string* why) {
        return Shell(BinPath("md_units") + " check " + unit + " " + result, why);
    }

    int RunCore(const std::vector<std::string>& extra, int timeout_ms = 60000) {
        CoreChild core;
        std::vector<std::string> argv = {BinPath("md_core"), "-dir", "work/", "-suffix", "02"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        EXPECT_TRUE(core.Start(argv));
        return core.Wait(timeout_ms);
    }

    void StartCore(CoreChild& core, const std::string& dir, const std::vector<std::string>& extra) {
        std::vector<std::string> argv = {BinPath("md_core"), "-dir", dir, "-suffix", "02"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ASSERT_TRUE(core.Start(argv));
    }
};

// The step number in the first log line matching "<prefix><number>".
long StepAfter(const std::string& log, const std::string& prefix) {
    const size_t at = log.find(prefix);
    return at == std::string::npos ? -1 : std::atol(log.c_str() + at + prefix.size());
}

TEST_F(MdCoreTest, FinishesAUnitTheServerAccepts) {
    MakeUnit("work/wudata_02.dat", std::string(kSmallUnit) + " --index 2 --steps 600 --checkpoint-every 200");
    EXPECT_EQ(RunCore({"-lifeline", std::to_string(getpid())}), 100);
    std::string why;
    EXPECT_EQ(Check("work/wudata_02.dat", "work/wuresults_02.dat", &why), 0) << why;

    const std::string log = Slurp("work/logfile_02.txt");
    const std::vector<std::string> lines = Lines(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("Finished", 0), 0u) << log;
    EXPECT_NE(log.find("\nStarting from step 0\n"), std::string::npos);
    int checkpoints = 0;
    for (const std::string& l : lines) checkpoints += l == "Writing local files";
    EXPECT_EQ(checkpoints, 3);  // steps 200, 400 and the end

    const std::string rec = Slurp("work/wuinfo_02.dat");
    ASSERT_EQ(rec.size(), 512u);
    EXPECT_EQ(std::string(rec.c_str() + 4), "LJ fluid 0002 (256 atoms)");
    EXPECT_EQ(LeU32(rec, 84), 600u);
    EXPECT_EQ(LeU32(rec, 88), 600u);
    EXPECT_EQ(Lines(Slurp("work/current.xyz")).size(), 258u);

    // Started again after finishing (the client may not have seen the
    // exit), it writes the same result without recomputing.
    const std::string result = Slurp("work/wuresults_02.dat");
    EXPECT_EQ(RunCore({}), 100);
    EXPECT_NE(Slurp("work/logfile_02.txt").find("Resuming from checkpoint at step 600"), std::string::npos);
    EXPECT_EQ(Slurp("work/wuresults_02.dat"), result);
}

TEST_F(MdCoreTest, InterruptedRunResumesToTheSameResult) {
    const std::string opts = std::string(kSmallUnit) + " --index 5 --steps 3000 --checkpoint-every 200";
    fs::create_directories("a/work");
    fs::create_directories("b/work");
    MakeUnit("a/work/wudata_02.dat", opts);
    MakeUnit("b/work/wudata_02.dat", opts);

    CoreChild straight;
    StartCore(straight, "a/work/", {});
    EXPECT_EQ(straight.Wait(120000), 100);

    // At a fifth of a processor the run is slow enough to be caught in
    // the middle, and a signal must be answered while the core idles too.
    CoreChild first;
    StartCore(first, "b/work/", {"-cpu", "20"});
    ASSERT_TRUE(WaitForText("b/work/logfile_02.txt", "Writing local files", 60000));
    ASSERT_TRUE(ReleaseSemaphore(first.pid(), "SIGTERM"));
    EXPECT_EQ(first.Wait(10000), 102);
    const std::string log1 = Slurp("b/work/logfile_02.txt");
    const long stopped = StepAfter(log1, "Interrupted at step ");
    EXPECT_GE(stopped, 200) << log1;
    EXPECT_LT(stopped, 3000) << log1;
    EXPECT_NE(log1.find(": signal 2"), std::string::npos) << log1;
    EXPECT_FALSE(FileExists("b/work/wuresults_02.dat"));
    EXPECT_EQ(LeU32(Slurp("b/work/wuinfo_02.dat"), 88), static_cast<uint32_t>(stopped));

    CoreChild second;
    StartCore(second, "b/work/", {});
    EXPECT_EQ(second.Wait(120000), 100);
    const std::string log2 = Slurp("b/work/logfile_02.txt");
    EXPECT_EQ(StepAfter(log2, "Resuming from checkpoint at step "), stopped) << log2;

    // Forces are summed in an order that does not depend on when the run
    // was cut, so the resumed trajectory is the uninterrupted one exactly.
    const std::string result = Slurp("b/work/wuresults_02.dat");
    EXPECT_EQ(result.size(), Slurp("a/work/wuresults_02.dat").size());
    EXPECT_TRUE(result == Slurp("a/work/wuresults_02.dat"));
    std::string why;
    EXPECT_EQ(Check("b/work/wudata_02.dat", "b/work/wuresults_02.dat", &why), 0) << why;
}

TEST_F(MdCoreTest, CleanupRemovesOnlyThisUnitsFiles) {
    MakeUnit("work/wudata_02.dat", std::string(kSmallUnit) + " --steps 100 --checkpoint-every 50");
    ASSERT_EQ(RunCore({}), 100);
    WriteFileText("work/wudata_03.dat", "another unit");
    EXPECT_EQ(RunCore({"-cleanup"}), 101);
    for (const char* f : {"work/wudata_02.dat", "work/wuresults_02.dat", "work/wuinfo_02.dat",
                          "work/wucheckpoint_02.dat"})
        EXPECT_FALSE(FileExists(f)) << f;
    EXPECT_TRUE(FileExists("work/logfile_02.txt"));  // the client removes it
    EXPECT_TRUE(FileExists("work/wudata_03.dat"));
    EXPECT_EQ(RunCore({"-cleanup"}), 101);  // nothing left is still success
    EXPECT_EQ(RunCore({"-cleanup", "-bogus"}), 115);
}

// Rewrites the unit's trailing SHA-256 after a change, as a server would.
void Resign(std::string* unit) {
    SHA256(reinterpret_cast<const unsigned char*>(unit->data()), unit->size() - 32,
           reinterpret_cast<unsigned char*>(&(*unit)[unit->size() - 32]));
}

// Units are little-endian on every processor, doubles too.
void PutF64At(std::string* b, size_t at, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (size_t i = 0; i < 8; ++i) (*b)[at + i] = static_cast<char>(bits >> (8 * i));
}

TEST_F(MdCoreTest, RefusesBadUnitsWithTheirCodes) {
    EXPECT_EQ(RunCore({}), 116);  // no work file at all
    MakeUnit("good.dat", std::string(kSmallUnit) + " --steps 100");
    const std::string good = Slurp("good.dat");
    struct Case {
        const char* name;
        std::string bytes;
        int code;
    };
    std::vector<Case> cases;
    cases.push_back({"not a unit", "hello, world", 111});
    std::string v2 = good;
    v2[8] = 2;
    Resign(&v2);
    cases.push_back({"newer version", v2, 110});
    std::string flipped = good;
    flipped[400] ^= 0x10;
    cases.push_back({"flipped byte", flipped, 113});
    cases.push_back({"truncated", good.substr(0, good.size() - 48), 113});
    std::string small_box = good;
    PutF64At(&small_box, 128, 5.0);  // below 2 x (cutoff + skin); atoms outside too
    Resign(&small_box);
    cases.push_back({"box too small", small_box, 112});
    std::string bad_dt = good;
    PutF64At(&bad_dt, 136, std::nan(""));
    Resign(&bad_dt);
    cases.push_back({"dt not a number", bad_dt, 112});
    std::string outside = good;
    PutF64At(&outside, 256, -0.5);
    Resign(&outside);
    cases.push_back({"atom outside the box", outside, 112});
    for (const Case& c : cases) {
        WriteFileText("work/wudata_02.dat", c.bytes);
        EXPECT_EQ(RunCore({}), c.code) << c.name;
        EXPECT_NE(Slurp("work/logfile_02.txt").find("Work unit refused: "), std::string::npos) << c.name;
        EXPECT_FALSE(FileExists("work/wuresults_02.dat")) << c.name;
    }
}

TEST_F(MdCoreTest, DamagedCheckpointIsIgnored) {
    MakeUnit("work/wudata_02.dat", std::string(kSmallUnit) + " --steps 200 --checkpoint-every 100");
    ASSERT_EQ(RunCore({}), 100);
    const std::string result = Slurp("work/wuresults_02.dat");
    std::string ckpt = Slurp("work/wucheckpoint_02.dat");
    ckpt[200] ^= 1;
    WriteFileText("work/wucheckpoint_02.dat", ckpt);
    fs::remove("work/logfile_02.txt");
    EXPECT_EQ(RunCore({}), 100);
    const std::string log = Slurp("work/logfile_02.txt");
    EXPECT_NE(log.find("Checkpoint not usable (checkpoint checksum mismatch)"), std::string::npos) << log;
    EXPECT_NE(log.find("Starting from step 0"), std::string::npos);
    EXPECT_TRUE(Slurp("work/wuresults_02.dat") == result);
}

TEST_F(MdCoreTest, LifelineAndDutyCycle) {
    MakeUnit("work/wudata_02.dat", std::string(kSmallUnit) + " --steps 200000 --checkpoint-every 100000");
    CoreChild client;  // stands in for the client process
    ASSERT_TRUE(client.Start({"/bin/sleep", "60"}));
    CoreChild core;
    StartCore(core, "work/", {"-lifeline", std::to_string(client.pid()), "-cpu", "25"});
    ASSERT_TRUE(WaitForText("work/logfile_02.txt", "Starting from step 0", 30000));
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(client.pid(), SIGKILL);
    client.Wait(2000);
    rusage ru{};
    EXPECT_EQ(core.Wait(5000, &ru), 102);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                       static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    // 25% of one processor, with room for start-up and a loaded machine.
    EXPECT_LT(cpu, 0.5 * wall) << "cpu " << cpu << " s over " << wall << " s";
    EXPECT_GT(cpu, 0.0);
    const std::string log = Slurp("work/logfile_02.txt");
    EXPECT_NE(log.find("the client process is gone"), std::string::npos) << log;
    EXPECT_TRUE(FileExists("work/wucheckpoint_02.dat"));
    EXPECT_FALSE(FileExists("work/wuresults_02.dat"));

    // Signal 15 arrives through the "-SIGINT" semaphore and also stops it.
    CoreChild again;
    StartCore(again, "work/", {});
    ASSERT_TRUE(WaitForText("work/logfile_02.txt", "Resuming from checkpoint", 30000));
    ASSERT_TRUE(ReleaseWhenReady(again.pid(), "SIGINT"));
    EXPECT_EQ(again.Wait(5000), 102);
    EXPECT_NE(Slurp("work/logfile_02.txt").find(": signal 15"), std::string::npos);
}

}  // namespace
}  // namespace qrvtest
