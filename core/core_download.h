// Fetching a core: the bundle's name and download address, and the steps
// that replace the core file with a verified bundle's content.
#pragma once

#include <cstddef>
#include <cstdint>

struct ServerAccess;

// A core location is the Queue entry's field: at most 127 characters, a host
// (with an optional ":port") followed by a path that begins with "/".
inline constexpr size_t kCoreLocationMax = 127;
// Bit of the download options: the location's path already names the
// bundle's folder (or a bundle in it); the bundle name replaces any "Core_"
// file name at its end instead of being added as a new path element.
inline constexpr uint8_t kDownloadPathIsBundle = 0x10;

// "Core_%x.qrv" with at most 8 hexadecimal digits, and its terminator.
inline constexpr size_t kBundleNameSize = 18;

struct CoreDownloadAddress {
    char host[kCoreLocationMax + 1];
    char path[kCoreLocationMax + 1 + kBundleNameSize + 1];
};

// Writes "Core_%x.qrv" for core_type into out (kBundleNameSize bytes).
void MakeBundleName(char out[kBundleNameSize], uint32_t core_type);

// Splits location (read up to its terminator, at most kCoreLocationMax
// characters) at its first "/" after the first character: the host is what
// comes before it. With kDownloadPathIsBundle clear the path is the rest, a
// "/" and the bundle name; with it set, the rest cut before its first "Core_",
// then the bundle name. A location without a path asks for the bundle at the
// host's root ("/Core_78.qrv") either way. 0, or -1 for a missing or empty
// location and for one holding a blank or a control character (bytes up to
// 0x20, and 0x7F), which is said at level 3.
int MakeCoreDownloadAddress(CoreDownloadAddress* out, const char* location, uint8_t options,
                            uint32_t core_type);

// The last steps of a download: UnzipCore the bundle into the core file and,
// when that worked, remove the bundle. On failure the bundle stays on disk
// for the next download to overwrite. 0 or -1.
int InstallCoreBundle(const char* bundle_name, const char* core_file_name);

// Downloads (over the client's transport, with its network permission),
// verifies and unpacks the core of core_type from core_location. 0 when the
// core file has been replaced by a verified core, -1 otherwise.
int DownloadCore(const ServerAccess& access, uint32_t core_type, const char* core_file_name,
                 const char* core_location, uint8_t download_options);
