#include "core/core_parts.h"

#include <cstring>

#include "net/download.h"
#include "support/dir.h"
#include "support/file.h"

namespace {

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsLetterOrDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The part tail without its six X's.
constexpr size_t kTailStem = sizeof kDownloadPartTail - 1 - 6;

}  // namespace

bool IsCoreBundlePartName(const char* name) {
    if (name == nullptr || std::strncmp(name, "Core_", 5) != 0) return false;
    const char* at = name + 5;
    size_t digits = 0;
    while (digits < 9 && IsLowerHex(at[digits])) ++digits;
    if (digits == 0 || digits > 8) return false;
    at += digits;
    if (std::strncmp(at, ".qrv", 4) != 0) return false;
    at += 4;
    if (std::strncmp(at, kDownloadPartTail, kTailStem) != 0) return false;
    at += kTailStem;
    for (int i = 0; i < 6; ++i) {
        if (!IsLetterOrDigit(at[i])) return false;
    }
    return at[6] == '\0';
}

uint32_t RemoveCoreBundleParts() {
    v3Dir folder{};
    if (v3DirOpen(&folder, ".", kDirModeList) != kDirOk) return 0;
    uint32_t removed = 0;
    char name[256];
    while (v3DirNext(&folder, name, sizeof name) == kDirOk) {
        // Removing a name never removes a folder, so a folder of such a
        // name fails here and stays.
        if (IsCoreBundlePartName(name) && v3FileRemove(name) == kFileOk) ++removed;
    }
    v3DirClose(&folder);
    return removed;
}
