// End-to-end: every way of ending a running qrv3 goes through the shutdown
// handler once and ends with code 0.
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "client/qrv3_process.h"
#include "client/qrv3_test_support.h"
#include "support/signals.h"

namespace {

using qrvtest::ChildProcess;
using qrvtest::CountOf;
using qrvtest::ReadFileText;

class Qrv3ShutdownTest : public qrvtest::Qrv3Test {
protected:
    // -queueinfo skips the benchmark, so a client is up at once.
    std::vector<std::string> Args(bool service = false) const {
        std::vector<std::string> args = {"-queueinfo", "-verbosity", "6"};
        if (service) args.push_back("-service");
        return args;
    }
};

TEST_F(Qrv3ShutdownTest, InterruptAndTerminateTogetherShutDownOnce) {
    for (int round = 0; round < 3; ++round) {
        std::remove("QRVlog.txt");
        ChildProcess qrv3(qrvtest::BinPath("qrv3"), Args(), Env());
        WaitForClientThread(qrv3);
        qrv3.Signal(SIGINT);
        qrv3.Signal(SIGTERM);
        qrv3.Signal(SIGINT);
        EXPECT_EQ(qrv3.WaitExit(), 0) << "round " << round;
        const std::string console = qrv3.output();
        EXPECT_EQ(CountOf(console, "Quorvel Client Shutdown."), 1u) << console;
        EXPECT_EQ(CountOf(console, "***** Got a"), 1u) << console;
        const std::string log = ReadFileText("QRVlog.txt");
        EXPECT_EQ(CountOf(log, "\r\nQuorvel Client Shutdown.\r\n"), 1u);
        EXPECT_TRUE(qrvtest::EndsWith(log, "\r\n\r\nQuorvel Client Shutdown.\r\n"));
    }
}

TEST_F(Qrv3ShutdownTest, TerminateFromTheSystemIsAnnouncedAsActivate) {
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), Args(), Env());
    WaitForClientThread(qrv3);
    qrv3.Signal(SIGTERM);
    EXPECT_EQ(qrv3.WaitExit(), 0);
    EXPECT_NE(qrv3.output().find("] ***** Got an Activate signal (15) from OS\n\nQuorvel Client "
                                 "Shutdown.\n"),
              std::string::npos);
}

TEST_F(Qrv3ShutdownTest, SignalsFromAnotherProcessThroughTheSemaphores) {
    for (int sig : {kSignalInterrupt, kSignalTerminate}) {
        ChildProcess qrv3(qrvtest::BinPath("qrv3"), Args(), Env());
        WaitForClientThread(qrv3);
        ASSERT_EQ(v3SignalSend(static_cast<uint64_t>(qrv3.pid()), sig), 0);
        EXPECT_EQ(qrv3.WaitExit(), 0);
        const std::string expected = sig == kSignalInterrupt
                                         ? "***** Got a SIGTERM signal (2) from OS\n"
                                         : "***** Got an Activate signal (15) from OS\n";
        EXPECT_NE(qrv3.output().find(expected), std::string::npos) << qrv3.output();
    }
}

TEST_F(Qrv3ShutdownTest, AnnouncementsNeedLevelSix) {
    ChildProcess qrv3(qrvtest::BinPath("qrv3"), {"-queueinfo", "-verbosity", "5"}, Env());
    WaitForClientThread(qrv3);
    qrv3.Signal(SIGTERM);
    EXPECT_EQ(qrv3.WaitExit(), 0);
    EXPECT_EQ(qrv3.output().find("*****"), std::string::npos);
    EXPECT_EQ(CountOf(qrv3.output(), "\nQuorvel Client Shutdown.\n"), 1u);
}

TEST_F(Qrv3ShutdownTest, LogOffEndsTheClientUnlessItRunsAsAService) {
    ChildProcess plain(qrvtest::BinPath("qrv3"), Args(), Env());
    WaitForClientThread(plain);
    plain.Signal(SIGHUP);
    EXPECT_EQ(plain.WaitExit(), 0);
    EXPECT_NE(plain.output().find("***** Got a SIGTERM signal (2) from OS\n"), std::string::npos);

    std::remove("QRVlog.txt");
    ChildProcess service(qrvtest::BinPath("qrv3"), Args(true), Env());
    WaitForClientThread(service);
    service.Signal(SIGHUP);
    service.Signal(SIGHUP);
    // Still running a while later, with nothing said.
    EXPECT_EQ(service.WaitExit(500), -1);
    EXPECT_TRUE(service.running());
    EXPECT_EQ(service.output().find("Shutdown"), std::string::npos);
    service.Signal(SIGINT);
    EXPECT_EQ(service.WaitExit(), 0);
    EXPECT_EQ(CountOf(service.output(), "Quorvel Client Shutdown."), 1u);
}

}  // namespace
