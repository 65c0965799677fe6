// The core program a unit needs, by its core type.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for the longest name: the partner prefix, 8 hex digits and ".exe".
inline constexpr size_t kCoreFileNameSize = 32;

// "%s%x.exe" with the prefix "QrvCore_", or "VantorQrvCore_" in the partner
// edition (edition code 5), and the core type in lower-case hexadecimal.
void MakeCoreFileName(char out[kCoreFileNameSize], uint32_t edition_code, uint32_t core_type);

// True when the core file exists and is not empty.
bool CorePresent(const char* core_file);
