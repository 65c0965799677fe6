// Reading the body of a response on a connection record. A connection that
// fails before a call has delivered anything gives -2 rather than an empty
// success, so that a cut-off body is never mistaken for its end; what a call
// did deliver before a failure is handed out, and the record is then in
// state 1, so the next call gives -6.
#include <algorithm>
#include <cstring>

#include "net/http_client.h"

namespace {

void DropConnection(v3HTTPConnection* conn) {
    v3SockClose(&conn->socket);
    conn->state = kHTTPOpened;
}

// One socket read within the call's time-out and what is left of the
// body's current window. Once a window has passed without its share nothing
// more is read: a peer that hands over a byte now and then would otherwise
// keep every read going.
int ReadSocket(v3HTTPConnection* conn, uint8_t* out, uint32_t* got, uint32_t n,
               uint32_t timeout_ms) {
    *got = 0;
    const uint32_t left = conn->pace.Bound(timeout_ms);
    if (left == 0) return kSockErrTimeout;
    const int r = v3SockRecv(out, got, &conn->socket, n, left);
    conn->pace.Count(*got);
    return r;
}

// Mode 0: the bytes read while looking for a status line come first.
uint32_t TakeReadAhead(uint8_t* out, v3HTTPConnection* conn, uint32_t length) {
    const size_t held = conn->header.size() - conn->header_delivered;
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(held, length));
    std::memcpy(out, conn->header.data() + conn->header_delivered, n);
    conn->header_delivered += n;
    return n;
}

HttpResult RecvLength(uint8_t* out, uint32_t* count, v3HTTPConnection* conn, uint32_t length,
                      uint32_t timeout_ms) {
    if (conn->remaining == 0) {
        conn->state = kHTTPReady;
        conn->body_ended = 1;
        return kHTTPOk;
    }
    uint32_t got = 0;
    const int r = ReadSocket(conn, out, &got, std::min(length, conn->remaining), timeout_ms);
    conn->remaining -= got;
    *count = got;
    if (conn->remaining == 0) conn->body_ended = 1;
    if (r != kSockOk && got == 0) {
        DropConnection(conn);
        return kHTTPErrTransfer;
    }
    return kHTTPOk;
}

HttpResult RecvChunked(uint8_t* out, uint32_t* count, v3HTTPConnection* conn, uint32_t length,
                       uint32_t timeout_ms) {
    while (*count < length) {
        if (conn->remaining > 0) {
            uint32_t got = 0;
            const int r = ReadSocket(conn, out + *count, &got,
                                     std::min(length - *count, conn->remaining), timeout_ms);
            conn->remaining -= got;
            *count += got;
            if (r != kSockOk && got == 0) {
                DropConnection(conn);
                return *count == 0 ? kHTTPErrTransfer : kHTTPOk;
            }
            continue;
        }
        if (v3HTTPReadChunkSize(conn, timeout_ms) != kHTTPOk) {
            DropConnection(conn);
            return *count == 0 ? kHTTPErrTransfer : kHTTPOk;
        }
        if (conn->remaining == 0) {
            conn->state = kHTTPReady;
            conn->body_ended = 1;
            return kHTTPOk;
        }
    }
    return kHTTPOk;
}

// Modes 0 and 3: the body runs until the server closes; a close is its
// proper end, a time-out or an error is not.
HttpResult RecvUntilClose(uint8_t* out, uint32_t* count, v3HTTPConnection* conn, uint32_t length,
                          uint32_t timeout_ms) {
    if (*count >= length) return kHTTPOk;
    uint32_t got = 0;
    const int r = ReadSocket(conn, out + *count, &got, length - *count, timeout_ms);
    *count += got;
    if (r == kSockErrNotConnected) conn->body_ended = 1;
    if (r != kSockOk && got == 0) {
        DropConnection(conn);
        if (r != kSockErrNotConnected && *count == 0) return kHTTPErrTransfer;
    }
    return kHTTPOk;
}

}  // namespace

HttpResult v3HTTPRecv(void* buf, uint32_t* count, v3HTTPConnection* conn, uint32_t length,
                      uint32_t timeout_ms) {
    if (count != nullptr) *count = 0;
    if (buf == nullptr || count == nullptr || conn == nullptr) return kHTTPErrArgument;
    if (conn->state != kHTTPReadingBody) return kHTTPErrState;
    if (length == 0) return kHTTPOk;
    auto* out = static_cast<uint8_t*>(buf);
    switch (conn->body_mode) {
        case kBodyRaw:
            *count = TakeReadAhead(out, conn, length);
            if (*count == length) return kHTTPOk;
            return RecvUntilClose(out, count, conn, length, timeout_ms);
        case kBodyLength:
            return RecvLength(out, count, conn, length, timeout_ms);
        case kBodyChunked:
            return RecvChunked(out, count, conn, length, timeout_ms);
        default:
            return RecvUntilClose(out, count, conn, length, timeout_ms);
    }
}
