#include "support/text.h"

#include <cstring>

uint64_t v3StrLen(const char* text) {
    return text == nullptr ? 0 : std::strlen(text);
}

int v3StrCopy(char* dest, const char* src, uint64_t capacity) {
    if (dest == nullptr || src == nullptr || capacity == 0) return -1;
    // Measure only as far as the capacity: src need not be terminated within
    // it, and a cut copy would silently change a setting or a name.
    uint64_t len = 0;
    while (len < capacity && src[len] != '\0') ++len;
    if (len >= capacity) return -1;
    std::memmove(dest, src, len + 1);
    return 0;
}

int v3StrCompare(const char* a, const char* b, uint64_t n) {
    if (a == nullptr && b == nullptr) return 0;
    if (a == nullptr || b == nullptr) return -1;
    int diff = 0;
    for (uint64_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        diff = static_cast<int>(ca) - static_cast<int>(cb);
        if (diff != 0 || ca == '\0') break;
    }
    return diff;
}

const char* v3StrFindChar(const char* text, char ch, uint64_t n) {
    if (text == nullptr) return nullptr;
    for (uint64_t i = 0; i < n && text[i] != '\0'; ++i) {
        if (text[i] == ch) return text + i;
    }
    return nullptr;
}

const char* v3StrFind(const char* text, const char* sought, uint64_t n) {
    if (text == nullptr || sought == nullptr) return nullptr;
    uint64_t m = std::strlen(sought);
    if (m > n) return nullptr;
    // A match at i ends at i + m, which must lie within the first n
    // characters; strncmp stops at text's terminator, so a short text is
    // never read past.
    for (uint64_t i = 0; i <= n - m; ++i) {
        if (std::strncmp(text + i, sought, m) == 0) return text + i;
        if (text[i] == '\0') break;
    }
    return nullptr;
}

namespace {

// Length of the well-formed UTF-8 sequence that starts at text[i] and ends
// within the first n bytes, or 0 when none does: no overlong form (which
// could hide a control character from a check on its shortest form), no
// surrogate, nothing above U+10FFFF. A terminator is no continuation byte,
// so the text is never read past its end.
uint64_t Utf8SequenceAt(const unsigned char* text, uint64_t i, uint64_t n) {
    const unsigned char lead = text[i];
    uint64_t length = 0;
    unsigned char low = 0x80;   // the second byte's range, narrower after E0, ED, F0, F4
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (n - i < length || text[i + 1] < low || text[i + 1] > high) return 0;
    for (uint64_t k = 2; k < length; ++k) {
        if (text[i + k] < 0x80 || text[i + k] > 0xBF) return 0;
    }
    return length;
}

}  // namespace

void v3StrMaskControls(char* text, uint64_t n) {
    if (text == nullptr) return;
    auto* bytes = reinterpret_cast<unsigned char*>(text);
    uint64_t i = 0;
    while (i < n && bytes[i] != '\0') {
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F) bytes[i] = '?';
            ++i;
            continue;
        }
        const uint64_t length = Utf8SequenceAt(bytes, i, n);
        if (length == 2 && c == 0xC2 && bytes[i + 1] <= 0x9F) {
            // U+0080 to U+009F: the C1 controls as a UTF-8 terminal reads them.
            bytes[i] = '?';
            bytes[i + 1] = '?';
        } else if (length == 0 && c <= 0x9F) {
            // A lone byte 0x80 to 0x9F: a C1 control (0x9B starts a sequence
            // like ESC [) to a terminal that reads single bytes.
            bytes[i] = '?';
        }
        i += length != 0 ? length : 1;
    }
}
