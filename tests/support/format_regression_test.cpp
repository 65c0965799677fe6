// Cases found by fuzzing the formatting engine against the C library.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "support/format.h"

namespace {

std::string Fmt(const char* fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    const int n = v3VStringPrint(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return std::string(buf, static_cast<size_t>(n));
}

// The "0" flag once put zeros in front of "inf" and "nan" ("00inf"), which
// reads as a broken number; like the C library, the engine pads the words
// with blanks, in front of the sign.
TEST(FormatRegressionTest, ZeroFlagPadsInfinityAndNaNWithBlanks) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(Fmt("[%05f]", inf), "[  inf]");
    EXPECT_EQ(Fmt("[%06f]", -inf), "[  -inf]");
    EXPECT_EQ(Fmt("[%08F]", nan), "[     NAN]");
    EXPECT_EQ(Fmt("[%-06f]", inf), "[inf   ]");
    // Finite values keep their zeros after the sign.
    EXPECT_EQ(Fmt("[%09.2f]", -1.5), "[-00001.50]");
    char libc[64];
    std::snprintf(libc, sizeof libc, "[%06f]", -inf);
    EXPECT_EQ(Fmt("[%06f]", -inf), libc);
}

// Zero padding of a pointer once went in front of its "0x" ("000x00..."),
// so the text was no longer a hexadecimal number.
TEST(FormatRegressionTest, ZeroPaddedPointerKeepsItsPrefixFirst) {
    const void* p = reinterpret_cast<const void*>(uintptr_t{0x1234});
    EXPECT_EQ(Fmt("%020p", p), "0x000000000000001234");
    EXPECT_EQ(Fmt("%20p", p), "  0x0000000000001234");
    EXPECT_EQ(Fmt("%-20p|", p), "0x0000000000001234  |");
    EXPECT_EQ(Fmt("%p", p), "0x0000000000001234");
}

}  // namespace
