// The operating system's asynchronous signals, taken synchronously: the
// interrupt, terminate, hang-up and quit signals are blocked in every thread
// and one thread waits for them, so that their handling runs as ordinary code.
#pragma once

enum class v3OsSignal { kInterrupt, kTerminate, kHangUp, kQuit };

// Blocks the four signals in the calling thread (threads created afterwards
// inherit the mask). 0, or -1.
int v3PlatformSignalsBlock();
// Waits for the next of the four signals sent to the process. 0 with *which
// set, or -1 on failure.
int v3PlatformSignalsWait(v3OsSignal* which);
// Unblocks the four signals in the calling thread and restores their default
// actions. A freshly forked child calls it before it runs another program, so
// that the program (a core) receives them normally; it is async-signal-safe
// for that reason. Also undoes v3PlatformSignalsBlock when no dispatcher
// could be started.
void v3PlatformSignalsRestore();
