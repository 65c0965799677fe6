// The formatting engine with arbitrary format strings.
//
// The format is the fuzzer's; the harness reads it with the grammar of
// support/format.h to learn which arguments it takes, and passes arguments of
// exactly those types (a mismatch would be the harness's own undefined
// behaviour, not the engine's). Text and byte arguments are heap blocks of
// exactly the size the engine may read, so any over-read is an ASan report.
//
// Checks on every input:
//  - v3Format's count equals the characters its sink received;
//  - v3StringPrint never touches the guard bytes around its buffer, stores
//    exactly the first size - 1 characters of the full output and terminates;
//  - the full output is the concatenation of its pieces, each conversion
//    formatted on its own from a canonical specification (so the parser
//    handles "*", flags and caps the same way wherever they appear);
//  - where the C library defines the same conversion, both agree.
#include <fuzzer/FuzzedDataProvider.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/fuzz_check.h"
#include "support/format.h"
#include "support/format_engine.h"
#include "support/int128.h"

namespace {

// Arguments one format may take: enough for every interplay of "*" width,
// "*" precision and a value, and few enough that the call site below (one
// instantiation per sequence of argument types) stays small.
constexpr size_t kMaxArgs = 4;
constexpr size_t kGuard = 64;
constexpr unsigned char kGuardByte = 0xA5;
// Room for the widest single conversion: a field of kV3FormatMaxField, or a
// double with that precision and 309 integer digits.
constexpr size_t kOneConversionRoom = 2 * kV3FormatMaxField + 512;

enum class Kind { kInt, kUnsigned, kI64, kU64, kI128, kDouble, kPointer };

struct Arg {
    Kind kind = Kind::kInt;
    int i = 0;
    unsigned u = 0;
    int64_t i64 = 0;
    uint64_t u64 = 0;
    Int128 i128{};
    double d = 0;
    const char* p = nullptr;
};

// One piece of the format: literal text, or a specification.
struct Piece {
    std::string text;          // as written in the format
    bool conversion = false;   // a valid conversion (others are written literally)
    bool left = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    char conv = 0;
    bool has_value = false;    // index `value` into the argument list
    size_t value = 0;
};

struct Plan {
    std::string format;
    std::vector<Piece> pieces;
    std::vector<Arg> args;
    std::vector<std::unique_ptr<char[]>> blocks;  // text and byte arguments
};

bool IsConversion(char c) { return c != '\0' && std::strchr("csbijkuvwXYZfFp%", c) != nullptr; }

// A run of digits as a width or precision: the engine caps it.
int ReadDigits(const std::string& f, size_t& i) {
    long long v = 0;
    while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
        v = v * 10 + (f[i] - '0');
        if (v > 1000000) v = 1000000;
        ++i;
    }
    return v > kV3FormatMaxField ? kV3FormatMaxField : static_cast<int>(v);
}

Arg IntArg(int v) {
    Arg a;
    a.kind = Kind::kInt;
    a.i = v;
    return a;
}

const char* NewBlock(Plan& plan, const std::string& bytes) {
    std::unique_ptr<char[]> block(new char[bytes.size()]);
    if (!bytes.empty()) std::memcpy(block.get(), bytes.data(), bytes.size());
    plan.blocks.push_back(std::move(block));
    return plan.blocks.back().get();
}

