#include "client/benchmark.h"

#include <vector>

#include "support/time_value.h"

namespace {

constexpr int kElements = kBenchmarkSide * kBenchmarkSide;
const Int128 kOneSecond{1, 0};

Int128 Elapsed(const Int128& start) {
    Int128 end{};
    v3TimeNow(&end);
    return v3Int128Sub(end, start);
}

// The loop whose cost is taken off the products' time. The counter is
// volatile so that the compiler keeps every turn.
void EmptyLoop(uint64_t n) {
    volatile uint64_t counter = 0;
    for (uint64_t i = 0; i < n; ++i) counter = counter + 1;
}

}  // namespace

void MultiplyMatrices(const double* a, const double* b, double* c) {
    for (int r = 0; r < kBenchmarkSide; ++r) {
        for (int col = 0; col < kBenchmarkSide; ++col) {
            double sum = 0.0;
            for (int k = 0; k < kBenchmarkSide; ++k) {
                sum += a[r * kBenchmarkSide + k] * b[k * kBenchmarkSide + col];
            }
            c[r * kBenchmarkSide + col] = sum;
        }
    }
}

uint64_t BenchmarkFigure(Int128 net_time, uint64_t n) {
    const Int128 per_product = v3Int128SDiv(net_time, v3Int128FromU64(n));
    return v3Int128UDiv(kOneSecond, per_product).low;
}

uint64_t RunBenchmark() {
    std::vector<double> a(kElements), b(kElements), c(kElements);
    for (int i = 0; i < kElements; ++i) a[i] = b[i] = static_cast<double>(i);
    // The products are written through a volatile pointer's view, so that
    // repeating the same product cannot be folded into one.
    double* volatile out = c.data();

    for (uint64_t n = 1;; n *= 2) {
        Int128 start{};
        v3TimeNow(&start);
        for (uint64_t i = 0; i < n; ++i) MultiplyMatrices(a.data(), b.data(), out);
        const Int128 products = Elapsed(start);

        v3TimeNow(&start);
        EmptyLoop(n);
        const Int128 loop = Elapsed(start);

        const Int128 net = v3Int128Sub(products, loop);
        if (v3Int128SGreater(net, kOneSecond)) {
            return BenchmarkFigure(net, n);
        }
    }
}
