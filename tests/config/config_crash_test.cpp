// Killing a process in the middle of its saves never leaves a damaged
// client.cfg: the old file or the new one, always whole.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "client/qrv3_process.h"
#include "common/temp_dir.h"

namespace {

using qrvtest::ChildProcess;

// What config_saver writes for counter n.
std::string Expected(unsigned n) {
    std::string text = "[filler]\n";
    for (int i = 0; i < 40; ++i) text += "line" + std::to_string(i) + "=" + std::string(60, 'f') + "\n";
    text += "\n[settings]\ncounter=" + std::to_string(n) + "\n\n";
    return text;
}

unsigned CounterIn(const std::string& text) {
    const size_t at = text.find("counter=");
    return at == std::string::npos ? 0 : static_cast<unsigned>(std::stoul(text.substr(at + 8)));
}

using ConfigCrashTest = qrvtest::TempDirTest;

TEST_F(ConfigCrashTest, KilledSavesLeaveAWholeFile) {
    const std::string path = dir() + "/client.cfg";
    unsigned last = 0;
    for (int round = 0; round < 12; ++round) {
        ChildProcess saver(qrvtest::BinPath("config_saver"), {path});
        ASSERT_TRUE(saver.started());
        // Saves follow each other without pause, so after a few of them the
        // process is almost always inside the next one when it is killed.
        const unsigned wanted = 3 + static_cast<unsigned>(round % 4);
        ASSERT_TRUE(saver.WaitUntil([&] {
            size_t n = 0;
            for (size_t at = saver.output().find("saved "); at != std::string::npos;
                 at = saver.output().find("saved ", at + 1)) {
                ++n;
            }
            return n >= wanted || saver.output().find("damaged") != std::string::npos;
        })) << saver.output();
        saver.Signal(SIGKILL);
        ASSERT_EQ(saver.WaitExit(), 128 + SIGKILL) << saver.output();
        ASSERT_EQ(saver.output().find("damaged"), std::string::npos);

        const std::string text = qrvtest::ReadFileText(path);
        const unsigned counter = CounterIn(text);
        ASSERT_EQ(text, Expected(counter)) << "round " << round;
        // Nothing saved and confirmed is ever lost.
        EXPECT_GE(counter, last + wanted);
        last = counter;
    }
}

}  // namespace
