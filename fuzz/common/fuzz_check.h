// Checks inside fuzz targets. A broken expectation is a finding like a
// sanitizer report: the message names the check, and the abort makes
// libFuzzer save the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace qrvfuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "\n*** fuzz check failed: %s\n    at %s:%d\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace qrvfuzz

#define FUZZ_CHECK(cond)                                           \
    do {                                                           \
        if (!(cond)) ::qrvfuzz::Fail(#cond, __FILE__, __LINE__);   \
    } while (0)
