// Keywords of the client type (the kind of work the volunteer prefers).
#pragma once

#include <cstdint>

inline constexpr uint16_t kClientTypeNoPreference = 0;
inline constexpr uint16_t kClientTypeQrv = 1;  // the project's own units
inline constexpr uint16_t kClientTypeTmx = 2;  // the sister project's units

// "tmx" gives 2, "qrv" 1, anything else (no text included) 0; compared
// case-sensitively.
uint16_t ClientTypeFromKeyword(const char* text);
// 1 gives "qrv", 2 "tmx", anything else "no-pref".
const char* ClientTypeKeyword(uint32_t type);
