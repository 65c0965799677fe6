// File downloads over both transports: every body byte reaches the file,
// the progress totals, the end of a body at a block boundary, and failures.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "net/body_pace.h"
#include "net/download.h"
#include "net_test_support.h"
#include "common/recording_server.h"

using qrvnet::Answer;
using qrvnet::Peer;
using qrvnet::RecordingServer;

namespace {

std::string Body(size_t n) {
    std::string b(n, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = static_cast<char>(x >> 16);
    }
    return b;
}

std::string WithLength(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Chunked(const std::string& body, size_t piece) {
    std::string out = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (size_t at = 0; at < body.size(); at += piece) {
        const std::string part = body.substr(at, piece);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        out += size + part + "\r\n";
    }
    return out + "0\r\n\r\n";
}

std::string UntilClose(const std::string& body) { return "HTTP/1.0 200 OK\r\n\r\n" + body; }

std::vector<std::string> Totals(const std::string& console) {
    std::vector<std::string> totals;
    size_t at = 0;
    while ((at = console.find("+ ", at)) != std::string::npos) {
        const size_t end = console.find(" bytes downloaded\n", at);
        if (end == std::string::npos) break;
        totals.push_back(console.substr(at + 2, end - at - 2));
        at = end;
    }
    return totals;
}

// The names in the working folder, sorted: a failed download leaves no
// part of itself behind.
std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class DownloadTest : public qrvnet::NetTest {
protected:
    int Download(const RecordingServer& server, const char* path = "/core/Core_78.qrv") {
        return DownloadFile(Access(), server.host().c_str(), path, "Core_78.qrv");
    }
};

TEST_F(DownloadTest, BodyIsWrittenWholeInBlocksWithRunningTotals) {
    const std::string body = Body(25000);
    RecordingServer server({Answer(WithLength(body)), Answer(WithLength(body))});
    for (const uint32_t usereg : {0u, 1u}) {
        UseTransport(usereg);
        qrvnet::ConsoleCapture console;
        ASSERT_EQ(Download(server), 0) << usereg;
        EXPECT_TRUE(qrvtest::ReadFileText("Core_78.qrv") == body) << usereg;
        EXPECT_EQ(Totals(console.Text()), (std::vector<std::string>{"10240", "20480", "25000"}))
            << usereg;
    }
    server.Join();
    EXPECT_EQ(server.received().at(0), "GET http://" + server.host() +
                                           "/core/Core_78.qrv HTTP/1.1\r\nHost: " + server.host() +
                                           "\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST_F(DownloadTest, BodyOfWholeBlocksEndsCleanlyInEveryFraming) {
    const std::string body = Body(20480);
    const std::vector<std::string> answers = {WithLength(body), Chunked(body, 10240),
                                              Chunked(body, 3000), UntilClose(body)};
    for (const uint32_t usereg : {0u, 1u}) {
        UseTransport(usereg);
        for (const std::string& answer : answers) {
            RecordingServer server({Answer(answer)});
            qrvnet::ConsoleCapture console;
            ASSERT_EQ(Download(server), 0) << usereg << answer.substr(0, 50);
            EXPECT_TRUE(qrvtest::ReadFileText("Core_78.qrv") == body) << answer.substr(0, 50);
            const std::string text = console.Text();
            EXPECT_EQ(text.find("Network Receive Timeout"), std::string::npos) << text;
            EXPECT_EQ(Totals(text).back(), "20480");
        }
    }
}

TEST_F(DownloadTest, NoByteIsLostToTheReplyFraming) {
    // A file that begins with CR LF, and one whose second block does.
    std::string first = "\r\n" + Body(15000);
    std::string second = Body(10240) + "\r\n" + Body(100);
    for (const std::string* body : {&first, &second}) {
        RecordingServer server({Answer(WithLength(*body)), Answer(Chunked(*body, 4096))});
        ASSERT_EQ(Download(server), 0);
        EXPECT_TRUE(qrvtest::ReadFileText("Core_78.qrv") == *body);
        ASSERT_EQ(Download(server), 0);
        EXPECT_TRUE(qrvtest::ReadFileText("Core_78.qrv") == *body);
    }
}

TEST_F(DownloadTest, CutOffBodyFails) {
    const std::string body = Body(30000);
    const std::string cut_length =
        "HTTP/1.1 200 OK\r\nContent-Length: 30000\r\n\r\n" + body.substr(0, 15000);
    const std::string cut_chunks = Chunked(body, 10240).substr(0, 15000);
    for (const uint32_t usereg : {0u, 1u}) {
        UseTransport(usereg);
        for (const std::string* answer : {&cut_length, &cut_chunks}) {
            RecordingServer server({Answer(*answer)});
            qrvnet::ConsoleCapture console;
            EXPECT_EQ(Download(server), -1) << usereg;
            if (usereg == 0) {
                EXPECT_NE(console.Text().find("Network Receive Timeout\n"), std::string::npos);
            }
        }
    }
}

TEST_F(DownloadTest, MissingFileIsReportedWithItsCode) {
    RecordingServer server({Answer("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"),
                            Answer("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")});
    qrvnet::ConsoleCapture console;
    EXPECT_EQ(Download(server), -1);
    UseTransport(1);
    EXPECT_EQ(Download(server), -1);
    const std::string text = console.Text();
    EXPECT_NE(text.find("- Error: HTTP GET returned error code 404\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Error: Got status code 404 from server\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Couldn't download " + server.host() + "\n"), std::string::npos) << text;
}

TEST_F(DownloadTest, UnreachableHostAndUnwritableFile) {
    uint16_t closed_port;
    { RecordingServer probe({}); closed_port = probe.port(); }
    const std::string host = "127.0.0.1:" + std::to_string(closed_port);
    qrvnet::ConsoleCapture console;
    EXPECT_EQ(DownloadFile(Access(), host.c_str(), "/x", "x.bin"), -1);
    EXPECT_EQ(DownloadFile(Access(), "no-such-host.invalid", "/x", "x.bin"), -1);
    EXPECT_EQ(DownloadFile(Access(), "127.0.0.1", "/x", "no-such-dir/x.bin"), -1);
    const std::string text = console.Text();
    EXPECT_NE(text.find("- Error: HTTP GET returned error code 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Could not download 'no-such-host.invalid'\n"), std::string::npos) << text;
    EXPECT_NE(text.find("- Could not open no-such-dir/x.bin for writing"), std::string::npos) << text;
}

TEST_F(DownloadTest, SystemTransportTakesThePortOfTheHostText) {
    // The test server plays the environment's proxy, so the request line
    // shows which port the transport chose without binding port 80.
    std::vector<RecordingServer::Script> scripts(4, Answer(WithLength("data")));
    RecordingServer proxy(scripts);
    setenv("http_proxy", ("http://" + proxy.host()).c_str(), 1);
    UseTransport(1);
    qrvnet::ConsoleCapture console;
    EXPECT_EQ(DownloadFile(Access(), "127.0.0.1:8081", "/c/Core_78.qrv", "a.qrv"), 0);
    EXPECT_EQ(DownloadFile(Access(), "127.0.0.1:0", "/c/Core_78.qrv", "b.qrv"), 0);
    EXPECT_EQ(DownloadFile(Access(), "127.0.0.1:70000", "/c/Core_78.qrv", "c.qrv"), 0);
    EXPECT_EQ(DownloadFile(Access(), "127.0.0.1", "/c/Core_78.qrv", "d.qrv"), 0);
    EXPECT_EQ(qrvtest::ReadFileText("d.qrv"), "data");
    proxy.Join();
    const std::vector<std::string> got = proxy.received();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].rfind("GET http://127.0.0.1:8081/c/Core_78.qrv HTTP/1.0\r\n", 0), 0u) << got[0];
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(got[i].rfind("GET http://127.0.0.1/c/Core_78.qrv HTTP/1.0\r\n", 0), 0u) << got[i];
    }
    const std::string text = console.Text();
    size_t warnings = 0;
    for (size_t at = 0; (at = text.find("Bad server port specified for download. Using default\n",
                                        at)) != std::string::npos;
         ++at) {
        ++warnings;
    }
    EXPECT_EQ(warnings, 2u);
}

