#include "net/system_transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "version.h"
#include "net/body_pace.h"
#include "net/deadline.h"
#include "support/platform/socket.h"

struct SystemRequest {
    CURLM* session = nullptr;
    CURL* connection = nullptr;
    curl_slist* headers = nullptr;
    bool attached = false;  // connection added to the session

    long code = 0;           // status of the latest status line seen
    bool head_done = false;  // the final answer's head is complete
    bool finished = false;
    CURLcode result = CURLE_OK;

    // The read in progress.
    uint8_t* dest = nullptr;
    uint32_t want = 0;
    uint32_t got = 0;
    // The part of the library's last piece that the read did not need.
    std::string spill;
    size_t spill_pos = 0;
    bool paused = false;
    // The request up to the end of its answer's head.
    ReadDeadline deadline;
    // The body after it, held to the low-speed rule from the moment the
    // head is in.
    BodyPace pace;
    bool in_body = false;
};

namespace {

// A transfer that moves less than one byte a second for this long has
// stalled: the same 30 minutes the request and its answer's head are given.
// The library's own low-speed check spans the whole transfer, the wait for
// the head included, so it cannot carry the body's rule (a server that took
// longer than one window to answer would be cut); that rule is the client's
// own, in Pump, on the client's clock. The library's check stays as a
// backstop on the monotonic clock, which a wall clock set back cannot
// stretch.
constexpr long kStallSeconds = 1800;
// Size of the pieces the library hands over. A piece bigger than a download
// block lets several blocks be served from one piece before the transfer
// has to be resumed; at most one piece is ever held here.
constexpr long kPieceBytes = 65536;

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The library's connection socket, made close-on-exec like every descriptor
// of the client.
curl_socket_t OpenSocket(void* /*user*/, curlsocktype /*purpose*/, curl_sockaddr* address) {
    const v3PlatformSocket s =
        v3PlatformSocketOpenAny(address->family, address->socktype, address->protocol);
    return s == kPlatformNoSocket ? CURL_SOCKET_BAD : static_cast<curl_socket_t>(s);
}

size_t OnHeader(char* data, size_t size, size_t n, void* user) {
    auto* r = static_cast<SystemRequest*>(user);
    const size_t total = size * n;
    if (total >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        const char* space = static_cast<const char*>(std::memchr(data, ' ', total));
        r->code = 0;
        for (const char* p = space ? space + 1 : data + total; p < data + total && *p >= '0' && *p <= '9'; ++p) {
            r->code = r->code * 10 + (*p - '0');
            if (r->code > 999) break;
        }
    } else if (total <= 2 && (data[0] == '\r' || data[0] == '\n')) {
        // The empty line after an interim (1xx) answer is not the end of the
        // head that counts.
        if (r->code < 100 || r->code > 199) r->head_done = true;
    }
    return total;
}

// Hands the piece to the read in progress. With no room left, the piece is
// refused for now (pause) and the library keeps it until the next read.
size_t OnBody(char* data, size_t size, size_t n, void* user) {
    auto* r = static_cast<SystemRequest*>(user);
    const size_t total = size * n;
    const size_t room = r->want - r->got;
    if (room == 0 || r->spill_pos < r->spill.size()) {
        r->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    const size_t take = std::min(room, total);
    std::memcpy(r->dest + r->got, data, take);
    r->got += static_cast<uint32_t>(take);
    try {
        r->spill.assign(data + take, total - take);
    } catch (const std::bad_alloc&) {
        return 0;  // fails the transfer
    }
    r->spill_pos = 0;
    r->pace.Count(static_cast<uint32_t>(total));
    return total;
}

void CollectDone(SystemRequest* r) {
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(r->session, &left)) {
        if (m->msg == CURLMSG_DONE) {
            r->finished = true;
            r->result = m->data.result;
        }
    }
}

// Whether the request's time is up: the head's deadline until the head is
// in, then the body's low-speed rule.
bool TimeUp(SystemRequest* r) {
    return r->in_body ? r->pace.Bound(UINT32_MAX) == 0 : r->deadline.RemainingMs() == 0;
}

// Runs the transfer until done(r) holds or it has finished. 0 or -1; -1 also
// once the request's time is up. The library's own stall limit counts only
// silence, not a peer that dribbles a byte now and then; the time is checked
// after every turn (so nothing that came in after it is taken), and a turn
// waits at most a second.
template <typename Done>
int Pump(SystemRequest* r, Done done) {
    for (;;) {
        int running = 0;
        if (curl_multi_perform(r->session, &running) != CURLM_OK) return -1;
        CollectDone(r);
        if (TimeUp(r)) return -1;
        if (done(r) || r->finished) return 0;
        if (curl_multi_poll(r->session, nullptr, 0, 1000, nullptr) != CURLM_OK) return -1;
    }
}

bool SetVerbAndBody(CURL* c, const char* verb, const void* body, uint32_t body_length) {
    const bool get = std::strcmp(verb, "GET") == 0;
    if (get && body_length == 0) return curl_easy_setopt(c, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    bool ok = curl_easy_setopt(c, CURLOPT_POST, 1L) == CURLE_OK &&
              curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_length)) == CURLE_OK &&
              // The library's own copy: the body must outlive the caller's
              // buffer while a kept-open answer is still being read.
              curl_easy_setopt(c, CURLOPT_COPYPOSTFIELDS, body_length ? body : "") == CURLE_OK;
    if (ok && std::strcmp(verb, "POST") != 0) ok = curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, verb) == CURLE_OK;
    return ok;
}