// The argument a valid conversion consumes, drawn from the fuzzer's bytes.
Arg ValueArg(FuzzedDataProvider& fdp, Plan& plan, const Piece& piece) {
    Arg a;
    switch (piece.conv) {
    case 'c': case 'i': a.kind = Kind::kInt; a.i = fdp.ConsumeIntegral<int>(); break;
    case 'u': case 'X': a.kind = Kind::kUnsigned; a.u = fdp.ConsumeIntegral<unsigned>(); break;
    case 'j': a.kind = Kind::kI64; a.i64 = fdp.ConsumeIntegral<int64_t>(); break;
    case 'v': case 'Y': a.kind = Kind::kU64; a.u64 = fdp.ConsumeIntegral<uint64_t>(); break;
    case 'k': case 'w': case 'Z':
        a.kind = Kind::kI128;
        a.i128 = Int128{fdp.ConsumeIntegral<uint64_t>(), fdp.ConsumeIntegral<uint64_t>()};
        break;
    case 'f': case 'F': {
        a.kind = Kind::kDouble;
        const uint64_t bits = fdp.ConsumeIntegral<uint64_t>();
        std::memcpy(&a.d, &bits, sizeof a.d);
        break;
    }
    case 'p':
        a.kind = Kind::kPointer;
        a.p = reinterpret_cast<const char*>(static_cast<uintptr_t>(fdp.ConsumeIntegral<uint64_t>()));
        break;
    case 's': {
        a.kind = Kind::kPointer;
        const int mode = fdp.ConsumeIntegralInRange<int>(0, 2);
        std::string text = fdp.ConsumeRandomLengthString(96);
        if (mode == 0) {
            // a missing text: a.p stays null
        } else if (mode == 2 && piece.precision >= 0) {
            // Exactly `precision` bytes and no terminator after them.
            text.resize(static_cast<size_t>(piece.precision), 'x');
            a.p = NewBlock(plan, text);
        } else {
            text.push_back('\0');
            a.p = NewBlock(plan, text);
        }
        break;
    }
    case 'b': {
        a.kind = Kind::kPointer;
        if (!fdp.ConsumeBool()) {  // else missing bytes: a.p stays null
            std::string bytes = fdp.ConsumeRandomLengthString(96);
            bytes.resize(piece.precision < 0 ? 0 : static_cast<size_t>(piece.precision), '\0');
            a.p = NewBlock(plan, bytes);
        }
        break;
    }
    default: break;
    }
    return a;
}

// Reads one specification from f[i] == '%'. Gives false when its arguments
// would pass kMaxArgs; the format is then cut in front of it.
bool ReadSpec(FuzzedDataProvider& fdp, Plan& plan, const std::string& f, size_t& i) {
    const size_t start = i++;
    Piece piece;
    std::vector<Arg> taken;
    for (; i < f.size() && (f[i] == '-' || f[i] == '0'); ++i) {
        if (f[i] == '-') piece.left = true;
        else piece.zero = true;
    }
    if (i < f.size() && f[i] == '*') {
        ++i;
        int w = fdp.ConsumeIntegral<int>();
        taken.push_back(IntArg(w));
        if (w < 0) {
            piece.left = true;
            w = w < -kV3FormatMaxField ? kV3FormatMaxField : -w;
        }
        piece.width = w > kV3FormatMaxField ? kV3FormatMaxField : w;
    } else {
        piece.width = ReadDigits(f, i);
    }
    if (i < f.size() && f[i] == '.') {
        ++i;
        if (i < f.size() && f[i] == '*') {
            ++i;
            const int p = fdp.ConsumeIntegral<int>();
            taken.push_back(IntArg(p));
            piece.precision = p < 0 ? -1 : (p > kV3FormatMaxField ? kV3FormatMaxField : p);
        } else {
            piece.precision = ReadDigits(f, i);
        }
    }
    if (i < f.size()) {
        piece.conv = f[i++];
        piece.conversion = IsConversion(piece.conv);
    }
    piece.text = f.substr(start, i - start);
    if (piece.conversion && piece.conv != '%') {
        taken.push_back(ValueArg(fdp, plan, piece));
        piece.has_value = true;
    }
    if (plan.args.size() + taken.size() > kMaxArgs) return false;
    plan.args.insert(plan.args.end(), taken.begin(), taken.end());
    piece.value = plan.args.size() - 1;
    plan.pieces.push_back(piece);
    return true;
}

void MakePlan(FuzzedDataProvider& fdp, std::string f, Plan& plan) {
    f = f.c_str();  // the engine sees the format up to its first zero byte
    size_t i = 0;
    size_t cut = f.size();
    while (i < f.size()) {
        if (f[i] != '%') {
            const size_t j = f.find('%', i);
            const size_t end = j == std::string::npos ? f.size() : j;
            Piece lit;
            lit.text = f.substr(i, end - i);
            plan.pieces.push_back(lit);
            i = end;
            continue;
        }
        const size_t start = i;
        if (!ReadSpec(fdp, plan, f, i)) {
            cut = start;
            break;
        }
    }
    plan.format = f.substr(0, cut);
}

class StringSink : public FormatSink {
public:
    void Write(const char* p, size_t n) override {
        FUZZ_CHECK(n == 0 || p != nullptr);
        out.append(p, n);
    }
    std::string out;
};

