// The machine's speed as the servers are told it, and its platform codes.
#pragma once

#include <cstdint>

#include "support/int128.h"

// Products of two 64 x 64 matrices of doubles per second, truncated. Doubles
// the number of products until one pass takes more than a second of net time
// (the products' time less that of an empty loop of as many turns), so it
// takes one to a few seconds.
uint64_t RunBenchmark();

// The figure of n products that took net_time (a Time value difference):
// one second divided by the time of one product, both in 64.64 fixed point,
// truncated; 0 when the time of one product comes out as 0.
uint64_t BenchmarkFigure(Int128 net_time, uint64_t n);

// Side of the benchmark's square matrices.
inline constexpr int kBenchmarkSide = 64;
// C = A x B for row-major kBenchmarkSide x kBenchmarkSide matrices, each
// element summed over k in ascending order.
void MultiplyMatrices(const double* a, const double* b, double* c);
