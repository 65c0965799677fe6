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

void v3StrMaskControls(char* text, uint64_t n) {
    if (text == nullptr) return;
    for (uint64_t i = 0; i < n && text[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) text[i] = '?';
    }
}
