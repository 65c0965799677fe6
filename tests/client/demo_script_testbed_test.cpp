// The demo script (testbed/demo/run-demo) as `make demo` runs it, with small
// units: it must pass only when the work server accepted the results and the
// client shut down cleanly, and its figures must be real measurements.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "client/qrv3_test_support.h"
#include "common/testbed.h"
#include "core/bundle_maker.h"

namespace {

struct DemoRun {
    int exit_code = -1;
    std::string output;
};

class DemoScriptTest : public qrvtest::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        if (!qrvtest::DemoKeyEmbedded()) GTEST_SKIP() << "the build embeds a deployment key";
        ASSERT_TRUE(qrvtest::InPrivateNetwork()) << "ctest must start this test through netns-run";
    }

    // Runs the script on the test's build with one small unit.
    DemoRun Run(const std::string& extra) {
        const std::string bin = QRV_BIN_DIR;
        const std::string cmd = std::string(QRV_SOURCE_DIR) + "/testbed/demo/run-demo --quiet --units 1" +
                                " --cells 4 --steps 2000 --timeout 90 --build '" +
                                bin.substr(0, bin.rfind("/bin")) + "' --run-dir '" + dir() +
                                "/run' --figures '" + dir() + "/figures.txt' " + extra + " 2>&1";
        DemoRun run;
        FILE* pipe = popen(cmd.c_str(), "r");
        if (pipe == nullptr) return run;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) run.output.append(buf, n);
        const int status = pclose(pipe);
        run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

    std::map<std::string, std::string> Figures() const {
        std::map<std::string, std::string> figures;
        std::istringstream in(qrvtest::ReadFileText(dir() + "/figures.txt"));
        for (std::string line; std::getline(in, line);) {
            const size_t blank = line.find(' ');
            if (blank != std::string::npos) figures[line.substr(0, blank)] = line.substr(blank + 1);
        }
        return figures;
    }
};

TEST_F(DemoScriptTest, PassesWithAnAcceptedUnitAndMeasuresTheClient) {
    const DemoRun run = Run("");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("result of unit 0: verdict 400"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("DEMO PASSED"), std::string::npos);

    auto f = Figures();
    EXPECT_EQ(f["passed"], "1");
    EXPECT_GE(std::atoi(f["units_accepted"].c_str()), 1);
    // The client's own figures, read from /proc while it ran: the start-up
    // benchmark alone costs it CPU time, and its memory is megabytes.
    const double cpu = std::atof(f["client_cpu_seconds"].c_str());
    const double startup = std::atof(f["client_startup_cpu_seconds"].c_str());
    EXPECT_GT(startup, 0.0);
    EXPECT_GE(cpu, startup);
    EXPECT_GT(std::atol(f["client_peak_rss_kb"].c_str()), 1000);
    EXPECT_GT(std::atof(f["cores_cpu_seconds"].c_str()), 0.0);
    EXPECT_GT(std::atof(f["core_steps_per_second"].c_str()), 0.0);

    // The answers typed on standard input became the client's settings, and
    // the client ran in the run folder with its registry store there.
    const std::string cfg = qrvtest::ReadFileText(dir() + "/run/client/client.cfg");
    EXPECT_NE(cfg.find("username=demo"), std::string::npos) << cfg;
    EXPECT_NE(cfg.find("asknet=no"), std::string::npos) << cfg;
    EXPECT_TRUE(qrvtest::EndsWith(qrvtest::ReadFileText(dir() + "/run/client/QRVlog.txt"),
                                  "Quorvel Client Shutdown.\r\n"));
}

TEST_F(DemoScriptTest, RefusedResultsFailTheDemoAtOnceAndTheClientStillStopsCleanly) {
    const DemoRun run = Run("--verdict 404");
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_NE(run.output.find("DEMO FAILED"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("the work server refused the result of unit 0 (verdict 404"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("time limit reached"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("client exit:         code 0"), std::string::npos) << run.output;
    EXPECT_EQ(Figures()["passed"], "0");
    EXPECT_EQ(Figures()["units_accepted"], "0");
}

}  // namespace
