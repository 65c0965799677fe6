#include "support/format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/file.h"
#include "support/int128.h"
#include "common/temp_dir.h"

namespace {

std::string Fmt(const char* fmt, ...) {
    char buf[8192];
    va_list ap;
    va_start(ap, fmt);
    int n = v3VStringPrint(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return std::string(buf, static_cast<size_t>(n));
}

TEST(FormatTest, HexAndDecimalConversions) {
    EXPECT_EQ(Fmt("%016Y-SIGTERM", uint64_t{0x1A2C}), "0000000000001A2C-SIGTERM");
    EXPECT_EQ(Fmt("%016Y-SIGINT", uint64_t{0x1F}), "000000000000001F-SIGINT");
    EXPECT_EQ(Fmt("%Y", uint64_t{0}), "0");
    EXPECT_EQ(Fmt("%Y", uint64_t{0xFEDCBA9876543210}), "FEDCBA9876543210");
    EXPECT_EQ(Fmt("%X", 0xDEADBEEFu), "DEADBEEF");
    EXPECT_EQ(Fmt("%u.%u.%u.%u", 127u, 0u, 0u, 1u), "127.0.0.1");
    EXPECT_EQ(Fmt("%u", 4294967295u), "4294967295");
    EXPECT_EQ(Fmt("%i|%i", -2147483647 - 1, 42), "-2147483648|42");
    EXPECT_EQ(Fmt("%j", INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(Fmt("%v", UINT64_MAX), "18446744073709551615");
    EXPECT_EQ(Fmt("%c%c", 'o', 'k'), "ok");
    EXPECT_EQ(Fmt("100%%"), "100%");
}

TEST(FormatTest, Int128Extremes) {
    Int128 min{0x8000000000000000ull, 0};
    Int128 max{0x7FFFFFFFFFFFFFFFull, ~0ull};
    Int128 all{~0ull, ~0ull};
    Int128 minus_one{~0ull, ~0ull};
    EXPECT_EQ(Fmt("%k", min), "-170141183460469231731687303715884105728");
    EXPECT_EQ(Fmt("%k", max), "170141183460469231731687303715884105727");
    EXPECT_EQ(Fmt("%k", minus_one), "-1");
    EXPECT_EQ(Fmt("%w", all), "340282366920938463463374607431768211455");
    EXPECT_EQ(Fmt("%Z", all), "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
    EXPECT_EQ(Fmt("%Z", Int128{1, 0}), "10000000000000000");
    // An Int128 in the middle of the argument list must not shift the others.
    EXPECT_EQ(Fmt("%u %w %u", 7u, Int128{0, 12345}, 9u), "7 12345 9");
}

TEST(FormatTest, WidthFlagsAndPrecision) {
    EXPECT_EQ(Fmt("[%5u]", 42u), "[   42]");
    EXPECT_EQ(Fmt("[%-5u]", 42u), "[42   ]");
    EXPECT_EQ(Fmt("[%05i]", -42), "[-0042]");
    EXPECT_EQ(Fmt("[%-05i]", -42), "[-42  ]");
    EXPECT_EQ(Fmt("[%*u]", 4, 7u), "[   7]");
    EXPECT_EQ(Fmt("[%*u]", -4, 7u), "[7   ]");
    EXPECT_EQ(Fmt("[%2u]", 12345u), "[12345]");
    EXPECT_EQ(Fmt("[%.5s]", "abcdefgh"), "[abcde]");
    EXPECT_EQ(Fmt("[%6.2s]", "abc"), "[    ab]");
    EXPECT_EQ(Fmt("[%-6s]", "abc"), "[abc   ]");
    EXPECT_EQ(Fmt("[%.*s]\n", 4, "machine"), "[mach]\n");
    EXPECT_EQ(Fmt("%s", static_cast<const char*>(nullptr)), "(null)");
}

TEST(FormatTest, PrecisionTextNeedNotBeTerminated) {
    // A key and a value that are slices of one line, as a config writer has.
    const char line[] = {'u', 's', 'e', 'r', 'X', 'v', 'a', 'l'};
    EXPECT_EQ(Fmt("%.*s=%.*s\n", 4, line, 3, line + 5), "user=val\n");
}

TEST(FormatTest, BytesConversionWritesZeroBytes) {
    const char bytes[] = {'a', '\0', 'b', '\0', 'c', 'Z'};
    std::string out = Fmt("<%.5b>", bytes);
    EXPECT_EQ(out, std::string("<a\0b\0c>", 7));
    EXPECT_EQ(Fmt("<%b>", bytes), "<>");
}

TEST(FormatTest, DoubleAndPointer) {
    EXPECT_EQ(Fmt("%f", 1.5), "1.500000");
    EXPECT_EQ(Fmt("%.2F", -3.14159), "-3.14");
    EXPECT_EQ(Fmt("%08.1f", -2.25), "-00002.2");
    EXPECT_EQ(Fmt("%p", reinterpret_cast<void*>(uintptr_t{0xAB})), "0x00000000000000AB");
    EXPECT_EQ(Fmt("%.3f", 1e300).size(), 301u + 4u);
}

TEST(FormatTest, MalformedSpecificationsAreWrittenLiterally) {
    EXPECT_EQ(Fmt("50%"), "50%");
    EXPECT_EQ(Fmt("a%-05"), "a%-05");
    EXPECT_EQ(Fmt("%d|%x|%u", 5u), "%d|%x|5");
    EXPECT_EQ(Fmt("%lu", 5u), "%lu");
}

TEST(FormatTest, HugeWidthAndPrecisionAreCapped) {
    EXPECT_EQ(Fmt("%99999999999999999999u", 1u).size(), size_t(kV3FormatMaxField));
    EXPECT_EQ(Fmt("%*u", 2147483647, 1u).size(), size_t(kV3FormatMaxField));
    EXPECT_EQ(Fmt("%*u", -2147483647 - 1, 1u).size(), size_t(kV3FormatMaxField));
    EXPECT_EQ(Fmt("%.*s", -1, "abc"), "abc");
}

TEST(FormatTest, StringPrintCutsAndTerminates) {
    char buf[5];
    std::memset(buf, 'Q', sizeof buf);
    EXPECT_EQ(v3StringPrint(buf, sizeof buf, "%u", 123456u), 4);
    EXPECT_STREQ(buf, "1234");

    char one[1] = {'Q'};
    EXPECT_EQ(v3StringPrint(one, 1, "%s", "abc"), 0);
    EXPECT_EQ(one[0], '\0');

    EXPECT_EQ(v3StringPrint(nullptr, 10, "%u", 1u), 0);
    EXPECT_EQ(v3StringPrint(buf, 0, "%u", 1u), 0);
    EXPECT_EQ(buf[0], '1');  // size 0: nothing at all is written
    EXPECT_EQ(v3StringPrint(buf, sizeof buf, nullptr), 0);
    EXPECT_STREQ(buf, "");
}

// Random flags, widths, precisions and buffer sizes: whatever the engine is
// given, it must stay inside the buffer and always terminate it. Each round
// uses one conversion twice so the arguments can match it.
int PrintOne(char* buf, uint64_t size, const std::string& fmt, char conv, std::mt19937& rng) {
    static const char text[] = "some text of moderate length, forty-odd chars";
    const char* f = fmt.c_str();
    switch (conv) {
    case 'c': case 'i': case 'u': case 'X': {
        int v = static_cast<int>(rng());
        return v3StringPrint(buf, size, f, v, v);
    }
    case 'j': case 'v': case 'Y': {
        uint64_t v = (uint64_t{rng()} << 32) | rng();
        return v3StringPrint(buf, size, f, v, v);
    }
    case 'k': case 'w': case 'Z': {
        Int128 v{(uint64_t{rng()} << 32) | rng(), rng()};
        return v3StringPrint(buf, size, f, v, v);
    }
    case 'f': case 'F': {
        double v = (static_cast<double>(rng()) - 2e9) * 1e20;
        return v3StringPrint(buf, size, f, v, v);
    }
    default:  // s b p, and characters that are no conversion
        return v3StringPrint(buf, size, f, text, text);
    }
}

TEST(FormatTest, RandomFormatsNeverWritePastTheBuffer) {
    std::mt19937 rng(12345);
    const char* convs = "csbijkuvwXYZfFp%qd";
    for (int round = 0; round < 5000; ++round) {
        char conv = convs[rng() % std::strlen(convs)];
        std::string fmt;
        for (int i = 0; i < 2; ++i) {
            fmt += "ab%";
            if (rng() % 3 == 0) fmt += '-';
            if (rng() % 3 == 0) fmt += '0';
            if (rng() % 2 == 0) fmt += std::to_string(rng() % 300);
            // %b reads exactly its precision: keep it within the text.
            uint32_t max_prec = conv == 'b' ? 40 : 300;
            if (rng() % 2 == 0 || conv == 'b') fmt += "." + std::to_string(rng() % max_prec);
            fmt += conv;
        }
        if (rng() % 5 == 0) fmt += '%';
        uint64_t size = rng() % 64;
        std::vector<char> mem(size + 32, '\x7E');
        int n = PrintOne(mem.data(), size, fmt, conv, rng);
        for (size_t g = size; g < mem.size(); ++g) {
            ASSERT_EQ(mem[g], '\x7E') << "wrote past the buffer with " << fmt << " size " << size;
        }
        if (size > 0) {
            ASSERT_GE(n, 0);
            ASSERT_LT(static_cast<uint64_t>(n), size);
            ASSERT_EQ(mem[static_cast<size_t>(n)], '\0') << fmt;
        } else {
            ASSERT_EQ(n, 0);
        }
    }
}

TEST(FormatTest, PrintWritesToStdoutAndCounts) {
    testing::internal::CaptureStdout();
    int n = v3Print("%s=%u\n", "port", 8080u);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "port=8080\n");
    EXPECT_EQ(n, 10);
    EXPECT_EQ(v3Print(nullptr), 0);
}

class FilePrintTest : public qrvtest::TempDirTest {};

TEST_F(FilePrintTest, WritesAtThePositionAcrossChunks) {
    ScopedFile f;
    ASSERT_EQ(v3FileOpen(f.get(), "out.cfg", kFileModeWrite | kFileModeCreate), 0);
    EXPECT_EQ(v3FilePrint(f.get(), "[%.*s]\n", 6, "client-x"), 9);
    // Wider than the output step's block, so it is written in pieces.
    EXPECT_EQ(v3FilePrint(f.get(), "%s=%1500u\n", "k", 7u), 1503);
    ASSERT_EQ(v3FileClose(f.get()), 0);
    std::string text = qrvtest::ReadFileText("out.cfg");
    EXPECT_EQ(text, "[client]\nk=" + std::string(1499, ' ') + "7\n");
}

TEST_F(FilePrintTest, ReportsAFileThatRefusesWrites) {
    qrvtest::WriteFileText("ro.txt", "x");
    ScopedFile f;
    ASSERT_EQ(v3FileOpen(f.get(), "ro.txt", kFileModeRead), 0);
    EXPECT_EQ(v3FilePrint(f.get(), "%u", 5u), -1);
    v3File closed{};
    EXPECT_EQ(v3FilePrint(&closed, "%u", 5u), -1);
    EXPECT_EQ(v3FilePrint(nullptr, "%u", 5u), -1);
}

}  // namespace
