// The packet exchange and request over the system transport.
#include <cstring>

#include "log/log.h"
#include "net/connection.h"
#include "net/system_transport.h"

namespace {

void ReportStartFailure(int step) {
    if (!LogLevelOn(3)) return;
    switch (step) {
        case kSystemErrSession: LogPrint("Error: Couldn't open Internet handle\n"); break;
        case kSystemErrConnect: LogPrint("Error: Couldn't connect on opened Internet handle\n"); break;
        case kSystemErrRequest:
            LogPrint("Error: Couldn't open Http request on opened Internet handle\n");
            break;
        case kSystemErrSend: LogPrint("Couldn't send HTTP request to server (wininet)\n"); break;
        default:
            // The status is asked for as one 32-bit number.
            LogPrint("Couldn't get query status for request (buffer size %u needed)\n",
                     static_cast<unsigned>(sizeof(uint32_t)));
            break;
    }
}

// Reads exactly length bytes: the system transport reports a body that ends
// early as the end of data, but a record with a missing tail is damaged (its
// zeros would read as an address 0.0.0.0 or a padded unit), so it is refused
// here as the built-in transport refuses it.
int ReadWhole(SystemRequest* request, uint8_t* out, uint32_t length) {
    uint32_t got = 0;
    if (SystemRequestRead(request, out, length, &got) != 0) return -1;
    return got == length ? 0 : -1;
}

// The reply record, with the leading CR LF rule.
int ReadReplyRecord(SystemRequest* request, void* reply, uint32_t reply_length) {
    auto* out = static_cast<uint8_t*>(reply);
    const uint32_t first = reply_length < 2 ? reply_length : 2;
    if (ReadWhole(request, out, first) != 0) return -1;
    if (first < 2) return 0;
    if (out[0] == '\r' && out[1] == '\n') return ReadWhole(request, out, reply_length);
    return ReadWhole(request, out + 2, reply_length - 2);
}

}  // namespace

int CliWinINetRequest(const char* verb, const char* object, const char* host, uint16_t port,
                      const void* body, uint32_t body_length, void* reply, uint32_t reply_length,
                      int keep_open, CliConnection* handle_out) {
    if (keep_open && handle_out != nullptr) *handle_out = CliConnection{kConnectionSystem, nullptr};
    if (reply == nullptr && reply_length != 0) return -1;
    SystemRequest* request = nullptr;
    uint32_t status = 0;
    const int step = SystemRequestStart(&request, verb, object, host, port, body, body_length,
                                        &status, kExchangeTimeoutMs);
    int result = 0;
    if (step != 0) {
        ReportStartFailure(step);
        result = -1;
    } else if (status != 200 && status != 100) {
        if (LogLevelOn(3)) LogPrint("Error: Got status code %u from server\n", status);
        result = -1;
    } else if (reply_length > 0) {
        result = ReadReplyRecord(request, reply, reply_length);
    }
    if (result != 0 || !keep_open || handle_out == nullptr) {
        SystemRequestClose(request);
        return keep_open && handle_out == nullptr ? -1 : result;
    }
    handle_out->record = request;
    return 0;
}

int CliWinINetPost(const char* host, uint16_t port, const void* request, uint32_t request_length,
                   void* reply, uint32_t reply_length, int keep_open, CliConnection* handle_out) {
    return CliWinINetRequest("POST", "", host, port, request, request_length, reply, reply_length,
                             keep_open, handle_out);
}
