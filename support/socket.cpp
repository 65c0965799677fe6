#include "support/socket.h"

#include <atomic>
#include <mutex>

#include "support/exit.h"
#include "support/lock.h"
#include "support/time_value.h"

namespace {

// Host-name look-ups are serialised process-wide: the resolver of the
// platforms this client came from returned its answer in shared storage.
v3Lock g_lookup_lock{};
std::atomic<bool> g_net_started{false};
std::mutex g_start_guard;

void DestroyLookupLock() { v3LockDestroy(&g_lookup_lock); }

// Microseconds from start to now; negative when the clock went back.
int64_t ElapsedMicroseconds(const Int128& start, const Int128& now) {
    const Int128 d = v3Int128Sub(now, start);
    const int64_t seconds = static_cast<int64_t>(d.high);
    // The fraction is in units of 2^-64 s: scale to microseconds.
    const uint64_t micros = ((d.low >> 32) * 1000000u) >> 32;
    if (seconds > INT64_MAX / 2000000 || seconds < -INT64_MAX / 2000000) {
        return seconds < 0 ? -INT64_MAX : INT64_MAX;
    }
    return seconds * 1000000 + static_cast<int64_t>(micros);
}

// A wait is cut into slices of at most this long, each followed by a fresh
// clock reading: the time-out is counted on the client's clock, which tests
// move on through its hook, and a wait of the whole rest at once would not
// notice that the time is up.
constexpr int64_t kWaitSliceMicros = 1000000;

enum class Direction { kRead, kWrite };

// Waits until the socket is ready in the given direction or limit (in
// microseconds since start) has passed: 1 ready, 0 out of time (or the clock
// failed), -1 the wait itself failed. Once the time is up it does not wait
// at all, so a peer that is always just ready cannot stretch a call.
int WaitWithin(const v3Socket* sock, const Int128& start, int64_t limit, Direction direction) {
    for (;;) {
        Int128 now;
        if (v3TimeNow(&now) != 0) return 0;
        const int64_t rest = limit - ElapsedMicroseconds(start, now);
        if (rest <= 0) return 0;
        const uint64_t slice = static_cast<uint64_t>(rest < kWaitSliceMicros ? rest : kWaitSliceMicros);
        const int ready = direction == Direction::kRead
                              ? v3PlatformSocketWaitReadable(sock->handle, slice)
                              : v3PlatformSocketWaitWritable(sock->handle, slice);
        if (ready != 0) return ready > 0 ? 1 : -1;
    }
}

SockResult CheckTransfer(const v3Socket* sock, const uint32_t* count, const void* data,
                         uint32_t length) {
    if (sock == nullptr || count == nullptr || data == nullptr || length == 0) return kSockErrArgument;
    if (sock->state != 1) return kSockErrNotConnected;
    if (sock->kind != kSockStream) return kSockErrKind;
    return kSockOk;
}

}  // namespace

int v3NetInit() {
    if (g_net_started.load(std::memory_order_acquire)) return 0;
    std::lock_guard<std::mutex> hold(g_start_guard);
    if (g_net_started.load(std::memory_order_relaxed)) return 0;
    if (v3PlatformNetStart() != 0) return -1;
    // Making the lock here, on the first start, keeps a look-up from racing
    // its creation. Later starts need not touch it: taking it on every
    // connect would make connects wait behind a slow look-up elsewhere.
    v3LockAcquire(&g_lookup_lock, kLockWaitForever);
    v3LockRelease(&g_lookup_lock);
    v3SetExitCleanup(DestroyLookupLock);
    g_net_started.store(true, std::memory_order_release);
    return 0;
}

int v3ResolveHost(uint32_t* addresses, uint32_t max, const char* name) {
    if (addresses == nullptr || max == 0 || name == nullptr) return 0;
    if (v3NetInit() != 0) return 0;
    if (v3PlatformParseAddress(name, addresses) == 1) return 1;
    const int limit = max > 1024 ? 1024 : static_cast<int>(max);
    v3LockAcquire(&g_lookup_lock, kLockWaitForever);
    const int found = v3PlatformLookUpHost(name, addresses, limit);
    v3LockRelease(&g_lookup_lock);
    return found;
}

