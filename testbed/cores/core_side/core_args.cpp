#include "core_side/core_args.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "contract/core_contract.h"

namespace qrvcore {

namespace {

namespace cc = core_contract;

bool ParseLong(const char* text, long lo, long hi, long* out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

// The core writes only below its working directory: an absolute directory
// or one that climbs out with ".." is refused rather than obeyed.
bool SafeRelativeDir(const std::string& dir) {
    if (dir.empty() || dir[0] == '/') return false;
    size_t start = 0;
    while (start <= dir.size()) {
        size_t slash = dir.find('/', start);
        if (slash == std::string::npos) slash = dir.size();
        if (dir.compare(start, slash - start, "..") == 0 && slash - start == 2) return false;
        start = slash + 1;
    }
    return true;
}

}  // namespace

std::string CoreArgs::UnitFile(const char* stem, const char* ext) const {
    return dir + stem + suffix + ext;
}

std::string ParseCoreArgs(int argc, const char* const* argv, CoreArgs* out) {
    CoreArgs a;
    bool have_dir = false, have_suffix = false;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long n = 0;
        if (opt == cc::kArgDir) {
            if (value == nullptr || !SafeRelativeDir(value)) return "bad or missing -dir";
            a.dir = value;
            if (a.dir.back() != '/') a.dir += '/';
            have_dir = true;
            ++i;
        } else if (opt == cc::kArgSuffix) {
            if (value == nullptr || std::strlen(value) != 2 || value[0] < '0' || value[0] > '9' ||
                value[1] < '0' || value[1] > '9')
                return "bad or missing -suffix";
            a.suffix = value;
            have_suffix = true;
            ++i;
        } else if (opt == cc::kArgLifeline) {
            if (!ParseLong(value, 1, 0x7fffffffL, &n)) return "bad or missing -lifeline";
            a.lifeline = n;
            ++i;
        } else if (opt == cc::kArgCpu) {
            // A percentage out of range is clamped, not refused: refusing
            // would make the client count a core error for every unit.
            if (!ParseLong(value, -1000000, 1000000, &n)) return "bad or missing -cpu";
            a.cpu_clamped = n < 1 || n > 100;
            a.cpu = n < 1 ? 1 : n > 100 ? 100 : static_cast<int>(n);
            ++i;
        } else if (opt == cc::kArgPriority) {
            if (!ParseLong(value, -1000000, 1000000, &n)) return "bad or missing -priority";
            a.priority = static_cast<int>(n);
            ++i;
        } else if (opt == cc::kArgCleanup) {
            a.cleanup = true;
        } else if (opt == cc::kArgNoAssembly) {
            a.noassembly = true;
        } else if (opt == cc::kArgNoTermCheck) {
            a.notermcheck = true;
        } else if (opt == cc::kArgService) {
            a.service = true;
        } else if (opt == cc::kArgForceAsm) {
            a.forceasm = true;
        } else {
            return "unknown argument '" + opt + "'";
        }
    }
    if (!have_dir || !have_suffix) return "-dir and -suffix are required";
    *out = a;
    return "";
}

std::string JoinArgs(int argc, const char* const* argv) {
    std::string s;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) s += ' ';
        s += argv[i];
    }
    return s;
}

}  // namespace qrvcore
