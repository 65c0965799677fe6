#include "support/string_append.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

void AppendPrintf(std::string& text, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    va_list again;
    va_copy(again, ap);
    const int n = vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    if (n > 0) {
        std::vector<char> piece(static_cast<size_t>(n) + 1);
        vsnprintf(piece.data(), piece.size(), format, again);
        text.append(piece.data(), static_cast<size_t>(n));
    }
    va_end(again);
}
