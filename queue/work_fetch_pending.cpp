#include "queue/work_fetch.h"

// Not built yet: the conversation with the assignment and work servers
// arrives with the server-conversation work. Until then no unit can be
// fetched, and the fetch driver keeps retrying with its backoff.
int FetchWork(QueueEntry*, const char*, WorkQueue*) { return -1; }
