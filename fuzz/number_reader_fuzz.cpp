// v3ReadNumber on arbitrary text, every destination size, signedness and
// base, in both character widths.
//
// The answer is checked against a reading done here with an unbounded
// number (so no overflow can hide in it): the reader must accept exactly the
// texts whose digit run fits the destination, store exactly that value, and
// write nothing else (the destination sits between guard bytes; a refused
// text leaves it untouched).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/fuzz_check.h"
#include "support/number_reader.h"

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the expected bytes are built little-endian, as the host stores them");

constexpr size_t kGuard = 16;
constexpr unsigned char kGuardByte = 0x5A;

// Little-endian magnitude in 32-bit limbs.
using Big = std::vector<uint32_t>;

void MulAdd(Big& v, uint32_t mul, uint32_t add) {
    uint64_t carry = add;
    for (uint32_t& limb : v) {
        const uint64_t x = uint64_t{limb} * mul + carry;
        limb = static_cast<uint32_t>(x);
        carry = x >> 32;
    }
    if (carry != 0) v.push_back(static_cast<uint32_t>(carry));
}

unsigned BitLength(const Big& v) {
    for (size_t i = v.size(); i-- > 0;) {
        if (v[i] != 0) return static_cast<unsigned>(i * 32 + 32 - __builtin_clz(v[i]));
    }
    return 0;
}

bool IsPowerOfTwo(const Big& v) {
    unsigned ones = 0;
    for (uint32_t limb : v) ones += static_cast<unsigned>(__builtin_popcount(limb));
    return ones == 1;
}

// The value as `size` little-endian bytes of two's complement.
std::vector<unsigned char> Bytes(const Big& v, uint32_t size, bool negative) {
    std::vector<unsigned char> out(size, 0);
    for (size_t i = 0; i < size && i / 4 < v.size(); ++i) {
        out[i] = static_cast<unsigned char>(v[i / 4] >> (8 * (i % 4)));
    }
    if (negative) {
        unsigned carry = 1;
        for (auto& b : out) {
            const unsigned x = static_cast<unsigned char>(~b) + carry;
            b = static_cast<unsigned char>(x);
            carry = x >> 8;
        }
    }
    return out;
}

int Digit(unsigned c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'z') return static_cast<int>(c - 'a') + 10;
    if (c >= 'A' && c <= 'Z') return static_cast<int>(c - 'A') + 10;
    return 99;
}

struct Expectation {
    bool ok = false;
    std::vector<unsigned char> bytes;
};

// The reading as the header describes it, over the characters `units`
// (terminated by a 0).
Expectation Expect(const std::vector<unsigned>& units, uint32_t size, bool is_signed,
                   uint32_t base) {
    Expectation e;
    size_t i = 0;
    while (units[i] == ' ' || (units[i] >= '\t' && units[i] <= '\r')) ++i;
    bool negative = false;
    if (units[i] == '-') {
        if (!is_signed) return e;
        negative = true;
        ++i;
    }
    if (base == 0) {
        if (units[i] != '0') {
            base = 10;
        } else if (units[i + 1] == 'x' || units[i + 1] == 'X') {
            base = 16;
            i += 2;
        } else {
            base = 8;
        }
    }
    Big value;
    size_t digits = 0;
    for (; Digit(units[i]) < static_cast<int>(base); ++i, ++digits) {
        MulAdd(value, base, static_cast<uint32_t>(Digit(units[i])));
    }
    if (digits == 0) return e;
    const unsigned bits = BitLength(value);
    const unsigned width = size * 8;
    bool fits;
    if (!is_signed) fits = bits <= width;
    else if (!negative) fits = bits <= width - 1;
    else fits = bits <= width - 1 || (bits == width && IsPowerOfTwo(value));
    if (!fits) return e;
    e.ok = true;
    e.bytes = Bytes(value, size, negative && bits != 0);
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    static constexpr uint32_t kSizes[] = {4, 8, 16};
    const uint32_t dest_size = kSizes[fdp.ConsumeIntegralInRange<int>(0, 2)];
    const bool is_signed = fdp.ConsumeBool();
    const bool eight_bit = fdp.ConsumeBool();
    // Mostly the bases the client uses; now and then any, the refused ones too.
    uint32_t base = fdp.ConsumeIntegralInRange<uint32_t>(0, 40);
    if (base > 36 && base != 40) base = base == 37 ? 10 : 16;
    const std::string text = fdp.ConsumeRemainingBytesAsString();

    // The text in the chosen width, as an exactly sized heap block so that a
    // read past its terminator is an ASan report.
    std::vector<unsigned> units;
    std::vector<char> block;
    if (eight_bit) {
        const std::string s = text.c_str();
        for (unsigned char c : s) units.push_back(c);
        block.assign(s.begin(), s.end());
        block.push_back('\0');
    } else {
        for (size_t i = 0; i + 1 < text.size(); i += 2) {
            const unsigned u = static_cast<unsigned char>(text[i]) |
                               static_cast<unsigned>(static_cast<unsigned char>(text[i + 1])) << 8;
            if (u == 0) break;
            units.push_back(u);
            block.push_back(text[i]);
            block.push_back(text[i + 1]);
        }
        block.push_back('\0');
        block.push_back('\0');
    }
    units.push_back(0);
    std::unique_ptr<char[]> exact(new char[block.size()]);
    std::memcpy(exact.get(), block.data(), block.size());

    unsigned char area[2 * kGuard + 16];
    std::memset(area, kGuardByte, sizeof area);
    unsigned char* dest = area + kGuard;
    const int rc = v3ReadNumber(dest, dest_size, is_signed ? 1 : 0, exact.get(), base,
                                eight_bit ? 1 : 0);
    for (size_t i = 0; i < sizeof area; ++i) {
        if (i < kGuard || i >= kGuard + dest_size) FUZZ_CHECK(area[i] == kGuardByte);
    }

    if (base == 1 || base > 36) {
        FUZZ_CHECK(rc == -1);
        return 0;
    }
    const Expectation want = Expect(units, dest_size, is_signed, base);
    if (!want.ok) {
        FUZZ_CHECK(rc == -1);
        for (size_t i = 0; i < dest_size; ++i) FUZZ_CHECK(dest[i] == kGuardByte);
        return 0;
    }
    FUZZ_CHECK(rc == 0);
    // Int128 keeps its high half first; the other sizes are host order.
    std::vector<unsigned char> got(dest, dest + dest_size);
    if (dest_size == 16) {
        std::vector<unsigned char> swapped(got.begin() + 8, got.end());
        swapped.insert(swapped.end(), got.begin(), got.begin() + 8);
        got = swapped;
    }
    FUZZ_CHECK(got == want.bytes);
    return 0;
}
