// The socket layer against a real peer on the loopback interface.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "support/socket.h"
#include "net/net_test_support.h"
#include "common/recording_server.h"

using qrvnet::Peer;
using qrvnet::RecordingServer;

// Every send of the process passes here, so the test sees how the socket
// layer cuts a long transfer into pieces.
namespace {
std::atomic<int> g_send_calls{0};
std::atomic<size_t> g_largest_piece{0};
}  // namespace

extern "C" ssize_t send(int fd, const void* buf, size_t n, int flags) {
    using SendFn = ssize_t (*)(int, const void*, size_t, int);
    static const SendFn real = reinterpret_cast<SendFn>(dlsym(RTLD_NEXT, "send"));
    ++g_send_calls;
    size_t largest = g_largest_piece.load();
    while (n > largest && !g_largest_piece.compare_exchange_weak(largest, n)) {
    }
    return real(fd, buf, n, flags);
}

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

class SocketTest : public qrvnet::NetTest {};

TEST_F(SocketTest, ResolvesDottedTextAndNamesInHostOrder) {
    uint32_t addresses[4] = {};
    EXPECT_EQ(v3ResolveHost(addresses, 4, "10.0.0.1"), 1);
    EXPECT_EQ(addresses[0], 0x0A000001u);
    EXPECT_EQ(v3ResolveHost(addresses, 4, "255.255.255.255"), 1);
    EXPECT_EQ(addresses[0], 0xFFFFFFFFu);

    const int n = v3ResolveHost(addresses, 4, "localhost");
    ASSERT_GE(n, 1);
    EXPECT_NE(std::find(addresses, addresses + n, kLoopback), addresses + n);

    EXPECT_EQ(v3ResolveHost(addresses, 4, "no-such-host.invalid"), 0);
    EXPECT_EQ(v3ResolveHost(addresses, 4, nullptr), 0);
    EXPECT_EQ(v3ResolveHost(nullptr, 4, "10.0.0.1"), 0);
}

TEST_F(SocketTest, PeerCloseAfterHundredBytesGivesMinusSevenWithTheCount) {
    const std::string hundred(100, 'x');
    RecordingServer server({[&](Peer& peer) { peer.Send(hundred); }});
    v3Socket sock{};
    ASSERT_EQ(v3SockConnect(&sock, kLoopback, server.port(), 0, 0, kSockStream), kSockOk);
    EXPECT_EQ(sock.state, 1u);
    EXPECT_EQ(sock.remote_port, server.port());
    EXPECT_EQ(sock.local_address, kLoopback);
    EXPECT_NE(sock.local_port, 0);
    // A core started later must not inherit the connection.
    EXPECT_TRUE(fcntl(static_cast<int>(sock.handle), F_GETFD) & FD_CLOEXEC);

    char buf[200];
    uint32_t count = 0;
    EXPECT_EQ(v3SockRecv(buf, &count, &sock, sizeof buf, 10000), kSockErrNotConnected);
    EXPECT_EQ(count, 100u);
    EXPECT_EQ(std::string(buf, 100), hundred);
    EXPECT_EQ(sock.state, 0u);
    EXPECT_EQ(v3SockRecv(buf, &count, &sock, 1, 10000), kSockErrNotConnected);
}

TEST_F(SocketTest, TimeOutBoundsTheWholeReceiveAndKeepsTheSocket) {
    RecordingServer server({[&](Peer& peer) {
        peer.Send("ab");
        // The client times out waiting for more, then asks again.
        EXPECT_EQ(peer.ReadExact(4), "more");
        peer.Send("cdef");
    }});
    v3Socket sock{};
    ASSERT_EQ(v3SockConnect(&sock, kLoopback, server.port(), 0, 0, kSockStream), kSockOk);
    char buf[16] = {};
    uint32_t count = 0;
    // First the two bytes, then no more within the time: with a clock that
    // races ahead the limit is reached without any real wait.
    ASSERT_EQ(v3SockRecv(buf, &count, &sock, 2, 10000), kSockOk);
    v3SetTimeNowHook(qrvnet::RacingClock);
    EXPECT_EQ(v3SockRecv(buf, &count, &sock, 4, 900), kSockErrTimeout);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(sock.state, 1u);
    v3SetTimeNowHook(nullptr);

    uint32_t sent = 0;
    ASSERT_EQ(v3SockSend(&sock, &sent, "more", 4, 10000), kSockOk);
    ASSERT_EQ(v3SockRecv(buf, &count, &sock, 4, 10000), kSockOk);
    EXPECT_EQ(std::string(buf, 4), "cdef");
    EXPECT_EQ(v3SockClose(&sock), kSockOk);
    EXPECT_EQ(sock.state, 0u);
}

TEST_F(SocketTest, DribblingPeerCannotStretchTheTimeOut) {
    RecordingServer server({[&](Peer& peer) {
        peer.Send("abc");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        peer.Send("de");
        peer.WaitForClose();
    }});
    v3Socket sock{};
    ASSERT_EQ(v3SockConnect(&sock, kLoopback, server.port(), 0, 0, kSockStream), kSockOk);
    char buf[10];
    uint32_t count = 0;
    ASSERT_EQ(v3SockRecv(buf, &count, &sock, 3, 10000), kSockOk);
    // 35 s pass at every clock reading. Of a minute, the first wait has 25 s
    // left and gets "de"; the second has nothing left. A time-out counted
    // afresh for each wait would wait another 25 s there.
    qrvnet::g_clock_step = 35;
    v3SetTimeNowHook(qrvnet::RacingClock);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(v3SockRecv(buf, &count, &sock, sizeof buf, 60000), kSockErrTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(15));
    v3SetTimeNowHook(nullptr);
    qrvnet::g_clock_step = 1;
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(std::string(buf, 2), "de");
    EXPECT_EQ(sock.state, 1u);
    v3SockClose(&sock);
}