uint64_t FormatAll(StringSink& sink, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const uint64_t n = v3Format(sink, fmt, ap);
    va_end(ap);
    return n;
}

std::string Canonical(const Piece& piece, bool with_zero, bool with_precision,
                      const char* conv) {
    std::string spec = "%";
    if (piece.left) spec += '-';
    if (piece.zero && with_zero) spec += '0';
    if (piece.width > 0) spec += std::to_string(piece.width);
    if (piece.precision >= 0 && with_precision) spec += "." + std::to_string(piece.precision);
    return spec + conv;
}

// Formats one conversion on its own, with its width and precision written
// out as numbers, through the engine and, where it defines the same thing,
// through the C library; both must agree.
std::string FormatOne(const Piece& piece, const Arg& a) {
    static char ours[kOneConversionRoom];
    static char theirs[kOneConversionRoom];
    const std::string spec = Canonical(piece, true, true, std::string(1, piece.conv).c_str());
    int n = 0;
    const char* libc = nullptr;  // the C library's conversion, when comparable
    bool libc_zero = piece.zero;
    bool libc_precision = false;
    switch (a.kind) {
    case Kind::kInt:
        n = v3StringPrint(ours, sizeof ours, spec.c_str(), a.i);
        libc = piece.conv == 'c' ? "c" : "d";
        libc_zero = piece.zero && piece.conv != 'c';  // text is blank-padded
        break;
    case Kind::kUnsigned:
        n = v3StringPrint(ours, sizeof ours, spec.c_str(), a.u);
        libc = piece.conv == 'u' ? "u" : "X";
        break;
    case Kind::kI64:
        n = v3StringPrint(ours, sizeof ours, spec.c_str(), a.i64);
        libc = PRId64;
        break;
    case Kind::kU64:
        n = v3StringPrint(ours, sizeof ours, spec.c_str(), a.u64);
        libc = piece.conv == 'v' ? PRIu64 : PRIX64;
        break;
    case Kind::kI128:
        n = v3StringPrint(ours, sizeof ours, spec.c_str(), a.i128);
        break;
    case Kind::kDouble:
        n = v3StringPrint(ours, sizeof ours, spec.c_str(), a.d);
        libc = piece.conv == 'f' ? "f" : "F";
        libc_precision = true;
        break;
    case Kind::kPointer:
        n = v3StringPrint(ours, sizeof ours, spec.c_str(), a.p);
        if (piece.conv == 's' && a.p != nullptr) {
            libc = "s";
            libc_zero = false;
            libc_precision = true;
        }
        break;
    }
    FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) < sizeof ours);
    if (piece.conv == 'p') {
        // "0x" and 16 digits, the prefix in front of any zero padding.
        char digits[17];
        std::snprintf(digits, sizeof digits, "%016llX",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(a.p)));
        const size_t pad = piece.width > 18 ? static_cast<size_t>(piece.width) - 18 : 0;
        const std::string want = piece.left   ? "0x" + std::string(digits) + std::string(pad, ' ')
                                 : piece.zero ? "0x" + std::string(pad, '0') + digits
                                              : std::string(pad, ' ') + "0x" + digits;
        FUZZ_CHECK(std::string(ours, static_cast<size_t>(n)) == want);
    }
    if (libc != nullptr) {
        const std::string cspec = Canonical(piece, libc_zero, libc_precision, libc);
        int m = 0;
        switch (a.kind) {
        case Kind::kInt: m = std::snprintf(theirs, sizeof theirs, cspec.c_str(), a.i); break;
        case Kind::kUnsigned: m = std::snprintf(theirs, sizeof theirs, cspec.c_str(), a.u); break;
        case Kind::kI64: m = std::snprintf(theirs, sizeof theirs, cspec.c_str(), a.i64); break;
        case Kind::kU64: m = std::snprintf(theirs, sizeof theirs, cspec.c_str(), a.u64); break;
        case Kind::kDouble: m = std::snprintf(theirs, sizeof theirs, cspec.c_str(), a.d); break;
        case Kind::kPointer: {
            // The text as a terminated copy: the C library may read an
            // unterminated one no further than the precision, but the
            // sanitizer's checking of its arguments does not know that.
            std::string text;
            for (int k = 0; (piece.precision < 0 || k < piece.precision) && a.p[k] != '\0'; ++k) {
                text += a.p[k];
            }
            m = std::snprintf(theirs, sizeof theirs, cspec.c_str(), text.c_str());
            break;
        }
        case Kind::kI128: break;
        }
        if (m != n || std::memcmp(ours, theirs, static_cast<size_t>(n)) != 0) {
            std::fprintf(stderr, "engine \"%s\" gave [%.*s], C library \"%s\" gave [%.*s]\n",
                         spec.c_str(), n < 200 ? n : 200, ours, cspec.c_str(), m < 200 ? m : 200,
                         theirs);
            FUZZ_CHECK(!"a conversion differs from the C library's");
        }
    }
    return std::string(ours, static_cast<size_t>(n));
}

