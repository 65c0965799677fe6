// The client type (preferred work) and its keywords.
#pragma once

#include <cstdint>

// "tmx" gives 2, "qrv" gives 1, anything else (no text included) 0. Exact,
// case-sensitive comparison.
uint32_t ClientTypeFromKeyword(const char* keyword);

// 1 gives "qrv", 2 gives "tmx", anything else "no-pref".
const char* ClientTypeKeyword(uint32_t type);
