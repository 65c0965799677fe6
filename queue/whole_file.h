// Whole-file reads and writes of small records: a core's progress record, a
// unit's work data.
#pragma once

#include <cstdint>

// Replaces path with length bytes of data, atomically: a crash or a full
// disk leaves the old file whole, never a part of the new one. 0, or -1 when
// the file could not be replaced.
int WriteWholeFile(const void* data, uint64_t length, const char* path);

// Reads up to capacity bytes of path into buffer; *length (may be null)
// receives the count. 0 when at least one byte was read, else -1.
int ReadWholeFile(void* buffer, uint64_t capacity, uint64_t* length, const char* path);
