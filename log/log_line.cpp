#include "log/log_line.h"

#include <algorithm>

#include "log/log.h"

size_t ComposeLogBytes(const char* text, size_t length, char* out) {
    const size_t take = std::min(length, kLogWriteMax);
    size_t n = 0;
    size_t i = 0;
    for (; i < take; ++i) {
        const char c = text[i];
        const bool pair = c == '\n' || (c == '\r' && i + 1 < take && text[i + 1] == '\n');
        if (pair) {
            // A line end goes in whole or not at all: a lone carriage return
            // at the end of a write would glue two lines of the file together.
            if (n + 2 > kLogWriteMax) break;
            out[n++] = '\r';
            out[n++] = '\n';
            if (c == '\r') ++i;
            continue;
        }
        if (c == '\r' && i + 1 == take && take < length && text[take] == '\n') break;
        if (n + 1 > kLogWriteMax) break;
        out[n++] = c;
    }
    const bool complete = i >= length;
    if (!complete && length > 0 && text[length - 1] == '\n') {
        // The cut took the line end with it; put it back at the cost of the
        // last characters of the text, never of the line structure.
        n = std::min(n, kLogWriteMax - 2);
        if (n > 0 && out[n - 1] == '\r') --n;
        out[n++] = '\r';
        out[n++] = '\n';
    }
    return n;
}

size_t CutLogMessage(char* message, size_t full_length, bool ends_with_newline) {
    if (full_length <= kLogMessageMax) return full_length;
    message[kLogMessageMax] = '\0';
    if (ends_with_newline) message[kLogMessageMax - 1] = '\n';
    return kLogMessageMax;
}
