// The log module's own view of where log bytes go; not for other subsystems.
#pragma once

#include "support/file.h"

// An open log file. The module keeps at most one as its target.
struct LogStream {
    v3File file;
};

// Makes stream the target of every later write (nullptr: console only) and
// returns the previous target. Taken under the log lock, so a line being
// written finishes in the old target.
LogStream* LogSwapTarget(LogStream* stream);
