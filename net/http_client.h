// The built-in HTTP/1.1 client over plain sockets, with an optional proxy and
// Basic proxy credentials. Calling order: v3HTTPOpen, then any number of
// v3HTTPGet or v3HTTPPost, each followed by v3HTTPRecv calls for its body,
// then v3HTTPClose.
#pragma once

#include <cstdint>
#include <string>

#include "net/body_pace.h"
#include "net/deadline.h"
#include "support/socket.h"

// Result codes of the HTTP family, typed as the support library's families
// are: callers keep them in plain ints and compare with the names.
enum HttpResult : int {
    kHTTPOk = 0,
    kHTTPErrBad = -1,       // bad URL, port, name or connection; bad chunk-size line
    kHTTPErrTransfer = -2,  // send or receive failure, unusable response head
    kHTTPErrMemory = -3,    // out of memory or encoding failure
    kHTTPErrArgument = -4,
    kHTTPErrState = -6,
};

// A short English description of an HTTP code, "unknown HTTP result" for any
// other value.
const char* HttpResultName(int code);

// Connection states.
inline constexpr uint32_t kHTTPUnopened = 0;
inline constexpr uint32_t kHTTPOpened = 1;     // not connected
inline constexpr uint32_t kHTTPReady = 2;      // connected, ready for a request
inline constexpr uint32_t kHTTPReadingBody = 3;

// Body modes.
inline constexpr uint32_t kBodyRaw = 0;          // no status line: the bytes are the body
inline constexpr uint32_t kBodyLength = 1;       // Content-Length
inline constexpr uint32_t kBodyChunked = 2;
inline constexpr uint32_t kBodyUntilClose = 3;

// Longest host text, port included, as written in the URL.
inline constexpr uint32_t kHTTPHostMax = 287;
// A response head longer than this is refused: a broken or hostile server
// must not make the client buffer without limit.
inline constexpr uint32_t kHTTPHeadLimit = 65536;

// Connection record. Value-initialise it (v3HTTPConnection c{}); v3HTTPClose
// brings it back to that state.
struct v3HTTPConnection {
    v3Socket socket;
    char host[kHTTPHostMax + 1];  // host part of the URL, with its port when given
    uint32_t state;
    uint32_t body_mode;
    uint32_t keep_alive;     // 1 when the last status line named HTTP/1.1
    uint32_t status;         // status code of the last response
    uint32_t remaining;      // bytes left of the body (mode 1) or current chunk (mode 2)
    uint32_t host_address;   // not set when a proxy is used
    uint32_t proxy_address;  // 0 for none
    uint16_t host_port;
    uint16_t proxy_port;     // 0 for none
    std::string proxy_credentials;  // a complete "Proxy-Authorization" line, or empty
    std::string credentials;        // slot for an "Authorization" line; never filled
    std::string header;             // the raw response head; in mode 0 the body read ahead
    uint32_t header_ready;          // 1 while the header buffer is in use
    uint32_t header_delivered;      // mode 0: how much of header v3HTTPRecv has handed out
    // 1 once the body has ended by its own framing: the Content-Length was
    // reached, the last chunk was read, or (modes 0 and 3) the server closed.
    uint32_t body_ended;
    // The latest request up to the end of its answer's head: its sending
    // and its head share the time-out given to v3HTTPGet or v3HTTPPost,
    // counted from the start of the request. Once it has passed, a read
    // fails as a receive failure, however busy the peer keeps it.
    ReadDeadline exchange;
    // The body that follows the head is held to the low-speed rule instead
    // (net/body_pace.h): a large body over a slow but steady link takes as
    // long as it needs, a dripped one is cut within the rule's windows.
    BodyPace pace;
};

// user and password would fill the server credentials line, which this
// client never sends; they are accepted for the interface's sake and unused.
HttpResult v3HTTPOpen(v3HTTPConnection* conn, const char* url, uint32_t proxy_address,
                      uint16_t proxy_port, const char* proxy_user, const char* proxy_password,
                      const char* user, const char* password);
HttpResult v3HTTPConnect(v3HTTPConnection* conn);
HttpResult v3HTTPGet(v3HTTPConnection* conn, uint32_t* status, const char* path,
                     uint32_t timeout_ms);
HttpResult v3HTTPPost(v3HTTPConnection* conn, uint32_t* status, const char* path, const void* body,
                      uint32_t body_length, uint32_t timeout_ms);

// Reads the response head. The time-out bounds the whole head, not each of
// its bytes, and never reaches past the exchange's.
HttpResult v3HTTPReadHeaders(v3HTTPConnection* conn, uint32_t timeout_ms);

// Reads up to length body bytes; *count tells how many. 0 with a count of 0
// (and body_ended set) when the body is over; -2 when the connection failed
// before any byte of this call arrived. Each socket read waits at most the
// time-out, and nothing more is read once a window of the body's low-speed
// rule has passed without its share.
HttpResult v3HTTPRecv(void* buf, uint32_t* count, v3HTTPConnection* conn, uint32_t length,
                      uint32_t timeout_ms);

// Reads the next chunk-size line into remaining. 0, or -1 for a bad or
// missing line or a size that does not fit 32 bits.
HttpResult v3HTTPReadChunkSize(v3HTTPConnection* conn, uint32_t timeout_ms);

HttpResult v3HTTPClose(v3HTTPConnection* conn);
