#include "support/format_engine.h"

#include <cstdio>
#include <cstring>

#include "support/format.h"
#include "support/int128.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// va_list cannot be passed around by reference portably; a struct holding
// one can.
struct Args {
    va_list ap;
};

struct Spec {
    bool left = false;
    bool zero = false;
    int width = 0;
    int precision = -1;  // -1: none given
};

// Counts what it forwards, so every caller learns the produced length even
// when the sink drops characters.
class CountingOut {
public:
    explicit CountingOut(FormatSink& sink) : sink_(sink) {}
    void Put(const char* p, size_t n) {
        if (n == 0) return;
        sink_.Write(p, n);
        count_ += n;
    }
    void Repeat(char c, size_t n) {
        char block[64];
        std::memset(block, c, sizeof block);
        while (n > 0) {
            size_t k = n < sizeof block ? n : sizeof block;
            Put(block, k);
            n -= k;
        }
    }
    uint64_t count() const { return count_; }

private:
    FormatSink& sink_;
    uint64_t count_ = 0;
};

// Reads a run of decimal digits, saturating at the field cap so that a
// format like "%99999999999d" cannot overflow the number.
int ReadField(const char*& p) {
    int value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value < kV3FormatMaxField) value = value * 10 + (*p - '0');
        ++p;
    }
    return value < kV3FormatMaxField ? value : kV3FormatMaxField;
}

int CapField(int v) { return v > kV3FormatMaxField ? kV3FormatMaxField : v; }

// Writes sign and body padded to the width. Zeros go between the sign and
// the digits, so a zero-padded negative number still reads as one.
void EmitPadded(CountingOut& out, const Spec& spec, const char* sign,
                const char* body, size_t len, bool numeric) {
    size_t sign_len = std::strlen(sign);
    size_t total = sign_len + len;
    size_t pad = spec.width > 0 && static_cast<size_t>(spec.width) > total
                     ? static_cast<size_t>(spec.width) - total
                     : 0;
    if (spec.left) {
        out.Put(sign, sign_len);
        out.Put(body, len);
        out.Repeat(' ', pad);
    } else if (spec.zero && numeric) {
        out.Put(sign, sign_len);
        out.Repeat('0', pad);
        out.Put(body, len);
    } else {
        out.Repeat(' ', pad);
        out.Put(sign, sign_len);
        out.Put(body, len);
    }
}

// Produces the digits least significant first into the end of the work
// area; gives the start of the most significant digit.
// Values are carried as Int128, which needs no 128-bit type of the compiler
// (32-bit processors have none); the long division runs only while the
// value still has bits in its high half.
char* Digits(Int128 v, unsigned base, char* end) {
    char* p = end;
    const Int128 radix = v3Int128FromU32(base);
    while (v.high != 0) {
        Int128 digit;
        v3Int128UDivMod(v, radix, &v, &digit);
        *--p = kHexDigits[digit.low];
    }
    uint64_t low = v.low;
    do {
        *--p = kHexDigits[low % base];
        low /= base;
    } while (low != 0);
    return p;
}

void EmitInteger(CountingOut& out, const Spec& spec, Int128 magnitude,
                 bool negative, unsigned base) {
    char work[130];  // 128 binary digits at most; decimal and hex need fewer
    char* end = work + sizeof work;
    char* start = Digits(magnitude, base, end);
    EmitPadded(out, spec, negative ? "-" : "", start,
               static_cast<size_t>(end - start), true);
}

void EmitSigned(CountingOut& out, const Spec& spec, Int128 bits, bool negative) {
    // Two's-complement negation in unsigned arithmetic is defined for the
    // most negative value too.
    const Int128 magnitude = negative ? v3Int128Sub(Int128{0, 0}, bits) : bits;
    EmitInteger(out, spec, magnitude, negative, 10);
}

void EmitDouble(CountingOut& out, const Spec& spec, double v, bool upper) {
    int precision = spec.precision < 0 ? 6 : spec.precision;
    // The largest double has 309 integer digits; the precision is capped.
    char work[kV3FormatMaxField + 330];
    int n = std::snprintf(work, sizeof work, upper ? "%.*F" : "%.*f", precision, v);
    if (n < 0) return;
    size_t len = static_cast<size_t>(n) < sizeof work ? static_cast<size_t>(n)
                                                      : sizeof work - 1;
    const char* body = work;
    const char* sign = "";
    if (body[0] == '-') {
        sign = "-";
        ++body;
        --len;
    }
    // Infinity and NaN are words, not digits: zeros in front of them would
    // read as a garbled number, so they are padded with blanks like text.
    const bool finite = v3IsNaN(v) == 0 && v3IsInfinite(v) == 0;
    EmitPadded(out, spec, sign, body, len, finite);
}

void EmitText(CountingOut& out, const Spec& spec, const char* text) {
    if (text == nullptr) text = "(null)";
    size_t len = 0;
    // Never read past the precision: the text need not be terminated there.
    size_t limit = spec.precision < 0 ? SIZE_MAX : static_cast<size_t>(spec.precision);
    while (len < limit && text[len] != '\0') ++len;
    EmitPadded(out, spec, "", text, len, false);
}

