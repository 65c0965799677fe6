// Reads an integer from text into a 4-, 8- or 16-byte destination.
#pragma once

#include <cstdint>

// dest: an int32/uint32 (size 4), int64/uint64 (size 8) or Int128 (size 16).
// is_signed: a leading "-" is accepted and the value must fit the signed
// range. base: 0 (from the text: "0x" 16, leading "0" 8, else 10) or 2..36.
// eight_bit: the text is 8-bit characters (the only form this client has;
// the flag is kept for callers that pass it).
// Leading white space is skipped; digits are read up to the first character
// that is not one of the base. Gives 0 and stores the value, or -1 (storing
// nothing) for a missing destination or text, a bad size or base, a "-"
// when unsigned, no digit, or a value that does not fit.
int v3ReadNumber(void* dest, uint32_t size, int is_signed, const char* text,
                 uint32_t base, int eight_bit);
