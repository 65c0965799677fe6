#include "log/banner.h"

#include <unistd.h>

#include <fcntl.h>

#include <sstream>
#include <string>
#include <vector>

#include "build_options.h"
#include "log/log_test_support.h"

namespace {

using qrvtest::kOpeningLine;
using qrvtest::ReadFileText;

std::vector<std::string> SplitLines(const std::string& text, const std::string& end) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at = text.find(end); at != std::string::npos; at = text.find(end, start)) {
        lines.push_back(text.substr(start, at - start));
        start = at + end.size();
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

class BannerTest : public qrvtest::LogTest {
protected:
    std::vector<std::string> BannerLines(uint32_t edition) {
        OpenLog(nullptr);
        SetLogVerbosity(1);  // the banner does not depend on the level
        PrintBanner(edition);
        CloseLog();
        const std::string log = ReadFileText("QRVlog.txt");
        EXPECT_EQ(log.rfind(kOpeningLine, 0), 0u);
        return SplitLines(log.substr(strlen(kOpeningLine)), "\r\n");
    }
};

TEST_F(BannerTest, ConsoleEditionBanner) {
    const std::string rule(kBannerWidth, '#');
    const std::vector<std::string> expected = {
        "",
        "# Windows Console Edition " + std::string(53, '#'),
        rule,
        "",
        "                       Quorvel Client Version 3.24",
        "",
        std::string(23, ' ') + QRV_WEB_ADDRESS,
        std::string(21, ' ') + "email:" + QRV_HELP_ADDRESS,
        "",
        rule,
        rule,
        "",
    };
    const std::vector<std::string> lines = BannerLines(2);
    EXPECT_EQ(lines, expected);
    ASSERT_GT(lines.size(), 1u);
    EXPECT_EQ(lines[1].size(), static_cast<size_t>(kBannerWidth));
}

TEST_F(BannerTest, EveryEditionKeepsTheFrameWidth) {
    for (uint32_t edition = 0; edition <= 9; ++edition) {
        const std::string label = EditionLabel(edition);
        std::string frame(kBannerWidth, '#');
        frame.replace(1, label.size(), label);
        ASSERT_EQ(frame.size(), static_cast<size_t>(kBannerWidth));
        if (edition >= 1 && edition <= 8) {
            ASSERT_GE(label.size(), 3u) << edition;
            EXPECT_EQ(label.front(), ' ');
            EXPECT_EQ(label.back(), ' ');
            EXPECT_NE(label[1], ' ');
        } else {
            EXPECT_EQ(label, "") << edition;
        }
        const std::vector<std::string> lines = BannerLines(edition);
        ASSERT_GT(lines.size(), 1u);
        EXPECT_EQ(lines[1], frame) << "edition " << edition;
        unlink("QRVlog.txt");
    }
}

TEST(LicenceText, FivePiecesOfShortLines) {
    std::string whole;
    for (int i = 0; i < kLicencePieces; ++i) {
        const std::string piece = LicencePiece(i);
        EXPECT_FALSE(piece.empty()) << "piece " << i;
        whole += piece;
    }
    EXPECT_EQ(std::string(LicencePiece(kLicencePieces)), "");
    EXPECT_GE(whole.size(), 1500u);
    EXPECT_LE(whole.size(), 1700u);
    std::istringstream in(whole);
    std::string line;
    while (std::getline(in, line)) {
        EXPECT_LE(line.size(), 70u) << line;
        EXPECT_EQ(line.find('\t'), std::string::npos) << line;
    }
    EXPECT_EQ(whole.back(), '\n');
}

TEST(LicenceText, PrintedOnTheConsoleOnly) {
    fflush(stdout);
    char name[] = "/tmp/licence.XXXXXX";
    const int capture = mkstemp(name);
    ASSERT_GE(capture, 0);
    const int saved = dup(1);
    dup2(capture, 1);
    PrintLicence();
    dup2(saved, 1);
    close(saved);
    close(capture);
    std::string expected;
    for (int i = 0; i < kLicencePieces; ++i) expected += LicencePiece(i);
    EXPECT_EQ(ReadFileText(name), expected);
    unlink(name);
}

}  // namespace
