#include "net/download.h"

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

void ReportTotal(uint32_t total) {
    if (LogLevelOn(3)) LogPrint("+ %u bytes downloaded\n", total);
}

// The blocks are read straight from the body: the leading CR LF rule of
// reply records would drop two bytes of a file that happens to start with
// them. The download ends where the body ends by its own framing (length
// reached, last chunk, or the server's close), so a body that is a whole
// number of blocks long ends cleanly, and one that is cut off fails. What
// arrived before a failure is written all the same.
int ReadBody(v3HTTPConnection* conn, BlockWriter* out) {
    uint32_t total = 0;
    while (!conn->body_ended) {
        uint32_t count = 0;
        const int r = v3HTTPRecv(out->Block(), &count, conn, kDownloadBlock, kExchangeTimeoutMs);
        if (r != kHTTPOk || (count == 0 && !conn->body_ended)) {
            if (LogLevelOn(3)) LogPrint("Network Receive Timeout\n");
            out->Flush();
            return -1;
        }
        if (count == 0) break;
        if (!out->Commit(count)) return -1;
        total += count;
        ReportTotal(total);
    }
    return out->Flush() ? 0 : -1;
}

int DownloadDirect(const char* host, const char* path, BlockWriter* out) {
    char url[128];
    v3StringPrint(url, sizeof url, "http://%.100s/", host);
    const ClientState& s = gClientState;
    v3HTTPConnection conn{};
    if (v3HTTPOpen(&conn, url, s.proxy_address, s.proxy_port, GivenOrNull(s.proxy_name),
                   GivenOrNull(s.proxy_password), nullptr, nullptr) != kHTTPOk) {
        if (LogLevelOn(3)) LogPrint("Could not download '%s'\n", host);
        return -1;
    }
    uint32_t status = 0;
    int result;
    if (v3HTTPGet(&conn, &status, path, kExchangeTimeoutMs) != kHTTPOk || status != 200) {
        if (LogLevelOn(3)) LogPrint("- Error: HTTP GET returned error code %d\n", static_cast<int>(status));
        result = -1;
    } else {
        result = ReadBody(&conn, out);
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
    uint32_t total = 0;
    int result = 0;
    bool written = true;
    for (;;) {
        uint32_t got = 0;
        if (SystemRequestRead(request, out->Block(), kDownloadBlock, &got) != 0) {
            result = -1;
            break;
        }
        if (got == 0) break;
        if (!out->Commit(got)) {
            written = false;
            break;
        }
        total += got;
        ReportTotal(total);
    }
    if (!out->Flush() || !written) {
        if (LogLevelOn(3)) LogPrint("Couldn't write core data to disk. Disk full?\n");
        result = -1;
    }
    SystemRequestClose(request);
    return result;
}

}  // namespace

int DownloadFile(const char* host, const char* path, const char* local_file) {
    if (host == nullptr || path == nullptr || local_file == nullptr) return -1;
    ScopedFile file;
    if (v3FileOpen(file.get(), local_file, kFileModeWrite | kFileModeCreate | kFileModeTruncate) !=
        kFileOk) {
        if (LogLevelOn(3)) LogPrint("- Could not open %s for writing", local_file);
        return -1;
    }
    AskNetworkPermission();
    BlockWriter out(file.get(), kDownloadBlock);
    if (!out.ok()) return -1;
    if (gClientState.usereg) return DownloadSystem(host, path, &out);
    return DownloadDirect(host, path, &out);
}
