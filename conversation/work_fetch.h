// The work fetch: asks the assignment server for a work server, fetches a
// unit from it, stores its work data and fills its Queue entry. Built with
// the server conversation.
#pragma once

#include "queue/work_queue.h"

// Fills entry (received, has_deadline, deadline, core_location,
// download_options, work_header, server_port) and writes the unit's work
// data to work_file. queue supplies the performance fraction reported to the
// assignment server. 0 when the unit and its data file are in place.
int FetchWork(QueueEntry* entry, const char* work_file, WorkQueue* queue);
