#include "net/download.h"

#include <cstring>

#include "log/log.h"
#include "net/block_writer.h"
#include "net/network_permission.h"
#include "net/server_access.h"
#include "net/transport.h"
#include "support/file.h"
#include "support/format.h"

namespace {

// Adds count to the total and reports it; false, with the reason, when the
// body would grow past kCoreBundleMax. The count is 64 bits wide, so no
// total wraps before the cap is reached.
bool CountBlock(uint64_t* total, uint32_t count, const char* path) {
    if (count > kCoreBundleMax - *total) {
        LogAt(kLogNormal, "- Download of %s stopped: more than %llu bytes\n", path,
              static_cast<unsigned long long>(kCoreBundleMax));
        return false;
    }
    *total += count;
    LogAt(kLogNormal, "+ %llu bytes downloaded\n", static_cast<unsigned long long>(*total));
    return true;
}

// Says that the body could not be written and fails the download.
int WriteFailed() {
    LogAt(kLogNormal, "Couldn't write core data to disk. Disk full?\n");
    return -1;
}

// The blocks are read straight from the body: the leading CR LF rule of
// reply records would drop two bytes of a file that happens to start with
// them. The download ends where the body ends by its own framing, which each
// transport reads for itself.
int ReadBody(Connection& body, BlockWriter* out, const char* path) {
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        if (body.ReadSome(out->Block(), kDownloadBlock, &got) != 0) return -1;
        if (got == 0) break;
        if (!CountBlock(&total, got, path)) return -1;
        if (!out->Commit(got)) return WriteFailed();
    }
    return out->Flush() ? 0 : WriteFailed();
}

// The file a body is written into: made new next to the local file, so that
// neither an existing file nor one that a symbolic link placed there leads
// to is ever written, and renamed over the local file (which replaces a
// link rather than following it) only once the whole body is in. Anything
// else removes it, so no part of a failed download stays behind.
class PartFile {
public:
    PartFile() = default;
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile() {
        if (file_.open) v3FileClose(&file_);
        if (made_) v3FileRemove(file_.path);
    }

    int Open(const char* local_file) {
        const size_t length = std::strlen(local_file);
        if (length > kFilePathMax) return kFileErrPathTooLong;
        char name[kFilePathMax + sizeof kDownloadPartTail];
        std::memcpy(name, local_file, length);
        std::memcpy(name + length, kDownloadPartTail, sizeof kDownloadPartTail);
        const int rc = v3FileOpen(&file_, name, kFileModeWrite | kFileModeTemp);
        made_ = rc == kFileOk;
        return rc;
    }
    v3File* get() { return &file_; }
    int KeepAs(const char* local_file) {
        if (v3FileClose(&file_) != kFileOk) return kFileErrFailed;
        const int rc = v3FileRename(file_.path, local_file);
        if (rc == kFileOk) made_ = false;
        return rc;
    }

private:
    v3File file_{};
    bool made_ = false;
};

}  // namespace

int DownloadFile(const ServerAccess& access, const char* host, const char* path, const char* local_file) {
    if (host == nullptr || path == nullptr || local_file == nullptr) return -1;
    PartFile part;
    if (part.Open(local_file) != kFileOk) {
        LogAt(kLogNormal, "- Could not open %s for writing", local_file);
        return -1;
    }
    AskNetworkPermission(access.permission);
    BlockWriter out(part.get(), kDownloadBlock);
    if (!out.ok()) return -1;
    const std::unique_ptr<Connection> body = access.transport.Get(host, path);
    if (!body || ReadBody(*body, &out, path) != 0) return -1;
    body->Close();
    if (part.KeepAs(local_file) != kFileOk) {
        LogAt(kLogNormal, "- Could not store the download as %s\n", local_file);
        return -1;
    }
    return 0;
}