SystemResult SetUp(SystemRequest* r, const char* verb, const char* object, const char* host,
                   uint16_t port, const void* body, uint32_t body_length) {
    CURL* c = r->connection;
    std::string url = std::string("http://") + host + ":" + std::to_string(port);
    if (object[0] != '/') url += '/';
    url += object;
    if (curl_easy_setopt(c, CURLOPT_URL, url.c_str()) != CURLE_OK) return kSystemErrConnect;

    std::string agent = std::string("Quorvel/") + kClientVersion;
    agent.resize(std::min<size_t>(agent.size(), 8 + 100));
    // Like the system's own Internet library: HTTP/1.0, no Accept header, no
    // caching by proxies, and no headers the project's servers never saw.
    for (const char* h : {"Pragma: no-cache", "Accept:", "Expect:", "Content-Type:"}) {
        curl_slist* next = curl_slist_append(r->headers, h);
        if (next == nullptr) return kSystemErrRequest;
        r->headers = next;
    }
    const bool ok =
        curl_easy_setopt(c, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0) == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, r->headers) == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, OpenSocket) == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_BUFFERSIZE, kPieceBytes) == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, kStallSeconds) == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader) == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_HEADERDATA, r) == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody) == CURLE_OK &&
        curl_easy_setopt(c, CURLOPT_WRITEDATA, r) == CURLE_OK &&
        SetVerbAndBody(c, verb, body, body_length);
    if (!ok) return kSystemErrRequest;
    if (curl_multi_add_handle(r->session, c) != CURLM_OK) return kSystemErrRequest;
    r->attached = true;
    return kSystemOk;
}

SystemResult Start(SystemRequest* r, const char* verb, const char* object, const char* host,
                   uint16_t port, const void* body, uint32_t body_length, uint32_t* status,
                   uint32_t timeout_ms) {
    r->deadline = ReadDeadline(timeout_ms);
    GlobalInit();
    r->session = curl_multi_init();
    if (r->session == nullptr) return kSystemErrSession;
    // The session also makes a wake-up socket pair of its own, without
    // close-on-exec. It never reaches a core: the core launcher closes every
    // descriptor above standard error before exec. (Marking it here would
    // mean walking descriptors that other threads open and close.)
    r->connection = curl_easy_init();
    if (r->connection == nullptr) return kSystemErrConnect;
    if (const SystemResult e = SetUp(r, verb, object, host, port, body, body_length);
        e != kSystemOk) {
        return e;
    }
    if (Pump(r, [](const SystemRequest* q) { return q->head_done; }) != 0) return kSystemErrSend;
    if (!r->head_done && (!r->finished || r->result != CURLE_OK)) return kSystemErrSend;
    long code = 0;
    if (curl_easy_getinfo(r->connection, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code <= 0) {
        return kSystemErrQuery;
    }
    *status = static_cast<uint32_t>(code);
    r->pace = BodyPace(kBodyMinBytesPerSecond, kBodyRateWindowMs);
    r->in_body = true;
    return kSystemOk;
}

}  // namespace

SystemResult SystemRequestStart(SystemRequest** request, const char* verb, const char* object,
                                const char* host, uint16_t port, const void* body,
                                uint32_t body_length, uint32_t* status, uint32_t timeout_ms) {
    if (request == nullptr) return kSystemErrRequest;
    *request = nullptr;
    if (status != nullptr) *status = 0;
    if (verb == nullptr || object == nullptr || host == nullptr || status == nullptr ||
        (body == nullptr && body_length != 0)) {
        return kSystemErrRequest;
    }
    auto* r = new (std::nothrow) SystemRequest;
    if (r == nullptr) return kSystemErrSession;
    SystemResult result;
    try {
        result = Start(r, verb, object, host, port, body, body_length, status, timeout_ms);
    } catch (const std::bad_alloc&) {
        result = kSystemErrRequest;
    }
    if (result != kSystemOk) {
        SystemRequestClose(r);
        return result;
    }
    *request = r;
    return kSystemOk;
}

int SystemRequestRead(SystemRequest* r, void* buf, uint32_t length, uint32_t* got) {
    if (got != nullptr) *got = 0;
    if (r == nullptr || buf == nullptr || got == nullptr) return -1;
    if (TimeUp(r)) return -1;
    r->dest = static_cast<uint8_t*>(buf);
    r->want = length;
    r->got = 0;
    const size_t held = r->spill.size() - r->spill_pos;
    const uint32_t from_spill = static_cast<uint32_t>(std::min<size_t>(held, length));
    std::memcpy(r->dest, r->spill.data() + r->spill_pos, from_spill);
    r->spill_pos += from_spill;
    r->got = from_spill;
    if (r->spill_pos == r->spill.size()) {
        r->spill.clear();
        r->spill_pos = 0;
    }
    int result = 0;
    if (r->got < r->want) {
        if (r->paused) {
            r->paused = false;
            // May hand the piece the library kept straight to OnBody.
            if (curl_easy_pause(r->connection, CURLPAUSE_CONT) != CURLE_OK) result = -1;
        }
        if (result == 0 && r->got < r->want && !r->finished) {
            result = Pump(r, [](const SystemRequest* q) { return q->got == q->want; });
        }
    }
    *got = r->got;
    if (r->got < r->want && r->finished && r->result != CURLE_OK) result = -1;
    r->dest = nullptr;
    r->want = 0;
    r->got = 0;
    return result;
}

void SystemRequestClose(SystemRequest* r) {
    if (r == nullptr) return;
    if (r->attached) curl_multi_remove_handle(r->session, r->connection);
    if (r->connection != nullptr) curl_easy_cleanup(r->connection);
    if (r->session != nullptr) curl_multi_cleanup(r->session);
    curl_slist_free_all(r->headers);
    delete r;
}
