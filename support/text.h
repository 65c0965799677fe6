// Length-bounded text operations. Every one accepts a missing text and gives
// a defined result for it instead of crashing.
#pragma once

#include <cstdint>

// Length of a text; no text gives 0.
uint64_t v3StrLen(const char* text);

// Copies src with its terminator into dest of the given capacity. Gives -1,
// copying nothing, when either is missing, the capacity is 0 or src has
// capacity characters or more: a text that does not fit is refused whole,
// never cut. Otherwise 0.
int v3StrCopy(char* dest, const char* src, uint64_t capacity);

// Compares at most n characters, stopping at the first difference or at a
// terminator; gives the difference of the last two characters compared
// (as unsigned bytes), so 0 means equal over that span. A text that begins
// with the other compares equal when n is the shorter one's length. Two
// missing texts are equal (0); one missing text gives -1.
int v3StrCompare(const char* a, const char* b, uint64_t n);

// First occurrence of ch within the first n characters, stopping at the
// terminator; nullptr when not found or no text.
const char* v3StrFindChar(const char* text, char ch, uint64_t n);

// First occurrence of sought that ends within the first n characters of
// text; nullptr when not found or either text is missing. An empty sought
// text is found at the start.
const char* v3StrFind(const char* text, const char* sought, uint64_t n);

// Replaces every control character within the first n characters of text,
// up to its terminator, by '?': C0 (below 0x20) and 0x7F, each a byte; C1,
// as a byte 0x80 to 0x9F that is not part of a UTF-8 character, or as the
// UTF-8 form of U+0080 to U+009F (C2 80 to C2 9F, both bytes masked). Texts
// that servers send go through this before they are printed: an escape
// sequence (ESC [ or the one-byte CSI) or a carriage return in them would
// otherwise act on the volunteer's terminal, or forge lines in the log.
// Other text above 0x7F is kept: well-formed UTF-8 whole (its continuation
// bytes may lie in 0x80 to 0x9F), other bytes as Latin-1 letters.
void v3StrMaskControls(char* text, uint64_t n);
