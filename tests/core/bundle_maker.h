// Shared by the core bundle tests: bundles are made by the testbed's bundle
// tool, which shares no code with the verifier, and the log is captured from
// the console echo.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/temp_dir.h"
#include "core/public_key_record.h"
#include "log/log.h"

namespace qrvtest {

// The demo key's validity, seconds since 2000-01-01 UTC (see
// testbed/keys/README.md), and a signing time inside it (a Sunday in
// February, so the date line shows the month table's spelling).
inline constexpr int64_t kDemoKeyCreated = 850062418;
inline constexpr int64_t kDemoKeyExpiry = 881598418;
inline constexpr int64_t kTestSigningTime = 855911103;

// From the build, not from __FILE__: a compiler cache may make that path
// relative to the build folder, which the tests do not run in.
inline std::string SourceDir() { return QRV_SOURCE_DIR; }

// True when the client embeds the testbed's demo key, whose private half the
// tool signs with; a deployment build embeds its own.
inline bool DemoKeyEmbedded() {
    const std::string demo = ReadFileText(SourceDir() + "/testbed/keys/demo_public.key");
    return demo.size() == kQrvPublicKeyRecordSize &&
           std::memcmp(demo.data(), kQrvPublicKeyRecord, demo.size()) == 0;
}

// The system's interpreter, when there is one: version managers put wrappers
// in PATH that take longer to start than the tool takes to run.
inline std::string Python() {
    return FileExists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// Packs core into bundle with the demo key; `extra` holds further switches
// of the tool (a later --signing-time overrides the default one). Returns the
// tool's exit status.
inline int PackBundle(const std::string& core, const std::string& bundle,
                      const std::string& extra = "") {
    const std::string cmd = Python() + " '" + SourceDir() + "/testbed/bundle_tool.py' pack '" + core +
                            "' --out '" + bundle + "' --signing-time " +
                            std::to_string(kTestSigningTime) + " " + extra + " >/dev/null";
    return std::system(cmd.c_str());
}

// Deterministic text-like bytes: compressible, but not trivially so.
inline std::string MakeCoreBytes(size_t n, uint32_t seed) {
    std::string out(n, '\0');
    uint32_t x = seed | 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>('A' + x % 40);
    }
    return out;
}

// Everything LogPrint prints while f runs.
template <class F>
std::string CaptureLog(F f) {
    LogSetConsoleEcho(true);
    testing::internal::CaptureStdout();
    f();
    std::string out = testing::internal::GetCapturedStdout();
    LogSetConsoleEcho(false);
    return out;
}

}  // namespace qrvtest
