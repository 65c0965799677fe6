#include "support/int128.h"

#include <bit>

// The arithmetic works on the two 64-bit halves, multiplying in 32-bit
// pieces: a 32-bit processor has no 128-bit type (GCC offers __int128 on
// 64-bit targets only), so the client must not depend on one.
namespace {

bool IsNegative(Int128 v) { return (v.high >> 63) != 0; }

bool IsZero(Int128 v) { return v.high == 0 && v.low == 0; }

Int128 Negate(Int128 v) { return v3Int128Add(v3Int128Not(v), Int128{0, 1}); }

// Two's-complement magnitude; the most negative value maps to 2^127, which
// is its true magnitude read unsigned.
Int128 Magnitude(Int128 v) { return IsNegative(v) ? Negate(v) : v; }

// The full 128-bit product of two 64-bit numbers, from four 32 x 32 -> 64
// products. The middle sum cannot overflow: it is at most 3 * (2^32 - 1).
Int128 MultiplyWide(uint64_t a, uint64_t b) {
    constexpr uint64_t kLow32 = 0xFFFFFFFFu;
    const uint64_t a0 = a & kLow32, a1 = a >> 32;
    const uint64_t b0 = b & kLow32, b1 = b >> 32;
    const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const uint64_t middle = (p00 >> 32) + (p01 & kLow32) + (p10 & kLow32);
    return Int128{p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & kLow32)};
}

}  // namespace

Int128 v3Int128FromU64(uint64_t v) { return Int128{0, v}; }

Int128 v3Int128FromI64(int64_t v) {
    return Int128{v < 0 ? ~uint64_t{0} : uint64_t{0}, static_cast<uint64_t>(v)};
}

Int128 v3Int128FromU32(uint32_t v) { return v3Int128FromU64(v); }

Int128 v3Int128FromI32(int32_t v) { return v3Int128FromI64(v); }

Int128 v3Int128Add(Int128 a, Int128 b) {
    const uint64_t low = a.low + b.low;
    return Int128{a.high + b.high + (low < a.low ? 1u : 0u), low};
}

Int128 v3Int128Sub(Int128 a, Int128 b) {
    return Int128{a.high - b.high - (a.low < b.low ? 1u : 0u), a.low - b.low};
}

Int128 v3Int128Mul(Int128 a, Int128 b) {
    Int128 product = MultiplyWide(a.low, b.low);
    // The high halves' products reach only the upper half of the result.
    product.high += a.low * b.high + a.high * b.low;
    return product;
}

// One shift-and-subtract long division gives both results, a bit at a time
// from the dividend's highest set bit.
void v3Int128UDivMod(Int128 dividend, Int128 divisor, Int128* quotient, Int128* remainder) {
    Int128 q{0, 0};
    Int128 r{0, 0};
    if (!IsZero(divisor) && !IsZero(dividend)) {
        int bit = 127;
        while (v3Int128Shr(dividend, static_cast<uint32_t>(bit)).low == 0) --bit;
        for (; bit >= 0; --bit) {
            // With the divisor's top bit set the shifted remainder may need a
            // 129th bit; it is then certainly not below the divisor, and the
            // wrapping subtraction still gives the right 128-bit remainder.
            const bool carry = IsNegative(r);
            r = v3Int128Shl(r, 1);
            r.low |= v3Int128Shr(dividend, static_cast<uint32_t>(bit)).low & 1u;
            if (carry || !v3Int128ULess(r, divisor)) {
                r = v3Int128Sub(r, divisor);
                q = v3Int128Add(q, v3Int128Shl(Int128{0, 1}, static_cast<uint32_t>(bit)));
            }
        }
    }
    if (quotient) *quotient = q;
    if (remainder) *remainder = r;
}

Int128 v3Int128UDiv(Int128 dividend, Int128 divisor) {
    Int128 q;
    v3Int128UDivMod(dividend, divisor, &q, nullptr);
    return q;
}

