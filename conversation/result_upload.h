// The result upload: returns one finished unit's results to the work server
// that issued it and reads the server's verdict.
#pragma once

#include <cstdint>

#include "queue/work_queue.h"

struct ServerAccess;
struct Settings;

// Largest results payload sent; a longer results file is sent cut to it.
inline constexpr uint32_t kMaxResultsPayload = 2097152;

// Verdicts of SendResults, typed as the other families are; returning
// results stores them in plain ints and compares with the names.
enum UploadResult : int {
    kUploadOk = 0,         // the server accepted the results
    kUploadFailed = -1,    // transfer failed, or a transfer problem reported: try again later
    kUploadUnusable = -2,  // no results to send, or no server to send them to
    kUploadRefused = 22,   // the server refused the unit for good
};

// A short English description of a verdict, "unknown upload result" for any
// other value.
const char* UploadResultName(int code);

// Sends the results file of entry's unit, with the header that names the
// unit's core type, to the entry's work server. 0 when the server accepted
// them (a unit the core finished is then counted in settings and client.cfg,
// and work/current.xyz removed); 22 for the refusals 404, 420, 430, 434 and 440; -1 for no
// connection, the replies 444, 450, 454 and any reply the client does not
// know, and a results file that exists but cannot be read now; -2 for a
// missing or empty results file or an entry without server address.
// Nothing in the entry is changed.
UploadResult SendResults(const ServerAccess& access, Settings& settings, const QueueEntry* entry,
                         const char* results_file);
