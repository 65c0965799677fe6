#include "client/benchmark.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "support/time_value.h"

namespace {

// A Time value of whole and 1/1024 seconds, exact in 64.64 fixed point.
Int128 At(int64_t seconds, uint64_t kibi_fraction) {
    return MakeTimeValue(seconds, kibi_fraction << 54);
}

// Four readings per pass: products start and end, empty loop start and end.
const std::vector<Int128> kScript = {
    // n = 1: 0.6 s net, measure again.
    At(100, 0), At(100, 614), At(101, 0), At(101, 0),
    // n = 2: exactly one second net does not end the measurement.
    At(200, 0), At(201, 0), At(202, 0), At(202, 0),
    // n = 4: 1.5 s of products less 0.5 s of empty loop is one second again.
    At(300, 0), At(301, 512), At(302, 0), At(302, 512),
    // n = 8: 1.25 s net ends it; only this pass counts: 8 / 1.25 = 6.4.
    At(400, 0), At(401, 256), At(402, 0), At(402, 0),
};
std::atomic<size_t> g_reading{0};

int ScriptedClock(Int128* now) {
    const size_t i = g_reading.fetch_add(1);
    // Past the script the clock races ahead, so a faulty loop still ends.
    *now = i < kScript.size() ? kScript[i] : At(1000 + static_cast<int64_t>(i) * 1000, 0);
    return 0;
}

TEST(Benchmark, DoublesUntilMoreThanOneSecondOfNetTime) {
    g_reading = 0;
    v3SetTimeNowHook(ScriptedClock);
    const uint64_t figure = RunBenchmark();
    v3SetTimeNowHook(nullptr);
    EXPECT_EQ(g_reading.load(), kScript.size()) << "passes taken";
    EXPECT_EQ(figure, 6u);
}

TEST(Benchmark, FigureIsOneSecondOverTheTimeOfOneProduct) {
    // 2048 products in 1.2 s: about 1706.7 per second, truncated.
    const Int128 net = v3Int128UDiv(v3Int128Mul(MakeTimeValue(1, 0), v3Int128FromU32(12)),
                                    v3Int128FromU32(10));
    EXPECT_EQ(BenchmarkFigure(net, 2048), 1706u);
    // A fast machine: 3 million products in 1.5 s.
    EXPECT_EQ(BenchmarkFigure(At(1, 512), 3000000), 2000000u);
    // Figures beyond 32 bits stay whole: 2^40 products in a hair over 1 s.
    EXPECT_EQ(BenchmarkFigure(MakeTimeValue(1, 1), uint64_t{1} << 40), uint64_t{1} << 40);
    // A time of one product that truncates to nothing gives no figure.
    EXPECT_EQ(BenchmarkFigure(MakeTimeValue(0, 5), 10), 0u);
}

TEST(Benchmark, MatrixProductRowsTimesColumns) {
    constexpr int n = kBenchmarkSide;
    std::vector<double> a(n * n), b(n * n), c(n * n);
    for (int i = 0; i < n * n; ++i) {
        a[i] = i % 7;
        b[i] = (i % 5) - 2;
    }
    MultiplyMatrices(a.data(), b.data(), c.data());
    for (int r : {0, 1, 31, 63}) {
        for (int col : {0, 2, 62, 63}) {
            double expect = 0;
            for (int k = 0; k < n; ++k) expect += a[r * n + k] * b[k * n + col];
            EXPECT_EQ(c[r * n + col], expect) << r << "," << col;
        }
    }
    // The benchmark's own matrices: element (r, c) = 64r + c in both.
    for (int i = 0; i < n * n; ++i) a[i] = b[i] = i;
    MultiplyMatrices(a.data(), b.data(), c.data());
    EXPECT_EQ(c[0], 5462016.0);  // sum of k * 64k for k = 0..63
}

}  // namespace
