#include "core/core_download.h"

#include <cstdio>
#include <cstring>

#include "core/unzip_core.h"
#include "log/log.h"
#include "net/download.h"
#include "support/file.h"

namespace {

// Copies at most n characters of src and a terminator; out has room for them.
void CopyPart(char* out, const char* src, size_t n) {
    std::memcpy(out, src, n);
    out[n] = '\0';
}

// The bundle is fetched into its own file; the core file is touched only
// once the bundle has been verified.
int FetchCoreBundle(const ServerAccess& access, const CoreDownloadAddress& address,
                    const char* bundle_name) {
    return DownloadFile(access, address.host, address.path, bundle_name);
}

}  // namespace

void MakeBundleName(char out[kBundleNameSize], uint32_t core_type) {
    std::snprintf(out, kBundleNameSize, "Core_%x.qrv", core_type);
}

int MakeCoreDownloadAddress(CoreDownloadAddress* out, const char* location, uint8_t options,
                            uint32_t core_type) {
    if (out == nullptr || location == nullptr) return -1;
    // The field need not hold a terminator when it is full.
    const size_t length = strnlen(location, kCoreLocationMax);
    if (length == 0) return -1;
    // The location goes into the request line and the Host header as it
    // stands: a line break in it would end the request early and let the
    // server append one of its own choosing (sent through the volunteer's
    // proxy, with the proxy's credentials), and a blank would split the
    // request line. No valid host or path holds either.
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(location[i]);
        if (c > 0x20 && c != 0x7F) continue;
        LogAt(kLogNormal, "- Refused core location: it holds a blank or a control character\n");
        return -1;
    }

    // The first character always belongs to the host.
    size_t slash = 1;
    while (slash < length && location[slash] != '/') ++slash;
    CopyPart(out->host, location, slash);

    char rest[kCoreLocationMax + 1];
    CopyPart(rest, location + slash, length - slash);
    char bundle[kBundleNameSize];
    MakeBundleName(bundle, core_type);

    if (rest[0] == '\0') {
        std::snprintf(out->path, sizeof out->path, "/%s", bundle);
    } else if (options & kDownloadPathIsBundle) {
        if (char* old_name = std::strstr(rest, "Core_")) *old_name = '\0';
        std::snprintf(out->path, sizeof out->path, "%s%s", rest, bundle);
    } else {
        std::snprintf(out->path, sizeof out->path, "%s/%s", rest, bundle);
    }
    return 0;
}

int InstallCoreBundle(const char* bundle_name, const char* core_file_name) {
    if (UnzipCore(bundle_name, core_file_name) != 0) {
        LogAt(kLogNormal, "+ Error: Could not %s core\n", "extract");
        return -1;
    }
    LogAt(kLogNormal, "+ Core successfully engaged\n");
    v3FileDelete(bundle_name);  // a bundle left behind is overwritten next time
    return 0;
}

int DownloadCore(const ServerAccess& access, uint32_t core_type, const char* core_file_name,
                 const char* core_location, uint8_t download_options) {
    LogAt(kLogNormal, "+ Downloading new core: %s\n", core_file_name);
    CoreDownloadAddress address;
    char bundle[kBundleNameSize];
    MakeBundleName(bundle, core_type);
    // An empty location names no host; the work fetch refuses those, so none
    // should arrive here.
    if (MakeCoreDownloadAddress(&address, core_location, download_options, core_type) != 0) {
        LogAt(kLogNormal, "+ Error: Could not %s core\n", "download");
        return -1;
    }
    LogAt(kLogDiagnostic, "Downloading core (%s from %s)\n", address.path, address.host);
    if (FetchCoreBundle(access, address, bundle) != 0) {
        LogAt(kLogNormal, "+ Error: Could not %s core\n", "download");
        return -1;
    }
    return InstallCoreBundle(bundle, core_file_name);
}
