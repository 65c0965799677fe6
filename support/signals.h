// Signals 2 (interrupt) and 15 (terminate) between processes, and the console
// events of the terminal the client runs in.
//
// Between processes a signal travels through two named semaphores that every
// process of this family (the client and its cores) creates for itself,
// "%016Y-SIGINT" and "%016Y-SIGTERM" made from its process ID. A release of
// the one ending in "-SIGTERM" delivers signal 2 and a release of the one
// ending in "-SIGINT" delivers signal 15: each name carries the other
// signal's name. The cores are built against exactly this naming, so it must
// never change.
//
// Handlers never run inside an asynchronous signal handler; they run as
// ordinary code, one at a time: on a watcher thread (signals through the
// semaphores), on the thread that sends a signal to its own process, or on the
// dispatcher thread (signals and console events from the operating system).
#pragma once

#include <cstdint>

inline constexpr int kSignalProbe = 0;          // v3SignalSend: is the process alive?
inline constexpr int kSignalInterrupt = 2;
inline constexpr int kSignalTerminate = 15;
inline constexpr int kSignalKill = 16962;       // v3SignalSend: end the process outright

// Console events handed to the console handler.
inline constexpr uint32_t kConsoleCtrlC = 0;
inline constexpr uint32_t kConsoleCtrlBreak = 1;
inline constexpr uint32_t kConsoleLogoff = 5;

// Installs handler for signal 2 or 15. The first call in the process creates
// the process's two signal semaphores and starts their watcher; later calls
// only install. 0, or -1 (other signal number, semaphores or watcher could
// not be made). Safe to call from several threads.
int v3SignalRegister(int sig, void (*handler)(int));

// After a v3SignalRegister that failed because another user owns the name of
// one of the process's signal semaphores: that reason, naming the semaphore
// and its owner, as one line without a line feed into out (size bytes), and
// 0. -1 with out empty when that was not why it failed.
int v3SignalRegisterRefusal(char* out, uint64_t size);

// Installs handler for signal 2 or 15 without making the semaphores: signals
// from the operating system, and those the process sends itself, reach it at
// once, while other processes can reach it only after v3SignalRegister. The
// client installs its shutdown handler this way before anything else, so
// that a terminate signal during start-up ends it as an interrupt would,
// not by the system's default. 0, or -1 for another signal number.
int v3SignalHandlerInstall(int sig, void (*handler)(int));

// Sends sig to process pid.
//   0      probe: 0 when the process is alive, -1 when it is not (or pid is
//          not a valid process ID).
//   2, 15  own process: runs the registered handler (waiting for it) and
//          returns 0. Another process: releases that process's semaphore;
//          -1 when it has none or when a release is already pending there.
//   16962  own process: v3Exit(-1). Another process: ends it outright.
// Any other number: -1.
int v3SignalSend(uint64_t pid, int sig);

// Installs the console event handler (0 Ctrl-C, 1 Ctrl-Break, 5 log-off). It
// returns non-zero when it handled the event; an event it leaves unhandled,
// or one that arrives with no handler installed, ends the process as the
// system would.
void v3ConsoleHandlerRegister(int (*handler)(uint32_t event));

// Takes over the process's interrupt, terminate, hang-up and quit signals
// from the operating system: blocks them in the calling thread and starts the
// one dispatcher thread that waits for them. Call it from main before any
// other thread exists, so that every thread inherits the mask. An interrupt
// becomes console event 0, quit event 1, hang-up event 5, and terminate runs
// the handler of signal 15. 0, or -1 (the mask or the thread failed). Calling
// it again does nothing and returns 0.
int v3SignalDispatchStart();

// Removes the names of this process's two signal semaphores, so that no
// sender finds them any more. v3Exit does this, and so does a normal end of
// the process; calling it again does nothing.
void v3SignalRemoveSemaphores();
