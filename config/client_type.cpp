#include "config/client_type.h"

#include "support/text.h"

namespace {

// Longer than any keyword, so comparing this far means comparing whole words.
constexpr uint64_t kKeywordCompare = 32;

}  // namespace

uint32_t ClientTypeFromKeyword(const char* keyword) {
    if (keyword == nullptr) return 0;
    if (v3StrCompare(keyword, "tmx", kKeywordCompare) == 0) return 2;
    if (v3StrCompare(keyword, "qrv", kKeywordCompare) == 0) return 1;
    return 0;
}

const char* ClientTypeKeyword(uint32_t type) {
    switch (type) {
        case 1:
            return "qrv";
        case 2:
            return "tmx";
        default:
            return "no-pref";
    }
}
