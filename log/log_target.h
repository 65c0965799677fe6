// The log module's own view of where log bytes go; not for other subsystems.
#pragma once

#include "support/file.h"

// An open log file. The module keeps at most one as its target.
struct LogStream {
    v3File file;
    // The size from which the next rotation is tried: the rotation size,
    // or, after a rotation that could not be made, a quarter of it past
    // the size at which that one failed.
    uint64_t rotate_at;
};

// Makes stream the target of every later write (nullptr: console only) and
// returns the previous target. Taken under the log lock, so a line being
// written finishes in the old target.
LogStream* LogSwapTarget(LogStream* stream);
// Writes text to the target and the console, then takes the target away
// (returned, to be closed) and silences the console for good, all under the
// log lock.
LogStream* LogWriteAndSeal(const char* text);

// Rotates the target if its last write took it to its rotation size: at a
// line end (the last byte written was a line feed), or anywhere once it is
// kLogRotateSlack bytes past. Called by the writer with the log lock held,
// so no other thread writes meanwhile; it therefore prints nothing itself.
void RotateFullLog(LogStream* stream, bool at_line_end);
