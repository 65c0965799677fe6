// The built-in HTTP client's response reading: the head (status line,
// Content-Length, Transfer-Encoding, chunk-size lines) and every body mode,
// fed from a real loopback connection whose peer answers a GET with the
// fuzzer's bytes and then closes.
//
// Input: [0] options: bit 0 reads the first record through the packet
// reply framing (a leading CR LF dropped once), bits 1..3 pick the size of
// each read, all of bits 4..7 set keeps the peer's side open after the
// answer (rare on purpose: each such input costs a time-out); the rest is
// the server's whole answer.
//
// Checks: no result code outside the documented set; no read hands out more
// than it was asked for; the body never holds more bytes than the server
// sent; the kept head stays within its limit; the reading always ends (each
// read either delivers bytes or ends the body or fails, within a bounded
// number of calls, every one under a short time-out), and a peer that
// stops sending without closing costs no more than a few time-outs.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/fuzz_check.h"
#include "common/loopback_server.h"
#include "log/log.h"
#include "net/direct_transport.h"
#include "net/http_client.h"

namespace {

constexpr uint32_t kTimeoutMs = 300;
// With the peer holding its side open every reading ends by a time-out;
// a short one keeps such inputs from starving the rest.
constexpr uint32_t kHeldTimeoutMs = 10;
constexpr uint32_t kPieces[] = {1, 2, 3, 7, 64, 512, 4096, 65536};

bool Known(int rc) {
    return rc == kHTTPOk || rc == kHTTPErrBad || rc == kHTTPErrTransfer || rc == kHTTPErrMemory ||
           rc == kHTTPErrArgument || rc == kHTTPErrState || rc == -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetLogVerbosity(9);  // the framing's trace lines are formatted too
    (void)qrvfuzz::LoopbackPeer::Port();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool framed = (data[0] & 1) != 0;
    const uint32_t piece = kPieces[(data[0] >> 1) & 7];
    const bool hold_open = (data[0] >> 4) == 0xF;
    const uint32_t timeout_ms = hold_open ? kHeldTimeoutMs : kTimeoutMs;
    const std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto started = std::chrono::steady_clock::now();

    qrvfuzz::LoopbackPeer peer(reply, hold_open);
    v3HTTPConnection conn{};
    const std::string url = qrvfuzz::LoopbackPeer::Url() + "/";
    FUZZ_CHECK(v3HTTPOpen(&conn, url.c_str(), 0, 0, nullptr, nullptr, nullptr, nullptr) ==
               kHTTPOk);
    uint32_t status = 0;
    const int got_head = v3HTTPGet(&conn, &status, "/", timeout_ms);
    FUZZ_CHECK(Known(got_head));
    FUZZ_CHECK(conn.header.size() <= kHTTPHeadLimit + 4096 || conn.body_mode == kBodyRaw);
    if (got_head == kHTTPOk) {
        FUZZ_CHECK(conn.body_mode <= kBodyUntilClose);
        std::vector<uint8_t> buf(piece + 16, 0xA5);
        uint64_t body = 0;
        // Every useful call delivers at least one byte, so a reading of the
        // whole answer never needs more calls than it has bytes.
        const size_t max_calls = reply.size() + 8;
        size_t calls = 0;
        for (;;) {
            FUZZ_CHECK(++calls <= max_calls);
            uint32_t count = 0xFFFFFFFFu;
            const int rc = (framed && calls == 1)
                               ? CliHTTPRecv(buf.data(), &count, &conn, piece, timeout_ms)
                               : v3HTTPRecv(buf.data(), &count, &conn, piece, timeout_ms);
            FUZZ_CHECK(Known(rc));
            FUZZ_CHECK(count <= piece);
            for (size_t i = piece; i < buf.size(); ++i) FUZZ_CHECK(buf[i] == 0xA5);
            body += count;
            FUZZ_CHECK(body <= reply.size());
            if (rc != kHTTPOk || count == 0) break;
        }
    }
    v3HTTPClose(&conn);
    // The head's time-out bounds the head; then one body read at most waits
    // out its time-out before the reading gives up.
    const auto spent = std::chrono::steady_clock::now() - started;
    FUZZ_CHECK(spent < std::chrono::milliseconds(4 * timeout_ms + 500));
    return 0;
}
