#include "support/number_reader.h"

#include <cstring>

#include "support/int128.h"

namespace {

using U128 = unsigned __int128;

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
// more than for a positive one.
U128 Limit(uint32_t size, bool is_signed, bool negative) {
    unsigned bits = size * 8;
    U128 all = bits == 128 ? ~static_cast<U128>(0) : ((static_cast<U128>(1) << bits) - 1);
    if (!is_signed) return all;
    U128 half = all >> 1;  // 2^(bits-1) - 1
    return negative ? half + 1 : half;
}

void Store(void* dest, uint32_t size, U128 v) {
    if (size == 4) {
        uint32_t x = static_cast<uint32_t>(v);
        std::memcpy(dest, &x, sizeof x);
    } else if (size == 8) {
        uint64_t x = static_cast<uint64_t>(v);
        std::memcpy(dest, &x, sizeof x);
    } else {
        Int128 x{static_cast<uint64_t>(v >> 64), static_cast<uint64_t>(v)};
        std::memcpy(dest, &x, sizeof x);
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
    const U128 limit = Limit(size, is_signed != 0, negative);
    U128 value = 0;
    int digits = 0;
    for (int d; (d = DigitValue(cur.Peek())) < static_cast<int>(base); cur.Next()) {
        // value * base + d must stay within the limit; checked by division so
        // the test itself cannot overflow.
        if (value > (limit - static_cast<U128>(d)) / base) return -1;
        value = value * base + static_cast<U128>(d);
        ++digits;
    }
    if (digits == 0) return -1;
    Store(dest, size, negative ? (0 - value) : value);
    return 0;
}
