// Downloading one file by HTTP GET into a local file, in blocks of 10,240
// bytes, over the transport the usereg setting chooses.
#pragma once

#include <cstdint>

inline constexpr uint32_t kDownloadBlock = 10240;

// host: a host name or address, optionally ":" and a port; path: the
// absolute path on that host (beginning with "/"). 0 when the whole body was
// written to local_file, -1 otherwise (whatever was written stays there).
int DownloadFile(const char* host, const char* path, const char* local_file);
