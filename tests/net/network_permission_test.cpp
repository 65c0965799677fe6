// The network permission: when the volunteer is asked, how often, and what
// happens when nobody can answer.
#include <unistd.h>

#include <string>

#include "net/download.h"
#include "net/network_permission.h"
#include "net_test_support.h"
#include "common/recording_server.h"

namespace {

// Puts text on standard input for the duration of a test.
class StdinFeed {
public:
    explicit StdinFeed(const std::string& text) : saved_(dup(0)) {
        int p[2];
        EXPECT_EQ(pipe(p), 0);
        EXPECT_EQ(write(p[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(p[1]);
        dup2(p[0], 0);
        close(p[0]);
    }
    ~StdinFeed() {
        dup2(saved_, 0);
        close(saved_);
    }
    // What the client left unread.
    std::string Rest() {
        std::string rest;
        char c;
        while (read(0, &c, 1) == 1) rest.push_back(c);
        return rest;
    }

private:
    int saved_;
};

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
    return n;
}

constexpr const char* kPrompt = "Ready to connect to network.";

class NetworkPermissionTest : public qrvnet::NetTest {};

TEST_F(NetworkPermissionTest, WithoutAsknetNobodyIsAskedYetThePermissionIsSet) {
    permission_.asknet = 0;
    permission_.given = 0;
    StdinFeed input("first line\n");
    qrvnet::ConsoleCapture console;
    AskNetworkPermission(permission_);
    EXPECT_EQ(NetworkPermissionGiven(permission_), 1u);
    EXPECT_EQ(Count(console.Text(), kPrompt), 0u);
    EXPECT_EQ(input.Rest(), "first line\n");
}

TEST_F(NetworkPermissionTest, AsksOnceUntilAFetchClearsThePermission) {
    permission_.asknet = 1;
    permission_.given = 0;
    StdinFeed input("\n\nleft over\n");
    qrvnet::RecordingServer server({qrvnet::Answer("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx")});
    qrvnet::ConsoleCapture console;

    AskNetworkPermission(permission_);  // before one exchange ...
    AskNetworkPermission(permission_);  // ... and the next: no second question
    EXPECT_EQ(NetworkPermissionGiven(permission_), 1u);
    EXPECT_EQ(Count(console.Text(), kPrompt), 1u);

    ClearNetworkPermission(permission_);  // what a successful work fetch does
    EXPECT_EQ(NetworkPermissionGiven(permission_), 0u);
    qrvnet::ConsoleCapture again;
    EXPECT_EQ(DownloadFile(Access(), server.host().c_str(), "/f", "f.bin"), 0);
    const std::string text = again.Text();
    EXPECT_EQ(Count(text, kPrompt), 1u);
    EXPECT_NE(text.find("Quorvel"), std::string::npos);
    // Each question took one line (the Enter), nothing more.
    EXPECT_EQ(input.Rest(), "left over\n");
}

TEST_F(NetworkPermissionTest, AtTheEndOfInputItGoesOnAndSaysSo) {
    permission_.asknet = 1;
    permission_.given = 0;
    StdinFeed input("");
    qrvnet::ConsoleCapture console;
    AskNetworkPermission(permission_);
    EXPECT_EQ(NetworkPermissionGiven(permission_), 1u);
    const std::string text = console.Text();
    EXPECT_EQ(Count(text, kPrompt), 1u);
    EXPECT_NE(text.find("Nobody could be asked"), std::string::npos) << text;
}

}  // namespace
