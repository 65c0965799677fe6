// Int128: the 128-bit two's-complement integer that carries Time values and
// the formatting engine's 128-bit conversions. Held as two 64-bit halves, the
// high half first, because stored Time values in queue.dat are laid out that
// way (each half little-endian in the file).
#pragma once

#include <cstdint>

struct Int128 {
    uint64_t high;
    uint64_t low;
};
static_assert(sizeof(Int128) == 16, "Int128 is two 64-bit halves");

// Widening: unsigned sources are zero-extended, signed ones sign-extended.
Int128 v3Int128FromU64(uint64_t v);
Int128 v3Int128FromI64(int64_t v);
Int128 v3Int128FromU32(uint32_t v);
Int128 v3Int128FromI32(int32_t v);

// Wrap-around arithmetic on the 128-bit pattern.
Int128 v3Int128Add(Int128 a, Int128 b);
Int128 v3Int128Sub(Int128 a, Int128 b);
Int128 v3Int128Mul(Int128 a, Int128 b);  // low 128 bits of the product

// Unsigned division. A zero divisor (or a zero dividend) gives quotient 0 and
// remainder 0; either output pointer may be null.
void v3Int128UDivMod(Int128 dividend, Int128 divisor, Int128* quotient, Int128* remainder);
Int128 v3Int128UDiv(Int128 dividend, Int128 divisor);
Int128 v3Int128UMod(Int128 dividend, Int128 divisor);

// Signed division on magnitudes: the quotient is negative when exactly one
// operand is; the remainder takes the dividend's sign (so that
// q * divisor + r == dividend). Zero divisor: quotient 0 and remainder 0.
void v3Int128SDivMod(Int128 dividend, Int128 divisor, Int128* quotient, Int128* remainder);
Int128 v3Int128SDiv(Int128 dividend, Int128 divisor);
Int128 v3Int128SMod(Int128 dividend, Int128 divisor);

// Logical shifts; a count above 127 gives 0.
Int128 v3Int128Shl(Int128 v, uint32_t n);
Int128 v3Int128Shr(Int128 v, uint32_t n);

Int128 v3Int128And(Int128 a, Int128 b);
Int128 v3Int128Not(Int128 v);

bool v3Int128Equal(Int128 a, Int128 b);
bool v3Int128UGreater(Int128 a, Int128 b);
bool v3Int128ULess(Int128 a, Int128 b);
bool v3Int128SGreater(Int128 a, Int128 b);
bool v3Int128SLess(Int128 a, Int128 b);

// Returns the old value and adds 1 to *v (a null v gives zero).
Int128 v3Int128PostIncrement(Int128* v);

// a mod m in 0..m-1 for a positive m, whatever the sign of a. A modulus of
// zero or below has no such range; it gives 0 rather than a trap.
int64_t v3Mod64(int64_t a, int64_t m);

// Double classification for formatted output: 1 or 0; and -1 for -inf,
// +1 for +inf, 0 for finite values and NaN.
int v3IsNaN(double v);
int v3IsInfinite(double v);
