// The result upload: returns one finished unit's results to the work server
// that issued it and reads the server's verdict.
#pragma once

#include <cstdint>

#include "queue/work_queue.h"

struct ServerAccess;
struct Settings;

// Largest results payload sent; a longer results file is sent cut to it.
inline constexpr uint32_t kMaxResultsPayload = 2097152;

// Results of SendResults besides 0 (accepted) and -1 (transfer failed or the
// server reported a transfer problem: worth another try later).
inline constexpr int kUploadUnusable = -2;  // no results to send, or no server to send them to
inline constexpr int kUploadRefused = 22;   // the server refused the unit for good

// Sends the results file of entry's unit, with the header that names the
// unit's core type, to the entry's work server. 0 when the server accepted
// them (a unit the core finished is then counted in settings and client.cfg,
// and work/current.xyz removed); 22 for the refusals 404, 420, 430, 434 and 440; -1 for no
// connection, the replies 444, 450, 454 and any reply the client does not
// know, and a results file that exists but cannot be read now; -2 for a
// missing or empty results file or an entry without server address.
// Nothing in the entry is changed.
int SendResults(const ServerAccess& access, Settings& settings, const QueueEntry* entry,
                const char* results_file);