Int128 v3Int128UMod(Int128 dividend, Int128 divisor) {
    Int128 r;
    v3Int128UDivMod(dividend, divisor, nullptr, &r);
    return r;
}

void v3Int128SDivMod(Int128 dividend, Int128 divisor, Int128* quotient, Int128* remainder) {
    Int128 q;
    Int128 r;
    v3Int128UDivMod(Magnitude(dividend), Magnitude(divisor), &q, &r);
    if (IsNegative(dividend) != IsNegative(divisor)) q = Negate(q);
    if (IsNegative(dividend)) r = Negate(r);
    if (quotient) *quotient = q;
    if (remainder) *remainder = r;
}

Int128 v3Int128SDiv(Int128 dividend, Int128 divisor) {
    Int128 q;
    v3Int128SDivMod(dividend, divisor, &q, nullptr);
    return q;
}

Int128 v3Int128SMod(Int128 dividend, Int128 divisor) {
    Int128 r;
    v3Int128SDivMod(dividend, divisor, nullptr, &r);
    return r;
}

Int128 v3Int128Shl(Int128 v, uint32_t n) {
    if (n > 127) return Int128{0, 0};
    if (n >= 64) return Int128{v.low << (n - 64), 0};
    if (n == 0) return v;  // a 64-bit shift by 64 would be undefined below
    return Int128{(v.high << n) | (v.low >> (64 - n)), v.low << n};
}

Int128 v3Int128Shr(Int128 v, uint32_t n) {
    if (n > 127) return Int128{0, 0};
    if (n >= 64) return Int128{0, v.high >> (n - 64)};
    if (n == 0) return v;
    return Int128{v.high >> n, (v.low >> n) | (v.high << (64 - n))};
}

Int128 v3Int128And(Int128 a, Int128 b) { return Int128{a.high & b.high, a.low & b.low}; }

Int128 v3Int128Not(Int128 v) { return Int128{~v.high, ~v.low}; }

bool v3Int128Equal(Int128 a, Int128 b) { return a.high == b.high && a.low == b.low; }

bool v3Int128UGreater(Int128 a, Int128 b) {
    return a.high != b.high ? a.high > b.high : a.low > b.low;
}

bool v3Int128ULess(Int128 a, Int128 b) { return v3Int128UGreater(b, a); }

bool v3Int128SGreater(Int128 a, Int128 b) {
    if (a.high != b.high) return static_cast<int64_t>(a.high) > static_cast<int64_t>(b.high);
    return a.low > b.low;
}

bool v3Int128SLess(Int128 a, Int128 b) { return v3Int128SGreater(b, a); }

Int128 v3Int128PostIncrement(Int128* v) {
    if (!v) return Int128{0, 0};
    Int128 old = *v;
    *v = v3Int128Add(old, Int128{0, 1});
    return old;
}

int64_t v3Mod64(int64_t a, int64_t m) {
    if (m <= 0) return 0;
    int64_t r = a % m;
    return r < 0 ? r + m : r;
}

// An IEEE double's sign, exponent and top of the mantissa sit in the high
// word of its bit pattern; reading the pattern as one 64-bit integer finds
// that word on either byte order.
namespace {
constexpr uint64_t kExponentMask = 0x7FF0000000000000ULL;
constexpr uint64_t kMantissaMask = 0x000FFFFFFFFFFFFFULL;
}  // namespace

int v3IsNaN(double v) {
    uint64_t bits = std::bit_cast<uint64_t>(v);
    return (bits & kExponentMask) == kExponentMask && (bits & kMantissaMask) != 0 ? 1 : 0;
}

int v3IsInfinite(double v) {
    uint64_t bits = std::bit_cast<uint64_t>(v);
    if ((bits & kExponentMask) != kExponentMask || (bits & kMantissaMask) != 0) return 0;
    return (bits >> 63) ? -1 : 1;
}