// The clock races ahead, so that a 30-minute time-out runs out without a
// real wait: for the send at its first wait, for the receive after one slice
// (the clock moves 15 minutes at every reading; a wait of the whole rest at
// once would sit there for 15 real minutes).
TEST_F(SocketTest, WaitsEndOnTheClientsClockInBothDirections) {
    const std::string upload(16 << 20, 'u');
    std::promise<void> done;
    // A tiny receive buffer on a peer that never reads: the send stalls.
    RecordingServer stuck({qrvnet::Stall(done.get_future().share())}, 4096);
    RecordingServer silent({[](Peer& peer) { peer.WaitForClose(); }});
    v3Socket up{};
    v3Socket down{};
    ASSERT_EQ(v3SockConnect(&up, kLoopback, stuck.port(), 0, 0, kSockStream), kSockOk);
    ASSERT_EQ(v3SockConnect(&down, kLoopback, silent.port(), 0, 0, kSockStream), kSockOk);
    qrvnet::g_clock_step = 2000;
    v3SetTimeNowHook(qrvnet::RacingClock);
    const auto before = std::chrono::steady_clock::now();
    uint32_t sent = 0;
    EXPECT_EQ(v3SockSend(&up, &sent, upload.data(), static_cast<uint32_t>(upload.size()), 1800000),
              kSockErrTimeout);
    qrvnet::g_clock_step = 900;
    char buf[4];
    uint32_t got = 7;
    EXPECT_EQ(v3SockRecv(buf, &got, &down, sizeof buf, 1800000), kSockErrTimeout);
    const auto took = std::chrono::steady_clock::now() - before;
    done.set_value();
    v3SetTimeNowHook(nullptr);
    qrvnet::g_clock_step = 1;
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_GT(sent, 0u);
    EXPECT_LT(sent, upload.size());
    EXPECT_EQ(got, 0u);
    // A time-out leaves both sockets to their owner, as a receive always did.
    EXPECT_EQ(up.state, 1u);
    EXPECT_EQ(down.state, 1u);
    v3SockClose(&up);
    v3SockClose(&down);
}

TEST_F(SocketTest, LongSendGoesOutInPiecesOfAtMost49152Bytes) {
    std::string data(100000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 256);
    RecordingServer server({[&](Peer& peer) { peer.ReadExact(data.size()); }});
    v3Socket sock{};
    ASSERT_EQ(v3SockConnect(&sock, kLoopback, server.port(), 0, 0, kSockStream), kSockOk);
    g_send_calls = 0;
    g_largest_piece = 0;
    uint32_t sent = 0;
    EXPECT_EQ(v3SockSend(&sock, &sent, data.data(), static_cast<uint32_t>(data.size()), 10000),
              kSockOk);
    EXPECT_EQ(sent, data.size());
    EXPECT_GE(g_send_calls.load(), 3);
    EXPECT_LE(g_largest_piece.load(), static_cast<size_t>(kSockSendPiece));
    v3SockClose(&sock);
    server.Join();
    EXPECT_EQ(server.received().at(0), data);
}

TEST_F(SocketTest, RefusesWhatItCannotDo) {
    // A port that nobody listens on: take one and give it up again.
    uint16_t closed_port;
    { RecordingServer probe({}); closed_port = probe.port(); }
    v3Socket sock{};
    EXPECT_EQ(v3SockConnect(&sock, kLoopback, closed_port, 0, 0, kSockStream), kSockErrConnect);
    EXPECT_EQ(sock.state, 0u);

    char byte = 0;
    uint32_t count = 7;
    EXPECT_EQ(v3SockSend(&sock, &count, &byte, 1, 10), kSockErrNotConnected);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(v3SockRecv(&byte, &count, &sock, 1, 10), kSockErrNotConnected);
    EXPECT_EQ(v3SockSend(&sock, &count, &byte, 0, 10), kSockErrArgument);
    EXPECT_EQ(v3SockSend(nullptr, &count, &byte, 1, 10), kSockErrArgument);
    EXPECT_EQ(v3SockConnect(nullptr, kLoopback, 80, 0, 0, kSockStream), kSockErrArgument);
    EXPECT_EQ(v3SockClose(nullptr), kSockErrArgument);

    RecordingServer server({[](Peer& peer) { peer.WaitForClose(); }});
    ASSERT_EQ(v3SockConnect(&sock, kLoopback, server.port(), 0, 0, kSockStream), kSockOk);
    EXPECT_EQ(v3SockConnect(&sock, kLoopback, server.port(), 0, 0, kSockStream), kSockErrConnected);
    sock.kind = kSockDatagram;
    EXPECT_EQ(v3SockSend(&sock, &count, &byte, 1, 10), kSockErrKind);
    sock.kind = kSockStream;
    EXPECT_EQ(v3SockClose(&sock), kSockOk);
    EXPECT_EQ(v3SockRelease(&sock), kSockOk);  // closing a closed socket is no failure
}

}  // namespace
