// Line and key input from the console.
#pragma once

#include <cstdint>

// Returned by both readers at the end of input when nothing was read.
constexpr uint64_t kV3InputEnd = ~static_cast<uint64_t>(0);

// Reads up to a line feed or the end of input, stores at most size - 1
// characters plus a terminator (the rest of a long line is read and dropped;
// the line feed and a carriage return before it are not stored). Mode 1
// reads single key presses from the terminal (standard input when it is not
// a terminal). Gives the number stored or kV3InputEnd.
uint64_t v3ReadLine(char* buf, uint64_t size, uint32_t mode);

// Reads exactly count characters (fewer at the end of input) into buf; buf is
// not terminated. Mode 1 as above. Gives the number read or kV3InputEnd.
uint64_t v3ReadKeys(char* buf, uint64_t count, uint32_t mode);
