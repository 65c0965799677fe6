#include "log/log_line.h"

#include <gtest/gtest.h>

#include <string>

#include "log/log.h"

namespace {

std::string Compose(const std::string& text) {
    char out[kLogWriteMax + 8];
    memset(out, '#', sizeof out);
    const size_t n = ComposeLogBytes(text.data(), text.size(), out);
    EXPECT_LE(n, kLogWriteMax);
    EXPECT_EQ(out[kLogWriteMax], '#') << "wrote past the 256-byte buffer";
    return std::string(out, n);
}

// No lone carriage return and no lone line feed anywhere in the bytes.
void ExpectWholeLineEnds(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            ASSERT_LT(i + 1, bytes.size()) << "carriage return split from its line feed";
            EXPECT_EQ(bytes[i + 1], '\n') << "at " << i;
        }
        if (bytes[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(bytes[i - 1], '\r') << "bare line feed at " << i;
        }
    }
}

TEST(ComposeLogBytes, LineFeedsBecomeCarriageReturnLineFeed) {
    EXPECT_EQ(Compose("one\ntwo\n"), "one\r\ntwo\r\n");
    EXPECT_EQ(Compose("\n\n--- x \n\n"), "\r\n\r\n--- x \r\n\r\n");
    // A text that already carries its carriage returns is not doubled.
    EXPECT_EQ(Compose("core line\r\n"), "core line\r\n");
    // A carriage return without a line feed is plain text.
    EXPECT_EQ(Compose("50%\rdone"), "50%\rdone");
}

TEST(ComposeLogBytes, CutsAt256CharactersOfText) {
    const std::string text(300, 'a');
    EXPECT_EQ(Compose(text), std::string(256, 'a'));
    EXPECT_EQ(Compose(std::string(256, 'b')), std::string(256, 'b'));
}

TEST(ComposeLogBytes, ExpansionNeverSplitsALineEnd) {
    // 255 characters then a line feed: the pair needs 257 bytes.
    std::string text(255, 'x');
    text += '\n';
    std::string bytes = Compose(text);
    ExpectWholeLineEnds(bytes);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << "the line end of a cut line was lost";
    EXPECT_EQ(bytes.size(), 256u);

    // Many short lines: every line end in the bytes is whole, whatever the cut.
    for (size_t offset = 0; offset < 4; ++offset) {
        std::string lines(offset, 'p');
        while (lines.size() < 400) lines += "ab\n";
        bytes = Compose(lines);
        ExpectWholeLineEnds(bytes);
        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << "offset " << offset;
    }
}

TEST(ComposeLogBytes, CarriageReturnAtTheCutIsNotLeftAlone) {
    // The text's own CR LF straddles the 256-character limit.
    std::string text(255, 'y');
    text += "\r\nmore";
    const std::string bytes = Compose(text);
    ExpectWholeLineEnds(bytes);
    EXPECT_EQ(bytes, std::string(255, 'y'));
}

TEST(ComposeLogBytes, UncutTextWithoutLineEndGainsNone) {
    EXPECT_EQ(Compose("Initial: 00FF "), "Initial: 00FF ");
    EXPECT_EQ(Compose(std::string(300, 'q')).back(), 'q');
}

TEST(CutLogMessage, KeepsTheLineEndOfALongMessage) {
    char message[kLogMessageMax + 1];
    memset(message, 'm', sizeof message);
    message[kLogMessageMax] = '\0';
    EXPECT_EQ(CutLogMessage(message, 400, true), kLogMessageMax);
    EXPECT_EQ(message[kLogMessageMax - 1], '\n');
    EXPECT_EQ(message[kLogMessageMax - 2], 'm');

    memset(message, 'm', sizeof message);
    EXPECT_EQ(CutLogMessage(message, 400, false), kLogMessageMax);
    EXPECT_EQ(message[kLogMessageMax - 1], 'm');
    EXPECT_EQ(message[kLogMessageMax], '\0');

    char short_message[] = "fits\n";
    EXPECT_EQ(CutLogMessage(short_message, 5, true), 5u);
    EXPECT_STREQ(short_message, "fits\n");
}

}  // namespace
