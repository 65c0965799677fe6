#include "support/number_reader.h"

#include <cstring>

#include "support/int128.h"

namespace {

// The text is either 8-bit characters or 16-bit units; only ASCII digits,
// signs and blanks mean anything to the reader, so a unit above 0xFF simply
// ends the number.
class TextCursor {
public:
    TextCursor(const char* text, bool eight_bit) : text_(text), eight_bit_(eight_bit) {}
    unsigned Peek(size_t ahead = 0) const {
        size_t i = pos_ + ahead;
        if (eight_bit_) return static_cast<unsigned char>(text_[i]);
        uint16_t unit;
        std::memcpy(&unit, text_ + 2 * i, sizeof unit);  // text may be unaligned
        return unit;
    }
    // Only ever called after Peek saw a non-terminator, so it cannot step
    // past the end of the text.
    void Next(size_t n = 1) { pos_ += n; }

private:
    const char* text_;
    bool eight_bit_;
    size_t pos_ = 0;
};

bool IsBlank(unsigned c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int DigitValue(unsigned c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'z') return static_cast<int>(c - 'a') + 10;
    if (c >= 'A' && c <= 'Z') return static_cast<int>(c - 'A') + 10;
    return 99;
}

uint32_t ChooseBase(TextCursor& cur) {
    if (cur.Peek() != '0') return 10;
    if (cur.Peek(1) == 'x' || cur.Peek(1) == 'X') {
        cur.Next(2);
        return 16;
    }
    return 8;
}

// Largest magnitude the destination holds: for a signed negative value one
// more than for a positive one. The reader counts in Int128, which needs no
// 128-bit type of the compiler (32-bit processors have none).
Int128 Limit(uint32_t size, bool is_signed, bool negative) {
    const uint32_t bits = size * 8;
    const Int128 all = v3Int128Shr(Int128{~uint64_t{0}, ~uint64_t{0}}, 128 - bits);
    if (!is_signed) return all;
    const Int128 half = v3Int128Shr(all, 1);  // 2^(bits-1) - 1
    return negative ? v3Int128Add(half, v3Int128FromU32(1)) : half;
}

void Store(void* dest, uint32_t size, Int128 v) {
    if (size == 4) {
        uint32_t x = static_cast<uint32_t>(v.low);
        std::memcpy(dest, &x, sizeof x);
    } else if (size == 8) {
        std::memcpy(dest, &v.low, sizeof v.low);
    } else {
        std::memcpy(dest, &v, sizeof v);
    }
}

}  // namespace

int v3ReadNumber(void* dest, uint32_t size, int is_signed, const char* text,
                 uint32_t base, int eight_bit) {
    if (dest == nullptr || text == nullptr) return -1;
    if (base == 1 || base > 36) return -1;
    if (size != 4 && size != 8 && size != 16) return -1;
    TextCursor cur(text, eight_bit != 0);
    while (IsBlank(cur.Peek())) cur.Next();
    bool negative = false;
    if (cur.Peek() == '-') {
        if (!is_signed) return -1;
        negative = true;
        cur.Next();
    }
    if (base == 0) base = ChooseBase(cur);
    const Int128 limit = Limit(size, is_signed != 0, negative);
    const Int128 radix = v3Int128FromU32(base);
    Int128 value{0, 0};
    int digits = 0;
    for (int d; (d = DigitValue(cur.Peek())) < static_cast<int>(base); cur.Next()) {
        // value * base + d must stay within the limit; checked by division so
        // the test itself cannot overflow.
        const Int128 digit = v3Int128FromU32(static_cast<uint32_t>(d));
        if (v3Int128UGreater(value, v3Int128UDiv(v3Int128Sub(limit, digit), radix))) return -1;
        value = v3Int128Add(v3Int128Mul(value, radix), digit);
        ++digits;
    }
    if (digits == 0) return -1;
    Store(dest, size, negative ? v3Int128Sub(Int128{0, 0}, value) : value);
    return 0;
}
