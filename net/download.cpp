#include "net/download.h"

#include <cstring>

#include "client/client_state.h"
#include "log/log.h"
#include "net/block_writer.h"
#include "net/connection.h"
#include "net/http_client.h"
#include "net/network_permission.h"
#include "net/system_transport.h"
#include "support/file.h"
#include "support/format.h"

namespace {

const char* GivenOrNull(const char* text) { return text[0] != '\0' ? text : nullptr; }

// Adds count to the total and reports it; false, with the reason, when the
// body would grow past kCoreBundleMax. The count is 64 bits wide, so no
// total wraps before the cap is reached.
bool CountBlock(uint64_t* total, uint32_t count, const char* path) {
    if (count > kCoreBundleMax - *total) {
        if (LogLevelOn(3)) {
            LogPrint("- Download of %s stopped: more than %llu bytes\n", path,
                     static_cast<unsigned long long>(kCoreBundleMax));
        }
        return false;
    }
    *total += count;
    if (LogLevelOn(3)) LogPrint("+ %llu bytes downloaded\n", static_cast<unsigned long long>(*total));
    return true;
}

// The blocks are read straight from the body: the leading CR LF rule of
// reply records would drop two bytes of a file that happens to start with
// them. The download ends where the body ends by its own framing (length
// reached, last chunk, or the server's close), so a body that is a whole
// number of blocks long ends cleanly, and one that is cut off fails.
int ReadBody(v3HTTPConnection* conn, BlockWriter* out, const char* path) {
    uint64_t total = 0;
    while (!conn->body_ended) {
        uint32_t count = 0;
        const int r = v3HTTPRecv(out->Block(), &count, conn, kDownloadBlock, kExchangeTimeoutMs);
        if (r != kHTTPOk || (count == 0 && !conn->body_ended)) {
            if (LogLevelOn(3)) LogPrint("Network Receive Timeout\n");
            return -1;
        }
        if (count == 0) break;
        if (!CountBlock(&total, count, path)) return -1;
        if (!out->Commit(count)) return -1;
    }
    return out->Flush() ? 0 : -1;
}

int DownloadDirect(const char* host, const char* path, BlockWriter* out) {
    char url[128];
    v3StringPrint(url, sizeof url, "http://%.100s/", host);
    const ClientState& s = gClientState;
    v3HTTPConnection conn{};
    if (v3HTTPOpen(&conn, url, s.proxy.address, s.proxy.port, GivenOrNull(s.proxy.name),
                   GivenOrNull(s.proxy.password), nullptr, nullptr) != kHTTPOk) {
        if (LogLevelOn(3)) LogPrint("Could not download '%s'\n", host);
        return -1;
    }
    uint32_t status = 0;
    int result;
    if (v3HTTPGet(&conn, &status, path, kExchangeTimeoutMs) != kHTTPOk || status != 200) {
        if (LogLevelOn(3)) LogPrint("- Error: HTTP GET returned error code %d\n", static_cast<int>(status));
        result = -1;
    } else {
        result = ReadBody(&conn, out, path);
    }
    v3HTTPClose(&conn);
    return result;
}

// Host text "name[:port]" for the system transport; a port outside
// 1..65535 (or no number) falls back to 80.
uint16_t SplitHostPort(char* name) {
    char* colon = nullptr;
    for (char* p = name; *p != '\0'; ++p) {
        if (*p == ':') {
            colon = p;
            break;
        }
    }
    if (colon == nullptr) return 80;
    *colon = '\0';
    uint32_t port = 0;
    for (const char* p = colon + 1; *p >= '0' && *p <= '9' && port < 65536; ++p) {
        port = port * 10 + static_cast<uint32_t>(*p - '0');
    }
    if (port == 0 || port >= 65536) {
        if (LogLevelOn(3)) LogPrint("Bad server port specified for download. Using default\n");
        return 80;
    }
    return static_cast<uint16_t>(port);
}

int DownloadSystem(const char* host, const char* path, BlockWriter* out) {
    char name[140];
    v3StringPrint(name, sizeof name, "%.139s", host);
    const uint16_t port = SplitHostPort(name);
    CliConnection handle{};
    if (CliWinINetRequest("GET", path, name, port, nullptr, 0, nullptr, 0, 1, &handle) != 0) {
        if (LogLevelOn(3)) LogPrint("Couldn't download %s\n", host);
        return -1;
    }
    auto* request = static_cast<SystemRequest*>(handle.record);
    uint64_t total = 0;
    int result = 0;
    bool written = true;
    for (;;) {
        uint32_t got = 0;
        if (SystemRequestRead(request, out->Block(), kDownloadBlock, &got) != 0) {
            result = -1;
            break;
        }
        if (got == 0) break;
        if (!CountBlock(&total, got, path)) {
            result = -1;
            break;
        }
        if (!out->Commit(got)) {
            written = false;
            break;
        }
    }
    if (!out->Flush() || !written) {
        if (LogLevelOn(3)) LogPrint("Couldn't write core data to disk. Disk full?\n");
        result = -1;
    }
    SystemRequestClose(request);
    return result;
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
        static const char kTail[] = ".part-XXXXXX";
        const size_t length = std::strlen(local_file);
        if (length > kFilePathMax) return kFileErrPathTooLong;
        char name[kFilePathMax + sizeof kTail];
        std::memcpy(name, local_file, length);
        std::memcpy(name + length, kTail, sizeof kTail);
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

int DownloadFile(const char* host, const char* path, const char* local_file) {
    if (host == nullptr || path == nullptr || local_file == nullptr) return -1;
    PartFile part;
    if (part.Open(local_file) != kFileOk) {
        if (LogLevelOn(3)) LogPrint("- Could not open %s for writing", local_file);
        return -1;
    }
    AskNetworkPermission(gClientState.permission);
    BlockWriter out(part.get(), kDownloadBlock);
    if (!out.ok()) return -1;
    const int result = gClientState.usereg ? DownloadSystem(host, path, &out)
                                           : DownloadDirect(host, path, &out);
    if (result != 0) return -1;
    if (part.KeepAs(local_file) != kFileOk) {
        if (LogLevelOn(3)) LogPrint("- Could not store the download as %s\n", local_file);
        return -1;
    }
    return 0;
}
