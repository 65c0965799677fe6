// The work fetch: asks the assignment server for a work server, fetches a
// unit from it, stores its work data and fills its Queue entry. Built with
// the server conversation.
#pragma once

#include "queue/work_queue.h"

struct ServerAccess;

// Fills entry (received, has_deadline, deadline, core_location,
// download_options, work_header, server_port) and writes the unit's work
// data to work_file. queue supplies the performance fraction reported to the
// assignment server. The request names the core type that the identity's
// client type asks for; with asknet on, a fetch that worked withdraws the
// network permission. 0 when the unit and its data file are in place.
int FetchWork(const ServerAccess& access, QueueEntry* entry, const char* work_file, WorkQueue* queue);
