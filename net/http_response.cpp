// Reading a response head and the size lines of a chunked body.
#include <cstring>
#include <new>

#include "net/body_pace.h"
#include "net/deadline.h"
#include "net/http_client.h"
#include "support/number_reader.h"

namespace {

// A receive failure before any usable answer: the socket is closed and the
// next request connects afresh.
HttpResult FailConnection(v3HTTPConnection* conn) {
    v3SockClose(&conn->socket);
    conn->state = kHTTPOpened;
    return kHTTPErrTransfer;
}

// Exactly n bytes within what is left of the deadline; once it has passed
// nothing more is read, even what the peer has already sent.
int ReadBytes(v3HTTPConnection* conn, const ReadDeadline& deadline, char* out, uint32_t n) {
    const uint32_t left = deadline.RemainingMs();
    if (left == 0) return kSockErrTimeout;
    uint32_t got = 0;
    return v3SockRecv(out, &got, &conn->socket, n, left);
}

int ReadByte(v3HTTPConnection* conn, const ReadDeadline& deadline, char* byte) {
    return ReadBytes(conn, deadline, byte, 1);
}

// Exactly n framing bytes of a chunked body, each read within the time-out
// and what is left of the body's current window. They are not counted
// towards the window's share: only what the caller receives is, so that a
// body cut into tiny chunks cannot pass its framing off as progress.
int ReadBodyBytes(v3HTTPConnection* conn, uint32_t timeout_ms, char* out, uint32_t n) {
    const uint32_t left = conn->pace.Bound(timeout_ms);
    if (left == 0) return kSockErrTimeout;
    uint32_t got = 0;
    return v3SockRecv(out, &got, &conn->socket, n, left);
}

// An answer that does not begin with a status line is taken whole as the
// body of a successful response: what was read so far comes first.
HttpResult TakeAsRawBody(v3HTTPConnection* conn, const char* bytes, size_t n) {
    conn->header.assign(bytes, n);
    conn->body_mode = kBodyRaw;
    conn->keep_alive = 0;
    conn->status = 200;
    conn->state = kHTTPReadingBody;
    return kHTTPOk;
}

// Up to 4294967295, read from the digits at text; false when there are none
// or the number does not fit 32 bits. *fits tells the two apart.
bool ReadDecimal32(const char* text, uint32_t* value, bool* fits) {
    *fits = true;
    if (*text < '0' || *text > '9') return false;
    uint64_t v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        v = v * 10 + static_cast<uint64_t>(*text - '0');
        if (v > UINT32_MAX) {
            *fits = false;
            return false;
        }
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads the head up to and including the empty line that ends it.
HttpResult ReadRestOfHead(v3HTTPConnection* conn, const ReadDeadline& deadline) {
    uint32_t matched = 0;  // CR expected at even counts, LF at odd ones
    while (matched < 4) {
        if (conn->header.size() >= kHTTPHeadLimit) return FailConnection(conn);
        char b;
        if (ReadByte(conn, deadline, &b) != kSockOk) return FailConnection(conn);
        conn->header.push_back(b);
        const char expected = matched % 2 == 0 ? '\r' : '\n';
        matched = b == expected ? matched + 1 : 0;
    }
    return kHTTPOk;
}

// Chooses how the body is framed from the head.
HttpResult ChooseBodyMode(v3HTTPConnection* conn) {
    const std::string& head = conn->header;
    static const char kLength[] = "Content-Length: ";
    if (const size_t at = head.find(kLength); at != std::string::npos) {
        uint32_t length = 0;
        bool fits = true;
        if (ReadDecimal32(head.c_str() + at + sizeof kLength - 1, &length, &fits)) {
            conn->body_mode = kBodyLength;
            conn->remaining = length;
            conn->state = kHTTPReadingBody;
            return kHTTPOk;
        }
        // A length the record cannot count must not be read as a smaller one.
        if (!fits) return FailConnection(conn);
    }
    conn->remaining = 0;
    conn->state = kHTTPReadingBody;
    if (head.find("Transfer-Encoding: chunked") != std::string::npos) {
        conn->body_mode = kBodyChunked;
    } else {
        conn->body_mode = kBodyUntilClose;
        conn->keep_alive = 0;
    }
    return kHTTPOk;
}

HttpResult ReadHead(v3HTTPConnection* conn, uint32_t timeout_ms) {
    const ReadDeadline deadline(conn->exchange.Bound(timeout_ms));
    static const char kUpper[] = "HTTP/1.1";
    static const char kLower[] = "http/1.0";
    char first[8];
    for (size_t i = 0; i < 8; ++i) {
        if (ReadByte(conn, deadline, &first[i]) != kSockOk) {
            if (i == 0) return FailConnection(conn);
            return TakeAsRawBody(conn, first, i);
        }
        if (first[i] != kUpper[i] && first[i] != kLower[i]) return TakeAsRawBody(conn, first, i + 1);
    }
    conn->keep_alive = first[7] == '1' ? 1 : 0;
    conn->header.assign(first, 8);

    char code[5] = {};
    if (ReadBytes(conn, deadline, code, 4) != kSockOk) return FailConnection(conn);
    conn->header.append(code, 4);
    uint32_t status = 0;
    if (v3ReadNumber(&status, 4, 0, code, 10, 1) != 0) {
        // No usable status: nothing of this answer can be trusted as a body,
        // and the status of an earlier response must not pass for its own.
        conn->body_mode = kBodyRaw;
        conn->keep_alive = 0;
        conn->status = 0;
        return kHTTPOk;
    }
    conn->status = status;
    if (const HttpResult r = ReadRestOfHead(conn, deadline); r != kHTTPOk) return r;
    return ChooseBodyMode(conn);
}

}  // namespace

HttpResult v3HTTPReadHeaders(v3HTTPConnection* conn, uint32_t timeout_ms) {
    if (conn == nullptr) return kHTTPErrArgument;
    try {
        conn->header.clear();
        conn->header.shrink_to_fit();
        conn->header.reserve(1024);
        conn->header_ready = 1;
        conn->header_delivered = 0;
        conn->body_ended = 0;
        conn->pace = BodyPace();
        const HttpResult r = ReadHead(conn, timeout_ms);
        // The body's own time starts with it, unless the head used up the
        // exchange's (an answer cut short in its status line is taken as a
        // body without one): a body must not win back the time its head
        // ran out of.
        if (r == kHTTPOk && conn->state == kHTTPReadingBody) {
            conn->pace = conn->exchange.RemainingMs() > 0
                             ? BodyPace(kBodyMinBytesPerSecond, kBodyRateWindowMs)
                             : BodyPace::Stalled();
        }
        return r;
    } catch (const std::bad_alloc&) {
        FailConnection(conn);
        return kHTTPErrMemory;
    }
}

HttpResult v3HTTPReadChunkSize(v3HTTPConnection* conn, uint32_t timeout_ms) {
    if (conn == nullptr) return kHTTPErrArgument;
    char line[15];
    size_t n = 0;
    // The empty line that ends the previous chunk's data comes once; more of
    // them in a row would let a server keep the client here for ever.
    bool skipped = false;
    for (;;) {
        n = 0;
        for (;;) {
            if (n == sizeof line) return kHTTPErrBad;
            if (ReadBodyBytes(conn, timeout_ms, &line[n], 1) != kSockOk) return kHTTPErrBad;
            if (line[n++] == '\n') break;
        }
        if (n != 2) break;
        if (skipped) return kHTTPErrBad;
        skipped = true;
    }
    if (n < 3 || line[n - 2] != '\r') return kHTTPErrBad;
    uint64_t size = 0;
    size_t digits = 0;
    for (; digits < n && HexValue(line[digits]) >= 0; ++digits) {
        size = size * 16 + static_cast<uint64_t>(HexValue(line[digits]));
        if (size > UINT32_MAX) return kHTTPErrBad;
    }
    if (digits == 0) return kHTTPErrBad;
    conn->remaining = static_cast<uint32_t>(size);
    if (size == 0) {
        char end[2];
        if (ReadBodyBytes(conn, timeout_ms, end, 2) != kSockOk) return kHTTPErrBad;
    }
    return kHTTPOk;
}
