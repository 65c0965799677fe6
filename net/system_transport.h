// The system transport's request object: one HTTP request made through the
// system's Internet library (libcurl, which takes the proxy settings of the
// environment: http_proxy, no_proxy). The body is handed out incrementally:
// nothing beyond what a read asks for is buffered here, apart from the rest
// of the one piece the library had already delivered.
#pragma once

#include <cstdint>

// Session, connection and request of one exchange; owned by whoever opened
// it and released with SystemRequestClose.
struct SystemRequest;

// Results of SystemRequestStart: success, or the failing step, numbered in
// the order the steps are taken. Typed as the other families are.
enum SystemResult : int {
    kSystemOk = 0,
    kSystemErrSession = -1,  // no session could be opened
    kSystemErrConnect = -2,  // no connection object for host and port
    kSystemErrRequest = -3,  // the request could not be set up
    kSystemErrSend = -4,     // sending it or receiving the answer failed
    kSystemErrQuery = -5,    // the answer carries no status
};

// A short English description of a step's code, "unknown system transport
// result" for any other value.
const char* SystemResultName(int code);

// Opens a request (verb, object on host:port, with an optional body; the
// version sent is HTTP/1.0, with no caching by proxies), sends it and waits
// for the answer's head. *status receives its status code. On success
// *request is the open request; on failure it is nullptr and the code tells
// the failing step. timeout_ms bounds the request up to the end of its
// answer's head, counted from now on the client's clock (v3TimeNow); the
// body after it is held to the low-speed rule of net/body_pace.h.
SystemResult SystemRequestStart(SystemRequest** request, const char* verb, const char* object,
                                const char* host, uint16_t port, const void* body,
                                uint32_t body_length, uint32_t* status, uint32_t timeout_ms);

// Reads body bytes until length are in or the body has ended; *got tells how
// many (fewer only at the end). 0, or -1 when the transfer failed before
// length bytes were in, or the body fell below the low-speed rule. A plain
// int: its -1 is no step of SystemRequestStart.
int SystemRequestRead(SystemRequest* request, void* buf, uint32_t length, uint32_t* got);

// Releases the request, its connection and its session, in that order.
// nullptr is allowed.
void SystemRequestClose(SystemRequest* request);
