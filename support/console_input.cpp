#include "support/console_input.h"

#include "support/platform/terminal.h"

namespace {

// One character of input, or -1 at the end of input. Standard input is read
// a byte at a time straight from its descriptor: nothing is read ahead and
// kept in a buffer, so a later reader (or a core) sees the rest of the input,
// and the end of input is seen the moment it comes.
int ReadChar(uint32_t mode) {
    if (mode == 1) return PlatformReadKey();
    char c;
    return PlatformStdinRead(&c, 1) == 1 ? static_cast<unsigned char>(c) : -1;
}

}  // namespace

uint64_t v3ReadLine(char* buf, uint64_t size, uint32_t mode) {
    if (buf == nullptr || size == 0) return 0;
    uint64_t stored = 0;
    bool any = false;
    bool pending_cr = false;  // a CR is stored only when no LF follows it
    auto store = [&](char c) {
        if (stored + 1 < size) buf[stored++] = c;  // the rest is dropped
    };
    for (;;) {
        int c = ReadChar(mode);
        if (c < 0) break;
        any = true;
        // A key press of Enter arrives as CR from a terminal in raw mode.
        if (c == '\n' || (mode == 1 && c == '\r')) break;
        if (pending_cr) store('\r');
        pending_cr = c == '\r';
        if (!pending_cr) store(static_cast<char>(c));
    }
    buf[stored] = '\0';
    return any ? stored : kV3InputEnd;
}

uint64_t v3ReadKeys(char* buf, uint64_t count, uint32_t mode) {
    if (buf == nullptr || count == 0) return 0;
    uint64_t got = 0;
    while (got < count) {
        int c = ReadChar(mode);
        if (c < 0) break;
        buf[got++] = static_cast<char>(c);
    }
    return got == 0 ? kV3InputEnd : got;
}