TEST_F(DownloadTest, LargeBodiesSurviveBothTransports) {
    const std::string body = Body(3 * 1024 * 1024 + 17);
    RecordingServer server({Answer(Chunked(body, 70000)), Answer(UntilClose(body))});
    ASSERT_EQ(Download(server), 0);
    EXPECT_TRUE(qrvtest::ReadFileText("Core_78.qrv") == body);
    UseTransport(1);
    ASSERT_EQ(Download(server), 0);
    EXPECT_TRUE(qrvtest::ReadFileText("Core_78.qrv") == body);
}

// A body that would never end must not fill the disk: it is cut at the cap,
// with a message, and nothing of it stays; the old bundle is left alone.
TEST_F(DownloadTest, EndlessBodyIsCutAtTheCapAndLeavesNothing) {
    const std::string piece(1 << 20, 'x');
    for (const uint32_t usereg : {0u, 1u}) {
        UseTransport(usereg);
        qrvtest::WriteFileText("Core_78.qrv", "the old bundle");
        // Until the client gives up, or far past the cap when it never does.
        RecordingServer server({[&](Peer& peer) {
            peer.ReadRequest();
            if (!peer.Offer("HTTP/1.0 200 OK\r\n\r\n")) return;
            for (uint64_t sent = 0; sent <= 2 * kCoreBundleMax && peer.Offer(piece);) {
                sent += piece.size();
            }
        }});
        qrvnet::ConsoleCapture console;
        EXPECT_EQ(Download(server), -1) << usereg;
        const std::string text = console.Text();
        EXPECT_NE(text.find("- Download of /core/Core_78.qrv stopped: more than 67108864 bytes\n"),
                  std::string::npos)
            << usereg;
        EXPECT_EQ(Totals(text).back(), "67102720") << usereg;
        EXPECT_EQ(qrvtest::ReadFileText("Core_78.qrv"), "the old bundle");
        EXPECT_EQ(Names(), std::vector<std::string>{"Core_78.qrv"});
    }
}

