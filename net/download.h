// Downloading one file by HTTP GET into a local file, in blocks of 10,240
// bytes, over the client's transport.
#pragma once

#include <cstdint>

struct ServerAccess;

inline constexpr uint32_t kDownloadBlock = 10240;

// Largest body a download takes. What the client downloads are core
// bundles, a few MiB each; an answer that runs on without end must not fill
// the disk.
inline constexpr uint64_t kCoreBundleMax = 64u << 20;

// A body is written into a new file named local_file with this tail, whose
// X's the system replaces by six letters or digits of its choice.
inline constexpr char kDownloadPartTail[] = ".part-XXXXXX";

// host: a host name or address, optionally ":" and a port; path: the
// absolute path on that host (beginning with "/"). Asks the network
// permission first. 0 when the whole body was written to local_file, -1
// otherwise. The body goes into a new file next to local_file, which takes
// local_file's place (a symbolic link there is replaced, never followed)
// only once the whole body is in; after a failure it is removed and
// local_file is left as it was.
int DownloadFile(const ServerAccess& access, const char* host, const char* path, const char* local_file);
