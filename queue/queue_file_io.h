// Reading queue.dat in pieces, shared by loading and conversion.
#pragma once

#include <cstddef>
#include <cstdint>

struct v3File;

// Reads up to n bytes at the file's position; the number read (fewer only at
// the end of the file or on a read error).
size_t ReadQueueBytes(v3File* file, uint8_t* out, size_t n);
