// The Client state: the one process-wide record of the run mode, the option
// flags, the identity of this edition and the figures measured at start-up.
// It lives for the whole run; threads other than the entry thread read it
// after the client thread has been started (service is read by the console
// event handler from the start, hence atomic).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "config/settings.h"
#include "conversation/return_results.h"
#include "net/client_identity.h"
#include "net/transport.h"

struct LogStream;

// Run modes.
inline constexpr uint32_t MODE_NORMAL = 100;
inline constexpr uint32_t MODE_CONFIG = 101;
inline constexpr uint32_t MODE_DELETE = 102;
inline constexpr uint32_t MODE_SEND = 103;
inline constexpr uint32_t MODE_QUEUEINFO = 104;

struct ClientState : Settings {
    // Start-up and command line.
    uint32_t run_mode = MODE_NORMAL;
    uint32_t mode_argument = 0;  // MODE_DELETE: the index; MODE_SEND: 1 all, 0 one
    uint32_t send_index = 0;     // MODE_SEND with one unit: its index (not range-checked)
    const char* program_name = "qrv3";  // points into the first argument
    int argument_count = 0;
    char** argument_list = nullptr;
    uint32_t local = 0;          // -local: stay in the current directory
    uint32_t pause = 0;          // -pause: stop once after the next finished unit
    uint32_t forceasm = 0;       // -forceasm: pass " -forceasm" to the next core
    std::atomic<uint32_t> forceasm_passed{0};  // ... and to one core only
    uint16_t advmethods = 0;     // -advmethods, reported to the assignment server
    uint16_t betateam = 0;       // -betateam, reported to the assignment server
    uint16_t internal = 0;       // -internal, reported to the assignment server
    std::atomic<uint32_t> service{0};  // -service: ignore log-off; " -service" to cores
    uint32_t edition_code = 0;   // 2 for this console client, set at start-up
    uint64_t benchmark = 0;      // the benchmark figure times 4, sent to the servers
    // 1 while a unit that arrived is held in memory because the disk refused
    // its data: a shutdown then gives it up, and says so.
    std::atomic<uint32_t> unit_held{0};

    // Owned records made at start-up.
    LogStream* log_fallback = nullptr;  // the fallback log OpenLog made, if any
    std::unique_ptr<WorkQueue> work_queue;  // the one Work queue of the process
    // Built once the settings are loaded and the benchmark measured
    // (client/client_records.h), and handed down by reference.
    ClientIdentity identity;
    std::unique_ptr<Transport> transport;
    ResultReturn results;
};

// The process-wide Client state.
extern ClientState& gClientState;
