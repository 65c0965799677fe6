// Prints the start-up benchmark figure of five runs in a row, and how far
// they spread, so that the figure's steadiness on a machine can be judged.
#include <cstdint>
#include <cstdio>

#include "client/benchmark.h"

int main() {
    constexpr int kRuns = 5;
    uint64_t low = UINT64_MAX;
    uint64_t high = 0;
    for (int run = 1; run <= kRuns; ++run) {
        const uint64_t figure = RunBenchmark();
        printf("run %d: %llu products per second (sent as %llu)\n", run,
               static_cast<unsigned long long>(figure),
               static_cast<unsigned long long>(figure * 4));
        fflush(stdout);
        if (figure < low) low = figure;
        if (figure > high) high = figure;
    }
    const double spread = low ? 100.0 * static_cast<double>(high - low) / static_cast<double>(low) : 0.0;
    printf("lowest %llu, highest %llu: spread %.1f%% of the lowest\n",
           static_cast<unsigned long long>(low), static_cast<unsigned long long>(high), spread);
    return 0;
}