SockResult v3SockConnect(v3Socket* sock, uint32_t remote_address, uint16_t remote_port,
                         uint32_t local_address, uint16_t local_port, uint32_t kind) {
    if (sock == nullptr) return kSockErrArgument;
    if (sock->state == 1) return kSockErrConnected;
    if (v3NetInit() != 0) {
        sock->state = 0;
        return kSockErrStart;
    }
    v3PlatformSocket handle = kPlatformNoSocket;
    if (v3PlatformSocketOpen(&handle, kind == kSockStream) != 0) {
        sock->state = 0;
        return kSockErrService;
    }
    SockResult result = kSockOk;
    if (local_address != 0 || local_port != 0) {
        const int bound = v3PlatformSocketBind(handle, local_address, local_port);
        if (bound == -1) result = kSockErrService;
        if (bound == -2) result = kSockErrBind;
    }
    if (result == kSockOk && v3PlatformSocketConnect(handle, remote_address, remote_port) != 0) {
        result = kSockErrConnect;
    }
    uint32_t local = 0;
    uint16_t port = 0;
    if (result == kSockOk && v3PlatformSocketLocalName(handle, &local, &port) != 0) {
        result = kSockErrService;
    }
    if (result != kSockOk) {
        v3PlatformSocketClose(handle);
        sock->state = 0;
        return result;
    }
    sock->handle = handle;
    sock->local_address = local;
    sock->local_port = port;
    sock->remote_address = remote_address;
    sock->remote_port = remote_port;
    sock->kind = kind;
    sock->state = 1;
    return kSockOk;
}

SockResult v3SockSend(v3Socket* sock, uint32_t* count, const void* data, uint32_t length,
                      uint32_t timeout_ms) {
    if (count != nullptr) *count = 0;
    if (const SockResult bad = CheckTransfer(sock, count, data, length); bad != kSockOk) return bad;
    Int128 start;
    if (v3TimeNow(&start) != 0) return kSockErrTimeout;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const int64_t limit = static_cast<int64_t>(timeout_ms) * 1000;
    while (*count < length) {
        uint32_t piece = length - *count;
        if (piece > kSockSendPiece) piece = kSockSendPiece;
        const int64_t sent = v3PlatformSocketSend(sock->handle, bytes + *count, piece);
        if (sent > 0) {
            *count += static_cast<uint32_t>(sent);
            continue;
        }
        if (sent != -2) {
            v3SockRelease(sock);
            return kSockErrNotConnected;
        }
        const int ready = WaitWithin(sock, start, limit, Direction::kWrite);
        if (ready == 0) return kSockErrTimeout;
        if (ready < 0) {
            v3SockRelease(sock);
            return kSockErrService;
        }
    }
    return kSockOk;
}

SockResult v3SockRecv(void* buf, uint32_t* count, v3Socket* sock, uint32_t length,
                      uint32_t timeout_ms) {
    if (count != nullptr) *count = 0;
    if (const SockResult bad = CheckTransfer(sock, count, buf, length); bad != kSockOk) return bad;
    Int128 start;
    if (v3TimeNow(&start) != 0) return kSockErrTimeout;
    auto* bytes = static_cast<uint8_t*>(buf);
    const int64_t limit = static_cast<int64_t>(timeout_ms) * 1000;
    while (*count < length) {
        // What is already there is taken without waiting; only an empty
        // socket costs a wait (and a clock reading).
        const int64_t got = v3PlatformSocketRecv(sock->handle, bytes + *count, length - *count);
        if (got > 0) {
            *count += static_cast<uint32_t>(got);
            continue;
        }
        if (got == 0) {
            v3SockRelease(sock);
            return kSockErrNotConnected;
        }
        if (got != -2) {
            v3SockRelease(sock);
            return kSockErrService;
        }
        const int ready = WaitWithin(sock, start, limit, Direction::kRead);
        if (ready == 0) return kSockErrTimeout;
        if (ready < 0) {
            v3SockRelease(sock);
            return kSockErrService;
        }
    }
    return kSockOk;
}

SockResult v3SockClose(v3Socket* sock) {
    if (sock == nullptr) return kSockErrArgument;
    if (v3NetInit() != 0) {
        sock->state = 0;
        return kSockErrStart;
    }
    return v3SockRelease(sock);
}

SockResult v3SockRelease(v3Socket* sock) {
    if (sock == nullptr) return kSockErrArgument;
    SockResult result = kSockOk;
    if (sock->state == 1 && v3PlatformSocketClose(sock->handle) != 0) result = kSockErrClose;
    sock->handle = kPlatformNoSocket;
    sock->state = 0;
    return result;
}
