// The client's own formatting engine and its three outputs (console, open
// file, bounded text buffer).
//
// Conversion: "%" [flags "-" "0"] [width: digits or "*"] ["." precision:
// digits or "*"] conversion character.
//   c  32-bit character            s  text, cut to the precision
//   b  pointer to bytes: exactly precision bytes, zero bytes included
//   i j k  signed 32/64/128-bit decimal      u v w  unsigned 32/64/128-bit decimal
//   X Y Z  unsigned 32/64/128-bit upper-case hexadecimal, no prefix
//   f F  double in fixed notation, precision digits after the point (6 by
//        default); "f" spells infinity and NaN in lower case, "F" in upper
//   p  pointer as "0x" and 16 upper-case hexadecimal digits
//   %  a percent sign
// There is no length modifier; "*" width and precision take an int argument
// (a negative width means left-justify, a negative precision means none);
// 128-bit arguments are passed as Int128 by value. Precision is ignored by
// the integer conversions; "%b" without a precision writes no bytes. The "0"
// flag pads numbers only, after their "-" sign or "0x" prefix; text, and the
// words for infinity and NaN, are padded with blanks.
// A missing text prints as "(null)"; missing bytes print nothing.
//
// A specification whose conversion character is not in the table, or that
// the end of the format cuts short, is written out literally, from its "%"
// on; it consumes no argument beyond the "*" ones already read. Widths and
// precisions are capped at kV3FormatMaxField, so a hostile number can
// neither overflow them nor make one conversion unboundedly long.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "support/int128.h"

struct v3File;

// Largest width or precision the engine honours; larger ones are cut to it.
constexpr int kV3FormatMaxField = 4096;

// Console: formats to standard output and flushes it. Returns the number of
// characters written; no format gives 0.
int v3Print(const char* fmt, ...);
int v3VPrint(const char* fmt, va_list ap);

// Open file: formats into the file at its position. Returns the number of
// characters produced, or -1 when the file is missing or refused a write
// (what was written before the failure stays in the file).
int v3FilePrint(v3File* f, const char* fmt, ...);
int v3VFilePrint(v3File* f, const char* fmt, va_list ap);

// Text buffer: writes at most size - 1 characters and always a terminating
// zero byte (when size > 0). Returns the number of characters stored; no
// buffer, size 0 or no format gives 0 (a buffer of size >= 1 then holds "").
int v3StringPrint(char* buf, uint64_t size, const char* fmt, ...);
int v3VStringPrint(char* buf, uint64_t size, const char* fmt, va_list ap);