// Pieces of a download five minutes apart on the client's clock: each read
// is served in time, but the body falls far below the lowest rate it may
// keep, so the download is given up, and leaves nothing.
TEST_F(DownloadTest, DrippedDownloadIsCut) {
    const std::string body = Body(12000);
    std::vector<std::string> pieces;
    for (size_t at = 0; at < body.size(); at += 1000) pieces.push_back(body.substr(at, 1000));
    qrvnet::g_clock_step = 0;
    v3SetTimeNowHook(qrvnet::RacingClock);
    for (const uint32_t usereg : {0u, 1u}) {
        UseTransport(usereg);
        RecordingServer server({qrvnet::Drip("HTTP/1.1 200 OK\r\nContent-Length: 12000\r\n\r\n",
                                             pieces, "", [] { qrvnet::g_fake_seconds += 300; })});
        EXPECT_EQ(Download(server), -1) << usereg;
        EXPECT_TRUE(Names().empty()) << usereg;
    }
    v3SetTimeNowHook(nullptr);
    qrvnet::g_clock_step = 1;
}

// A link of a steady rate on the client's clock, on either transport. At
// 4 KiB/s a 20 MiB core takes 85 minutes, far past the 30 minutes a request
// and the head of its answer are given: the body is fetched whole, however
// long it takes, as long as it keeps the rate. At 1000 bytes a second, just
// below the lowest rate a body may keep, a body that would be in within ten
// minutes is given up as soon as its first window has passed.
TEST_F(DownloadTest, BodyIsKeptByItsRateNotByATimeLimit) {
    // The clock moves a tick at a time, once the client has read all that
    // came before, so a window is judged by at most two ticks' worth of
    // bytes fewer than the link brought: at 4 KiB/s, ticks of up to 45 s
    // still keep the rate.
    const struct {
        size_t size;
        size_t piece;  // bytes a tick
        int64_t tick;  // seconds
        int expected;
    } links[] = {{20u << 20, 122880, 30, 0}, {600000, 4000, 4, -1}};
    qrvnet::g_clock_step = 0;
    v3SetTimeNowHook(qrvnet::RacingClock);
    for (const auto& link : links) {
        const std::string body = Body(link.size);
        for (const uint32_t usereg : {0u, 1u}) {
            UseTransport(usereg);
            const int64_t start = qrvnet::g_fake_seconds;
            const int64_t tick = link.tick;
            RecordingServer server({qrvnet::SteadyLink(
                "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n",
                body, link.piece, [tick] { qrvnet::g_fake_seconds += tick; })});
            ASSERT_EQ(Download(server), link.expected) << usereg << " " << link.size;
            server.Join();
            const int64_t took = qrvnet::g_fake_seconds - start;
            if (link.expected == 0) {
                EXPECT_GE(took, 5120) << usereg;
                EXPECT_TRUE(qrvtest::ReadFileText("Core_78.qrv") == body) << usereg;
                std::remove("Core_78.qrv");
            } else {
                // Cut at the end of the window, not later: the server may
                // move the clock on a tick or two before it sees the client
                // gone.
                EXPECT_GE(took, kBodyRateWindowMs / 1000) << usereg;
                EXPECT_LE(took, kBodyRateWindowMs / 1000 + 3 * tick) << usereg;
                EXPECT_TRUE(Names().empty()) << usereg;
            }
        }
    }
    v3SetTimeNowHook(nullptr);
    qrvnet::g_clock_step = 1;
}

// A symbolic link placed where the download goes must not make the client
// write the file it points to: the link is replaced by the downloaded file,
// and a failed download leaves link and file as they were.
TEST_F(DownloadTest, LinkInPlaceOfTheFileIsReplacedNotFollowed) {
    const std::string body = Body(15000);
    for (const uint32_t usereg : {0u, 1u}) {
        UseTransport(usereg);
        qrvtest::WriteFileText("victim.txt", "not yours");
        ASSERT_EQ(symlink("victim.txt", "Core_78.qrv"), 0);
        RecordingServer server({Answer("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"),
                                Answer(WithLength(body))});
        EXPECT_EQ(Download(server), -1) << usereg;
        struct stat st {};
        ASSERT_EQ(lstat("Core_78.qrv", &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << usereg;
        EXPECT_EQ(Names(), (std::vector<std::string>{"Core_78.qrv", "victim.txt"}));

        ASSERT_EQ(Download(server), 0) << usereg;
        ASSERT_EQ(lstat("Core_78.qrv", &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << usereg;
        EXPECT_TRUE(qrvtest::ReadFileText("Core_78.qrv") == body);
        EXPECT_EQ(qrvtest::ReadFileText("victim.txt"), "not yours") << usereg;
        EXPECT_EQ(Names(), (std::vector<std::string>{"Core_78.qrv", "victim.txt"}));
        std::remove("Core_78.qrv");
    }
}

}  // namespace
