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
