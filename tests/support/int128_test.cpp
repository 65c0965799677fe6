#include "support/int128.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

namespace {

Int128 Make(uint64_t high, uint64_t low) { return Int128{high, low}; }

bool Same(Int128 a, Int128 b) { return a.high == b.high && a.low == b.low; }

bool Negative(Int128 v) { return (v.high >> 63) != 0; }

Int128 Negate(Int128 v) { return v3Int128Sub(Int128{0, 0}, v); }

Int128 Abs(Int128 v) { return Negative(v) ? Negate(v) : v; }

// Operands of every width, so that carries, borrows and the long division's
// paths for small and large divisors all get exercised.
Int128 RandomValue(std::mt19937_64& rng) {
    uint64_t a = rng();
    uint64_t b = rng();
    switch (rng() % 5) {
        case 0: return Make(0, a & 0xFFFFFFFFu);
        case 1: return Make(0, a);
        case 2: return Make(a & 0xFFFFFFFFu, b);
        case 3: return Make(~uint64_t{0}, b);  // small negative
        default: return Make(a, b);
    }
}

}  // namespace

TEST(Int128, WideningAndCarries) {
    EXPECT_TRUE(Same(v3Int128FromU64(~uint64_t{0}), Make(0, ~uint64_t{0})));
    EXPECT_TRUE(Same(v3Int128FromI64(INT64_MIN), Make(~uint64_t{0}, 0x8000000000000000ULL)));
    EXPECT_TRUE(Same(v3Int128FromU32(0xFFFFFFFFu), Make(0, 0xFFFFFFFFu)));
    EXPECT_TRUE(Same(v3Int128FromI32(-2), Make(~uint64_t{0}, ~uint64_t{0} - 1)));
    EXPECT_TRUE(Same(v3Int128Add(Make(0, ~uint64_t{0}), Make(0, 1)), Make(1, 0)));
    EXPECT_TRUE(Same(v3Int128Sub(Make(0, 0), Make(0, 1)), Make(~uint64_t{0}, ~uint64_t{0})));
    EXPECT_TRUE(Same(v3Int128Add(Make(~uint64_t{0}, ~uint64_t{0}), Make(0, 2)), Make(0, 1)));
}

TEST(Int128, MultiplyKeepsLow128Bits) {
    // (2^64 - 1)^2 = 2^128 - 2^65 + 1
    Int128 m = Make(0, ~uint64_t{0});
    EXPECT_TRUE(Same(v3Int128Mul(m, m), Make(~uint64_t{0} - 1, 1)));
    // 2^64 * 2^64 overflows to 0.
    EXPECT_TRUE(Same(v3Int128Mul(Make(1, 0), Make(1, 0)), Make(0, 0)));
    // -3 * 5 = -15
    EXPECT_TRUE(Same(v3Int128Mul(v3Int128FromI64(-3), v3Int128FromI64(5)), v3Int128FromI64(-15)));
}

TEST(Int128, DivisionByZeroAndOfZeroGiveZeros) {
    Int128 q = Make(9, 9);
    Int128 r = Make(9, 9);
    v3Int128UDivMod(Make(5, 5), Make(0, 0), &q, &r);
    EXPECT_TRUE(Same(q, Make(0, 0)));
    EXPECT_TRUE(Same(r, Make(0, 0)));
    q = r = Make(9, 9);
    v3Int128SDivMod(v3Int128FromI64(-5), Make(0, 0), &q, &r);
    EXPECT_TRUE(Same(q, Make(0, 0)));
    EXPECT_TRUE(Same(r, Make(0, 0)));
    EXPECT_TRUE(Same(v3Int128UDiv(Make(0, 0), Make(0, 3)), Make(0, 0)));
    EXPECT_TRUE(Same(v3Int128UMod(Make(0, 0), Make(0, 3)), Make(0, 0)));
    // Null outputs are allowed.
    v3Int128UDivMod(Make(0, 10), Make(0, 3), nullptr, nullptr);
}

TEST(Int128, UnsignedDivisionCases) {
    EXPECT_TRUE(Same(v3Int128UDiv(Make(1, 0), Make(0, 2)), Make(0, 0x8000000000000000ULL)));
    EXPECT_TRUE(Same(v3Int128UMod(Make(1, 1), Make(0, 2)), Make(0, 1)));
    // A divisor larger than the dividend.
    EXPECT_TRUE(Same(v3Int128UDiv(Make(0, 5), Make(1, 0)), Make(0, 0)));
    EXPECT_TRUE(Same(v3Int128UMod(Make(0, 5), Make(1, 0)), Make(0, 5)));
    // Treated unsigned: -1 is the largest value.
    EXPECT_TRUE(Same(v3Int128UDiv(v3Int128FromI64(-1), Make(0, 1)), v3Int128FromI64(-1)));
    EXPECT_TRUE(Same(v3Int128UDiv(v3Int128FromI64(-1), Make(~uint64_t{0}, ~uint64_t{0})), Make(0, 1)));
}

TEST(Int128, SignedDivisionSigns) {
    struct Case {
        int64_t n, d, q, r;
    } cases[] = {{7, 2, 3, 1}, {-7, 2, -3, -1}, {7, -2, -3, 1}, {-7, -2, 3, -1}, {-6, 3, -2, 0}};
    for (const Case& c : cases) {
        Int128 q;
        Int128 r;
        v3Int128SDivMod(v3Int128FromI64(c.n), v3Int128FromI64(c.d), &q, &r);
        EXPECT_TRUE(Same(q, v3Int128FromI64(c.q))) << c.n << "/" << c.d;
        EXPECT_TRUE(Same(r, v3Int128FromI64(c.r))) << c.n << "%" << c.d;
    }
    // The most negative value has no positive counterpart; dividing it by 1
    // and by -1 must not trap.
    Int128 min = Make(0x8000000000000000ULL, 0);
    EXPECT_TRUE(Same(v3Int128SDiv(min, v3Int128FromI64(1)), min));
    EXPECT_TRUE(Same(v3Int128SDiv(min, v3Int128FromI64(-1)), min));
    EXPECT_TRUE(Same(v3Int128SDiv(min, v3Int128FromI64(2)), Make(0xC000000000000000ULL, 0)));
}

