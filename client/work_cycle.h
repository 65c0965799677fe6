// The main work cycle, run by the client thread after its first act: the
// one-shot run modes, then unit after unit for ever, reacting to each core
// exit code with the counters that let the client outlive bad units, bad
// cores and bad networks without a user.
#pragma once

#include <cstdint>
#include <functional>

#include "client/client_state.h"
#include "queue/queue_operations.h"
#include "queue/work_queue.h"

// The operations of other subsystems the cycle calls, bound to the client's
// records; tests replace some of them (the network ones, the console, the
// self-interrupt).
struct WorkCycleOps {
    std::function<int(WorkQueue* queue, uint32_t* index)> get_work;
    std::function<int(uint32_t core_type, const char* core_file, const char* core_location,
                      uint8_t download_options)>
        download_core;
    std::function<int(WorkQueue* queue, uint32_t index)> send_finished;
    std::function<int(WorkQueue* queue)> send_all;
    std::function<void(WorkQueue* queue)> check_deadlines;
    void (*autosend)(void* arg) = nullptr;  // thread body
    void* autosend_arg = nullptr;           // what it works with; lives for the whole run
    std::function<uint64_t(char* buf, uint64_t size, uint32_t mode)> read_line;
    std::function<void()> self_interrupt;  // ends the process; returns only in tests
};
// The operations of the running client, bound to the records of state.
WorkCycleOps DefaultWorkCycleOps(ClientState& state);

// The cycle's own state (none of it is saved; a restart begins at 0).
struct WorkCycleCounters {
    uint32_t core_status = 0;        // last exit code, 120 for a missing core
    uint32_t core_errors = 0;        // weighted; a re-download begins at 3
    uint32_t redownloads = 0;        // since the last unit ended with 100
    uint32_t new_core = 0;           // a core was fetched for the current unit
    uint32_t drop_mark = 0;          // drop the current unit at the end of the pass
    uint32_t drops = 0;              // units dropped since the last finish or purge
    uint32_t download_attempts = 0;  // failed attempts of the current re-download
};

class WorkCycle {
public:
    WorkCycle(ClientState* state, const WorkCycleOps& ops);

    // The start of the client thread after its signal registration: the
    // one-shot modes (which end the process), the deadline pass and the
    // autosend thread, and the first unit. False when the thread is to end.
    bool Start();
    // One pass over the current unit. False when the thread is to end.
    bool RunPass();

    const WorkCycleCounters& counters() const { return c_; }
    uint32_t queue_index() const { return index_; }

private:
    enum class Next { kErrorCheck, kFinish, kEnd };

    bool RunOneShot();
    QueueEntry Entry() const;
    void SetSlotStatus(uint32_t status);
    bool FetchNext();
    void MakeSuffix();
    Next React(uint32_t status, const QueueEntry& entry);
    Next ReactToInterrupt();
    bool Finish();
    void Pause();
    void ErrorCheck(const QueueEntry& entry, const char* core_file);
    void SleepOneDay();
    void DownloadCore(const QueueEntry& entry, const char* core_file);
    bool DropStep();
    void PauseStep(bool core_fetched) const;

    ClientState* state_;
    WorkQueue* queue_;
    UnitDeleter delete_unit_;  // the unit's core removes its files
    WorkCycleOps ops_;
    WorkCycleCounters c_;
    uint32_t index_ = 0;
    char suffix_[8] = "00";
};

// The client thread's work after its signal registration. Returns only when
// the cycle must stop without ending the process (the queue is full and no
// slot can be freed).
void RunWorkCycle(ClientState* state);
