// End-to-end: every way of ending a running qrv3 goes through the shutdown
// handler once and ends with code 0.
//
// The clients here make a normal start (benchmark included) and then stay up
// because no server answers their work fetch: they wait and retry for ever.
// ctest runs this file inside a private network namespace, so those fetches
// find nothing listening and never reach a program on the machine.
#include <signal.h>

#include <memory>
#include <string>

#include "client/qrv3_process.h"
#include "client/qrv3_test_support.h"
#include "common/testbed.h"
#include "support/signals.h"

namespace {

using qrvtest::ChildProcess;
using qrvtest::CountOf;
using qrvtest::ReadFileText;

class Qrv3ShutdownTest : public qrvtest::Qrv3Test {
protected:
    void SetUp() override {
        Qrv3Test::SetUp();
        ASSERT_TRUE(qrvtest::InPrivateNetwork()) << "ctest runs this test through netns-run";
    }

    // A normal run at verbosity level that is up and waiting to retry its
    // work fetch.
    std::unique_ptr<ChildProcess> Start(const std::string& level = "6", bool service = false) {
        std::vector<std::string> args = {"-verbosity", level};
        if (service) args.push_back("-service");
        return StartWaitingClient(args);
    }
};

TEST_F(Qrv3ShutdownTest, InterruptAndTerminateTogetherShutDownOnce) {
    for (int round = 0; round < 3; ++round) {
        std::remove("QRVlog.txt");
        auto qrv3 = Start();
        qrv3->Signal(SIGINT);
        qrv3->Signal(SIGTERM);
        qrv3->Signal(SIGINT);
        EXPECT_EQ(qrv3->WaitExit(), 0) << "round " << round;
        const std::string console = qrv3->output();
        EXPECT_EQ(CountOf(console, "Quorvel Client Shutdown."), 1u) << console;
        EXPECT_EQ(CountOf(console, "***** Got a"), 1u) << console;
        const std::string log = ReadFileText("QRVlog.txt");
        EXPECT_EQ(CountOf(log, "\r\nQuorvel Client Shutdown.\r\n"), 1u);
        EXPECT_TRUE(qrvtest::EndsWith(log, "\r\n\r\nQuorvel Client Shutdown.\r\n"));
    }
}

TEST_F(Qrv3ShutdownTest, TerminateFromTheSystemIsAnnouncedAsActivate) {
    auto qrv3 = Start();
    qrv3->Signal(SIGTERM);
    EXPECT_EQ(qrv3->WaitExit(), 0);
    const std::string console = qrv3->output();
    EXPECT_NE(console.find("] ***** Got an Activate signal (15) from OS\n\nQuorvel Client "
                           "Shutdown.\n"),
              std::string::npos)
        << console;
    EXPECT_TRUE(qrvtest::EndsWith(console, "\n\nQuorvel Client Shutdown.\n")) << console;
}

TEST_F(Qrv3ShutdownTest, SignalsFromAnotherProcessThroughTheSemaphores) {
    for (int sig : {kSignalInterrupt, kSignalTerminate}) {
        auto qrv3 = Start();
        ASSERT_EQ(v3SignalSend(static_cast<uint64_t>(qrv3->pid()), sig), 0);
        EXPECT_EQ(qrv3->WaitExit(), 0);
        const std::string expected = sig == kSignalInterrupt
                                         ? "***** Got a SIGTERM signal (2) from OS\n"
                                         : "***** Got an Activate signal (15) from OS\n";
        EXPECT_NE(qrv3->output().find(expected), std::string::npos) << qrv3->output();
        EXPECT_EQ(CountOf(qrv3->output(), "Quorvel Client Shutdown."), 1u) << qrv3->output();
    }
}

TEST_F(Qrv3ShutdownTest, AnnouncementsNeedLevelSix) {
    auto qrv3 = Start("5");
    qrv3->Signal(SIGTERM);
    EXPECT_EQ(qrv3->WaitExit(), 0);
    EXPECT_EQ(qrv3->output().find("*****"), std::string::npos);
    EXPECT_EQ(CountOf(qrv3->output(), "\nQuorvel Client Shutdown.\n"), 1u);
}

TEST_F(Qrv3ShutdownTest, LogOffEndsTheClientUnlessItRunsAsAService) {
    auto plain = Start();
    plain->Signal(SIGHUP);
    EXPECT_EQ(plain->WaitExit(), 0);
    EXPECT_NE(plain->output().find("***** Got a SIGTERM signal (2) from OS\n"), std::string::npos)
        << plain->output();

    std::remove("QRVlog.txt");
    auto service = Start("6", true);
    service->Signal(SIGHUP);
    service->Signal(SIGHUP);
    // Still running a while later, with nothing said about ending.
    EXPECT_EQ(service->WaitExit(500), -1);
    EXPECT_TRUE(service->running());
    EXPECT_EQ(service->output().find("Shutdown"), std::string::npos);
    EXPECT_EQ(service->output().find("*****"), std::string::npos);
    service->Signal(SIGINT);
    EXPECT_EQ(service->WaitExit(), 0);
    EXPECT_EQ(CountOf(service->output(), "Quorvel Client Shutdown."), 1u);
}

}  // namespace
