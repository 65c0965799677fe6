#include "core/core_file.h"

#include <cstdio>

#include "support/file.h"

namespace {
constexpr uint32_t kPartnerEdition = 5;
}  // namespace

void MakeCoreFileName(char out[kCoreFileNameSize], uint32_t edition_code, uint32_t core_type) {
    std::snprintf(out, kCoreFileNameSize, "%s%x.exe",
                  edition_code == kPartnerEdition ? "VantorQrvCore_" : "QrvCore_", core_type);
}

bool CorePresent(const char* core_file) {
    v3FileStatusRecord status{};
    return v3FileStatus(&status, core_file) == kFileOk && status.size > 0;
}