// Division must satisfy its defining identity for operands of every size.
TEST(Int128, DivisionIdentityHoldsForRandomOperands) {
    std::mt19937_64 rng(20021223);
    for (int i = 0; i < 20000; ++i) {
        Int128 n = RandomValue(rng);
        Int128 d = RandomValue(rng);
        if (Same(d, Make(0, 0))) continue;
        Int128 q;
        Int128 r;
        v3Int128UDivMod(n, d, &q, &r);
        ASSERT_TRUE(Same(v3Int128Add(v3Int128Mul(q, d), r), n));
        ASSERT_TRUE(v3Int128ULess(r, d));
        v3Int128SDivMod(n, d, &q, &r);
        ASSERT_TRUE(Same(v3Int128Add(v3Int128Mul(q, d), r), n));
        ASSERT_TRUE(v3Int128ULess(Abs(r), Abs(d)));
        ASSERT_TRUE(Same(r, Make(0, 0)) || Negative(r) == Negative(n));
    }
}

TEST(Int128, ShiftsMoveBitsBetweenHalves) {
    Int128 one = Make(0, 1);
    EXPECT_TRUE(Same(v3Int128Shl(one, 64), Make(1, 0)));
    EXPECT_TRUE(Same(v3Int128Shl(one, 127), Make(0x8000000000000000ULL, 0)));
    EXPECT_TRUE(Same(v3Int128Shl(one, 128), Make(0, 0)));
    EXPECT_TRUE(Same(v3Int128Shl(Make(0, 0x8000000000000001ULL), 1), Make(1, 2)));
    EXPECT_TRUE(Same(v3Int128Shl(one, 0), one));
    Int128 top = Make(0x8000000000000000ULL, 0);
    EXPECT_TRUE(Same(v3Int128Shr(top, 64), Make(0, 0x8000000000000000ULL)));
    EXPECT_TRUE(Same(v3Int128Shr(top, 127), one));  // logical: no sign fill
    EXPECT_TRUE(Same(v3Int128Shr(top, 200), Make(0, 0)));
    EXPECT_TRUE(Same(v3Int128Shr(Make(1, 0), 1), Make(0, 0x8000000000000000ULL)));
}

TEST(Int128, SignedAndUnsignedComparisonsDiffer) {
    Int128 minus = Make(~uint64_t{0}, 0);  // high half -1, low half 0
    Int128 plus = Make(0, ~uint64_t{0});   // high half 0, low half all ones
    EXPECT_TRUE(v3Int128SLess(minus, plus));
    EXPECT_FALSE(v3Int128SGreater(minus, plus));
    EXPECT_TRUE(v3Int128UGreater(minus, plus));
    EXPECT_FALSE(v3Int128ULess(minus, plus));
    // Equal high halves: the low halves compare unsigned, also when negative.
    EXPECT_TRUE(v3Int128SLess(v3Int128FromI64(-2), v3Int128FromI64(-1)));
    EXPECT_TRUE(v3Int128SGreater(Make(5, 0x8000000000000000ULL), Make(5, 1)));
    EXPECT_FALSE(v3Int128SLess(plus, plus));
    EXPECT_FALSE(v3Int128Equal(Make(1, 2), Make(2, 1)));
}

TEST(Int128, PostIncrementReturnsOldValueAndCarries) {
    Int128 v = Make(0, ~uint64_t{0});
    Int128 old = v3Int128PostIncrement(&v);
    EXPECT_TRUE(Same(old, Make(0, ~uint64_t{0})));
    EXPECT_TRUE(Same(v, Make(1, 0)));
    EXPECT_TRUE(Same(v3Int128PostIncrement(nullptr), Make(0, 0)));
}

TEST(Mod64, AlwaysNonNegative) {
    EXPECT_EQ(v3Mod64(-1, 7), 6);
    EXPECT_EQ(v3Mod64(-7, 7), 0);
    EXPECT_EQ(v3Mod64(-8, 7), 6);
    EXPECT_EQ(v3Mod64(13, 7), 6);
    EXPECT_EQ(v3Mod64(std::numeric_limits<int64_t>::min(), 7),
              (std::numeric_limits<int64_t>::min() % 7) + 7);
    // No valid range exists for these; they must not trap.
    EXPECT_EQ(v3Mod64(5, 0), 0);
    EXPECT_EQ(v3Mod64(std::numeric_limits<int64_t>::min(), -1), 0);
}

TEST(DoubleClass, NaNAndInfinity) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(v3IsNaN(nan), 1);
    EXPECT_EQ(v3IsNaN(-nan), 1);
    EXPECT_EQ(v3IsNaN(inf), 0);
    EXPECT_EQ(v3IsNaN(1.5), 0);
    EXPECT_EQ(v3IsInfinite(inf), 1);
    EXPECT_EQ(v3IsInfinite(-inf), -1);
    EXPECT_EQ(v3IsInfinite(nan), 0);
    EXPECT_EQ(v3IsInfinite(std::numeric_limits<double>::max()), 0);
    EXPECT_EQ(v3IsInfinite(-0.0), 0);
    // A NaN whose only mantissa bit is in the low word.
    EXPECT_EQ(v3IsNaN(std::bit_cast<double>(0x7FF0000000000001ULL)), 1);
}
