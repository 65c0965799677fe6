#include "support/int128.h"

#include <bit>

// The compiler's 128-bit type does the arithmetic; the two-halves record
// stays the interface because its layout is what queue.dat stores.
namespace {

using U128 = unsigned __int128;

U128 ToU(Int128 v) { return (static_cast<U128>(v.high) << 64) | v.low; }

Int128 FromU(U128 v) {
    return Int128{static_cast<uint64_t>(v >> 64), static_cast<uint64_t>(v)};
}

bool IsNegative(Int128 v) { return (v.high >> 63) != 0; }

// Two's-complement magnitude; the most negative value maps to 2^127, which
// is its true magnitude read unsigned.
U128 Magnitude(Int128 v) { return IsNegative(v) ? U128{0} - ToU(v) : ToU(v); }

}  // namespace

Int128 v3Int128FromU64(uint64_t v) { return Int128{0, v}; }

Int128 v3Int128FromI64(int64_t v) {
    return Int128{v < 0 ? ~uint64_t{0} : uint64_t{0}, static_cast<uint64_t>(v)};
}

Int128 v3Int128FromU32(uint32_t v) { return v3Int128FromU64(v); }

Int128 v3Int128FromI32(int32_t v) { return v3Int128FromI64(v); }

Int128 v3Int128Add(Int128 a, Int128 b) { return FromU(ToU(a) + ToU(b)); }

Int128 v3Int128Sub(Int128 a, Int128 b) { return FromU(ToU(a) - ToU(b)); }

Int128 v3Int128Mul(Int128 a, Int128 b) { return FromU(ToU(a) * ToU(b)); }

void v3Int128UDivMod(Int128 dividend, Int128 divisor, Int128* quotient, Int128* remainder) {
    U128 n = ToU(dividend);
    U128 d = ToU(divisor);
    U128 q = 0;
    U128 r = 0;
    if (d != 0 && n != 0) {
        q = n / d;
        r = n % d;
    }
    if (quotient) *quotient = FromU(q);
    if (remainder) *remainder = FromU(r);
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
    U128 n = Magnitude(dividend);
    U128 d = Magnitude(divisor);
    U128 q = 0;
    U128 r = 0;
    if (d != 0 && n != 0) {
        q = n / d;
        r = n % d;
    }
    if (IsNegative(dividend) != IsNegative(divisor)) q = U128{0} - q;
    if (IsNegative(dividend)) r = U128{0} - r;
    if (quotient) *quotient = FromU(q);
    if (remainder) *remainder = FromU(r);
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

Int128 v3Int128Shl(Int128 v, uint32_t n) { return n > 127 ? Int128{0, 0} : FromU(ToU(v) << n); }

Int128 v3Int128Shr(Int128 v, uint32_t n) { return n > 127 ? Int128{0, 0} : FromU(ToU(v) >> n); }

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