std::string Expected(const Plan& plan) {
    std::string out;
    for (const Piece& piece : plan.pieces) {
        if (!piece.conversion) {
            out += piece.text;
        } else if (!piece.has_value) {  // "%%", padded like text
            out += FormatOne(piece, Arg{Kind::kPointer});
        } else {
            out += FormatOne(piece, plan.args[piece.value]);
        }
    }
    return out;
}

template <typename... A>
void Run(const Plan& plan, size_t size, A... args) {
    const char* fmt = plan.format.c_str();
    StringSink sink;
    const uint64_t count = FormatAll(sink, fmt, args...);
    FUZZ_CHECK(count == sink.out.size());

    if (size == SIZE_MAX) size = sink.out.size() + 1;
    std::unique_ptr<unsigned char[]> area(new unsigned char[size + 2 * kGuard]);
    std::memset(area.get(), kGuardByte, size + 2 * kGuard);
    char* buf = reinterpret_cast<char*>(area.get() + kGuard);
    const int stored = v3StringPrint(buf, size, fmt, args...);
    for (size_t i = 0; i < kGuard; ++i) {
        FUZZ_CHECK(area[i] == kGuardByte);
        FUZZ_CHECK(area[kGuard + size + i] == kGuardByte);
    }
    if (size == 0) {
        FUZZ_CHECK(stored == 0);
    } else {
        const size_t want = sink.out.size() < size - 1 ? sink.out.size() : size - 1;
        FUZZ_CHECK(stored >= 0 && static_cast<size_t>(stored) == want);
        FUZZ_CHECK(std::memcmp(buf, sink.out.data(), want) == 0);
        FUZZ_CHECK(buf[want] == '\0');
    }

    const std::string expected = Expected(plan);
    if (expected != sink.out) {
        std::fprintf(stderr, "format \"%s\": whole [%.300s], piece by piece [%.300s]\n", fmt,
                     sink.out.c_str(), expected.c_str());
        FUZZ_CHECK(!"the output differs from its pieces formatted one by one");
    }
}

// Calls Run with the plan's arguments as real arguments of their types.
template <typename... A>
void Dispatch(const Plan& plan, size_t size, size_t i, A... a) {
    if constexpr (sizeof...(A) == kMaxArgs) {
        Run(plan, size, a...);
    } else {
        if (i == plan.args.size()) return Run(plan, size, a...);
        const Arg& x = plan.args[i];
        switch (x.kind) {
        case Kind::kInt: return Dispatch(plan, size, i + 1, a..., x.i);
        case Kind::kUnsigned: return Dispatch(plan, size, i + 1, a..., x.u);
        case Kind::kI64: return Dispatch(plan, size, i + 1, a..., x.i64);
        case Kind::kU64: return Dispatch(plan, size, i + 1, a..., x.u64);
        case Kind::kI128: return Dispatch(plan, size, i + 1, a..., x.i128);
        case Kind::kDouble: return Dispatch(plan, size, i + 1, a..., x.d);
        case Kind::kPointer: return Dispatch(plan, size, i + 1, a..., x.p);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    // Output buffer: small sizes exercise the cut, 255 the whole output.
    const uint8_t sel = fdp.ConsumeIntegral<uint8_t>();
    const size_t out_size = sel == 255 ? SIZE_MAX : sel;
    Plan plan;
    MakePlan(fdp, fdp.ConsumeRandomLengthString(512), plan);
    Dispatch(plan, out_size, 0);
    return 0;
}
