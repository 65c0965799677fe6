// A one-connection HTTP peer on the loopback interface for targets that
// drive the built-in HTTP client: it accepts one connection, reads the
// request head, answers with the given bytes, closes its sending side
// (unless told to hold it open, so that the client's time-outs are what ends
// its reading) and waits (bounded) for the client to close before it lets
// go.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace qrvfuzz {

class LoopbackPeer {
public:
    // Starts serving `reply` to the next connection on Port().
    LoopbackPeer(std::string reply, bool hold_open);
    ~LoopbackPeer();  // joins the serving thread
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    // The port of the process's listening socket (made on first use).
    static uint16_t Port();
    // "http://127.0.0.1:PORT"
    static std::string Url();

private:
    std::thread thread_;
};

}  // namespace qrvfuzz
