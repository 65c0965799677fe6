#include "support/number_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/int128.h"

namespace {

TEST(NumberReaderTest, BasesAndPrefixes) {
    uint32_t u = 0;
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "1F", 16, 1), 0);
    EXPECT_EQ(u, 31u);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "  8080\n", 10, 1), 0);
    EXPECT_EQ(u, 8080u);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "0x1f", 0, 1), 0);
    EXPECT_EQ(u, 31u);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "017", 0, 1), 0);
    EXPECT_EQ(u, 15u);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "0", 0, 1), 0);
    EXPECT_EQ(u, 0u);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "19", 0, 1), 0);
    EXPECT_EQ(u, 19u);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "zz", 36, 1), 0);
    EXPECT_EQ(u, 35u * 36u + 35u);
    // Reading stops at the first character that is no digit of the base.
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "778", 8, 1), 0);
    EXPECT_EQ(u, 63u);
}

TEST(NumberReaderTest, RefusalsStoreNothing) {
    uint32_t u = 1234;
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "-1", 10, 1), -1);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "", 10, 1), -1);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "abc", 10, 1), -1);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "0x", 0, 1), -1);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "5", 1, 1), -1);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, "5", 37, 1), -1);
    EXPECT_EQ(v3ReadNumber(&u, 3, 0, "5", 10, 1), -1);
    EXPECT_EQ(v3ReadNumber(nullptr, 4, 0, "5", 10, 1), -1);
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, nullptr, 10, 1), -1);
    EXPECT_EQ(u, 1234u);
}

TEST(NumberReaderTest, RangeOfEachSize) {
    uint32_t u32 = 0;
    EXPECT_EQ(v3ReadNumber(&u32, 4, 0, "4294967295", 10, 1), 0);
    EXPECT_EQ(u32, 4294967295u);
    EXPECT_EQ(v3ReadNumber(&u32, 4, 0, "4294967296", 10, 1), -1);
    EXPECT_EQ(v3ReadNumber(&u32, 4, 0, "99999999999999999999999999999999999999999", 10, 1), -1);

    int32_t i32 = 0;
    EXPECT_EQ(v3ReadNumber(&i32, 4, 1, "-2147483648", 10, 1), 0);
    EXPECT_EQ(i32, INT32_MIN);
    EXPECT_EQ(v3ReadNumber(&i32, 4, 1, "2147483648", 10, 1), -1);
    EXPECT_EQ(v3ReadNumber(&i32, 4, 1, "-2147483649", 10, 1), -1);
    EXPECT_EQ(v3ReadNumber(&i32, 4, 1, "-0x10", 0, 1), 0);
    EXPECT_EQ(i32, -16);

    uint64_t u64 = 0;
    EXPECT_EQ(v3ReadNumber(&u64, 8, 0, "18446744073709551615", 10, 1), 0);
    EXPECT_EQ(u64, UINT64_MAX);
    EXPECT_EQ(v3ReadNumber(&u64, 8, 0, "18446744073709551616", 10, 1), -1);
    EXPECT_EQ(v3ReadNumber(&u64, 8, 0, "0123456789ABCDEF", 16, 1), 0);
    EXPECT_EQ(u64, 0x0123456789ABCDEFull);

    int64_t i64 = 0;
    EXPECT_EQ(v3ReadNumber(&i64, 8, 1, "-9223372036854775808", 10, 1), 0);
    EXPECT_EQ(i64, INT64_MIN);
    EXPECT_EQ(v3ReadNumber(&i64, 8, 1, "9223372036854775808", 10, 1), -1);
}

TEST(NumberReaderTest, SixteenByteValues) {
    Int128 v{};
    EXPECT_EQ(v3ReadNumber(&v, 16, 0, "340282366920938463463374607431768211455", 10, 1), 0);
    EXPECT_EQ(v.high, UINT64_MAX);
    EXPECT_EQ(v.low, UINT64_MAX);
    EXPECT_EQ(v3ReadNumber(&v, 16, 0, "340282366920938463463374607431768211456", 10, 1), -1);
    EXPECT_EQ(v3ReadNumber(&v, 16, 0, "10000000000000001", 16, 1), 0);
    EXPECT_EQ(v.high, 1u);
    EXPECT_EQ(v.low, 1u);
    EXPECT_EQ(v3ReadNumber(&v, 16, 1, "-170141183460469231731687303715884105728", 10, 1), 0);
    EXPECT_EQ(v.high, 0x8000000000000000ull);
    EXPECT_EQ(v.low, 0u);
    EXPECT_EQ(v3ReadNumber(&v, 16, 1, "170141183460469231731687303715884105728", 10, 1), -1);
    EXPECT_EQ(v3ReadNumber(&v, 16, 1, "-1", 10, 1), 0);
    EXPECT_EQ(v.high, UINT64_MAX);
    EXPECT_EQ(v.low, UINT64_MAX);
}

TEST(NumberReaderTest, SixteenBitText) {
    // " 42" followed by a unit outside 8 bits, then the terminator.
    const char16_t text[] = {u' ', u'4', u'2', u'\u0660', 0};
    char bytes[sizeof text + 1];
    std::memcpy(bytes + 1, text, sizeof text);  // deliberately unaligned
    uint32_t u = 0;
    EXPECT_EQ(v3ReadNumber(&u, 4, 0, bytes + 1, 10, 0), 0);
    EXPECT_EQ(u, 42u);
}

}  // namespace
