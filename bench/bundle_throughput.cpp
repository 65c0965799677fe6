// Verification and unpacking throughput of a 20 MB core bundle, beside the
// standard tools on the same bytes: `openssl dgst` (MD5 and SHA-1, the two
// digests verification computes) and `bzip2 -d`. Prints figures only; the
// target is at least 0.8 of each tool's throughput.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "core/unzip_core.h"
#include "core/verify_core_bundle.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 3;
// Text over 40 symbols compresses to about two thirds with bzip2, so this
// core makes a bundle of about 20 MB.
constexpr size_t kCoreBytes = 30u * 1000 * 1000;

double BestSeconds(const std::function<bool()>& run) {
    double best = 1e30;
    for (int i = 0; i < kRounds; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!run()) return -1;
        const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
        best = std::min(best, d.count());
    }
    return best;
}

bool Shell(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

bool WriteCore(const std::string& path) {
    std::string bytes(kCoreBytes, '\0');
    uint32_t x = 12345;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>('A' + x % 40);
    }
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

// The bundle's compressed stream as a file of its own, for the tools.
bool ExtractStream(const std::string& bundle, const std::string& stream) {
    std::ifstream in(bundle, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (all.size() < kBundleHeaderSize) return false;
    uint64_t length = 0;
    for (int i = 0; i < 8; ++i) length = length << 8 | static_cast<uint8_t>(all[16 + i]);
    std::ofstream out(stream, std::ios::binary);
    out.write(all.data() + kBundleHeaderSize, static_cast<std::streamsize>(length));
    return out.good();
}

void Report(const char* what, double mb, double ours, double theirs, const char* tool) {
    std::printf("%-12s %7.1f MB/s   %-26s %7.1f MB/s   ratio %.2f\n", what, mb / ours, tool,
                mb / theirs, theirs / ours);
}

int Run(const fs::path& dir) {
    const std::string source = QRV_SOURCE_DIR;
    const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const std::string core = (dir / "core.exe").string();
    const std::string bundle = (dir / "Core_78.qrv").string();
    const std::string stream = (dir / "stream.bz2").string();
    const std::string out = (dir / "QrvCore_78.exe").string();
    if (!WriteCore(core) ||
        !Shell(python + " '" + source + "/testbed/bundle_tool.py' pack '" + core + "' --out '" +
               bundle + "' --signing-time 855911103 > /dev/null") ||
        !ExtractStream(bundle, stream)) {
        std::fprintf(stderr, "bundle_throughput: could not make the bundle\n");
        return 1;
    }
    const double bundle_mb = static_cast<double>(fs::file_size(bundle)) / 1e6;
    const double stream_mb = static_cast<double>(fs::file_size(stream)) / 1e6;
    std::printf("bundle %.1f MB (compressed stream %.1f MB, core %.1f MB), best of %d\n",
                bundle_mb, stream_mb, kCoreBytes / 1e6, kRounds);

    const double verify = BestSeconds([&] { return VerifyCoreBundle(bundle.c_str()) == 0; });
    const double md5 = BestSeconds([&] { return Shell("openssl dgst -md5 '" + stream + "' >/dev/null"); });
    const double sha1 = BestSeconds([&] { return Shell("openssl dgst -sha1 '" + stream + "' >/dev/null"); });
    const double unzip = BestSeconds([&] { return UnzipCore(bundle.c_str(), out.c_str()) == 0; });
    const double bunzip = BestSeconds(
        [&] { return Shell("bzip2 -dc '" + stream + "' > '" + out + ".bzip2'"); });
    if (verify < 0 || md5 < 0 || sha1 < 0 || unzip < 0 || bunzip < 0) {
        std::fprintf(stderr, "bundle_throughput: a run failed\n");
        return 1;
    }
    // Throughput over the compressed stream; "ratio" is ours over theirs.
    Report("verify", stream_mb, verify, md5 + sha1, "openssl dgst -md5 + -sha1");
    Report("unpack", stream_mb, unzip - verify, bunzip, "bzip2 -d");
    Report("UnzipCore", stream_mb, unzip, bunzip + md5 + sha1, "dgst md5+sha1 + bzip2 -d");
    return 0;
}

}  // namespace

int main() {
    std::random_device rd;
    const fs::path dir = fs::temp_directory_path() / ("qrv_bundle_bench_" + std::to_string(rd()));
    fs::create_directories(dir);
    const int rc = Run(dir);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return rc;
}
