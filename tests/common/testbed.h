// The testbed's servers as a test fixture: starts testbed/server/qrv_testbed.py
// inside the test's private network namespace (tests named *_testbed_test.cpp
// are run through testbed/netns-run by ctest), waits until it listens, talks
// to its control interface, and stops it.
#pragma once

#include <string>

namespace qrvtest {

class Testbed {
public:
    Testbed() = default;
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // Starts the server with the given JSON configuration (empty: defaults)
    // and bundle folder (empty: none), in folder `work_dir`. Waits at most
    // 20 s for its ready file. Returns false, with a reason in error(), when
    // it could not be started or we are not inside a private namespace.
    bool Start(const std::string& work_dir, const std::string& config_json = "",
               const std::string& cores_dir = "");
    // Ends the server (POST /shutdown, then SIGKILL after 5 s).
    void Stop();

    // One request to the control interface; returns the body and sets
    // *status to the HTTP status (0 when the server could not be reached).
    std::string Control(const std::string& method, const std::string& target,
                        const std::string& body = "", int* status = nullptr);
    // Changes a server's settings: Configure("ws1", R"({"verdict":434})").
    bool Configure(const std::string& server, const std::string& json);
    // A value of GET /summary ("units_accepted", ...), or -1.
    long Summary(const std::string& key);

    const std::string& error() const { return error_; }

private:
    int pid_ = -1;
    std::string error_;
};

// True when this process runs inside testbed/netns-run.
bool InPrivateNetwork();

}  // namespace qrvtest