void EmitBytes(CountingOut& out, const Spec& spec, const char* bytes) {
    size_t len = spec.precision < 0 || bytes == nullptr ? 0
                                                       : static_cast<size_t>(spec.precision);
    EmitPadded(out, spec, "", bytes == nullptr ? "" : bytes, len, false);
}

void EmitPointer(CountingOut& out, const Spec& spec, const void* p) {
    char work[18];
    work[0] = '0';
    work[1] = 'x';
    uint64_t v = reinterpret_cast<uintptr_t>(p);
    for (int i = 17; i >= 2; --i) {
        work[i] = kHexDigits[v & 0xF];
        v >>= 4;
    }
    // "0x" is a prefix like a sign: zero padding goes between it and the
    // digits, never in front of it.
    EmitPadded(out, spec, "0x", work + 2, sizeof work - 2, true);
}

// Carries out one conversion. Gives false when the character is not a
// conversion, which the caller then writes out literally.
bool Convert(CountingOut& out, const Spec& spec, char conv, Args& args) {
    switch (conv) {
    case 'c': {
        char c = static_cast<char>(va_arg(args.ap, int));
        EmitPadded(out, spec, "", &c, 1, false);
        return true;
    }
    case 's': EmitText(out, spec, va_arg(args.ap, const char*)); return true;
    case 'b': EmitBytes(out, spec, va_arg(args.ap, const char*)); return true;
    case 'i': {
        int32_t v = va_arg(args.ap, int32_t);
        EmitSigned(out, spec, v3Int128FromI32(v), v < 0);
        return true;
    }
    case 'j': {
        int64_t v = va_arg(args.ap, int64_t);
        EmitSigned(out, spec, v3Int128FromI64(v), v < 0);
        return true;
    }
    case 'k': {
        Int128 v = va_arg(args.ap, Int128);
        EmitSigned(out, spec, v, (v.high >> 63) != 0);
        return true;
    }
    case 'u': EmitInteger(out, spec, v3Int128FromU32(va_arg(args.ap, uint32_t)), false, 10); return true;
    case 'v': EmitInteger(out, spec, v3Int128FromU64(va_arg(args.ap, uint64_t)), false, 10); return true;
    case 'w': EmitInteger(out, spec, va_arg(args.ap, Int128), false, 10); return true;
    case 'X': EmitInteger(out, spec, v3Int128FromU32(va_arg(args.ap, uint32_t)), false, 16); return true;
    case 'Y': EmitInteger(out, spec, v3Int128FromU64(va_arg(args.ap, uint64_t)), false, 16); return true;
    case 'Z': EmitInteger(out, spec, va_arg(args.ap, Int128), false, 16); return true;
    case 'f': EmitDouble(out, spec, va_arg(args.ap, double), false); return true;
    case 'F': EmitDouble(out, spec, va_arg(args.ap, double), true); return true;
    case 'p': EmitPointer(out, spec, va_arg(args.ap, const void*)); return true;
    case '%': EmitPadded(out, spec, "", "%", 1, false); return true;
    default: return false;
    }
}

// Reads flags, width and precision after a "%"; p ends on the conversion
// character (or the terminator).
Spec ReadSpec(const char*& p, Args& args) {
    Spec spec;
    for (;; ++p) {
        if (*p == '-') spec.left = true;
        else if (*p == '0') spec.zero = true;
        else break;
    }
    if (*p == '*') {
        ++p;
        int w = va_arg(args.ap, int);
        if (w < 0) {
            spec.left = true;
            // -INT_MIN would overflow; anything that negative is capped anyway.
            w = w < -kV3FormatMaxField ? kV3FormatMaxField : -w;
        }
        spec.width = CapField(w);
    } else {
        spec.width = ReadField(p);
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            ++p;
            int prec = va_arg(args.ap, int);
            spec.precision = prec < 0 ? -1 : CapField(prec);
        } else {
            spec.precision = ReadField(p);
        }
    }
    return spec;
}

}  // namespace

uint64_t v3Format(FormatSink& sink, const char* fmt, va_list ap) {
    if (fmt == nullptr) return 0;
    CountingOut out(sink);
    Args args;
    va_copy(args.ap, ap);
    const char* p = fmt;
    while (*p != '\0') {
        if (*p != '%') {
            const char* run = p;
            while (*p != '\0' && *p != '%') ++p;
            out.Put(run, static_cast<size_t>(p - run));
            continue;
        }
        const char* start = p++;
        Spec spec = ReadSpec(p, args);
        if (*p == '\0') {
            out.Put(start, static_cast<size_t>(p - start));
            break;
        }
        char conv = *p++;
        if (!Convert(out, spec, conv, args)) out.Put(start, static_cast<size_t>(p - start));
    }
    va_end(args.ap);
    return out.count();
}
