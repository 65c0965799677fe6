#include "client/work_cycle.h"

#include <cstdio>
#include <memory>

#include "core/core_file.h"
#include "client/client_records.h"
#include "client/core_launch.h"
#include "client/shutdown.h"
#include "core/core_download.h"
#include "log/log.h"
#include "queue/deadline.h"
#include "queue/get_work.h"
#include "queue/queue_display.h"
#include "conversation/return_results.h"
#include "conversation/work_fetch.h"
#include "support/console_input.h"
#include "support/thread.h"

WorkCycleOps DefaultWorkCycleOps(ClientState& state) {
    WorkCycleOps ops;
    ClientState* s = &state;
    ops.get_work = [s](WorkQueue* queue, uint32_t* index) {
        // One held unit for all the tries of this fetch: a unit the disk
        // refused is written again, not fetched anew.
        auto held = std::make_shared<HeldUnit>();
        return GetWork(queue, index, [s, held](QueueEntry* entry, const char* work_file, WorkQueue* q) {
            const int fetched = FetchWork(AccessOf(*s), entry, work_file, q, held.get());
            s->unit_held.store(held->data ? 1 : 0);
            return fetched;
        });
    };
    ops.download_core = [s](uint32_t type, const char* file, const char* location, uint8_t options) {
        return ::DownloadCore(AccessOf(*s), type, file, location, options);
    };
    ops.send_finished = [s](WorkQueue*, uint32_t index) { return SendFinishedUnitInTurn(s->results, index); };
    ops.send_all = [s](WorkQueue*) { return SendAllFinished(s->results); };
    ops.check_deadlines = [s](WorkQueue*) { CheckDeadlines(s->results); };
    ops.autosend = AutosendThread;
    ops.autosend_arg = &state.results;
    ops.read_line = v3ReadLine;
    ops.self_interrupt = SelfInterrupt;
    return ops;
}

WorkCycle::WorkCycle(ClientState* state, const WorkCycleOps& ops)
    : state_(state), queue_(state->work_queue.get()), delete_unit_(UnitDeleterOf(*state)), ops_(ops) {}

QueueEntry WorkCycle::Entry() const {
    QueueGuard guard(*queue_);
    return queue_->entries[index_];
}

void WorkCycle::SetSlotStatus(uint32_t status) {
    QueueGuard guard(*queue_);
    queue_->entries[index_].status = status;
}

void WorkCycle::MakeSuffix() {
    std::snprintf(suffix_, sizeof suffix_, "%02d", static_cast<int>(index_));
}

// The fetch driver picks (or fetches) the next unit. False after the fatal
// message when the queue is full and nothing could be freed.
bool WorkCycle::FetchNext() {
    if (ops_.get_work(queue_, &index_) != 0) {
        LogAt(kLogNormal, "Fatal: Work queue full\n");
        return false;
    }
    MakeSuffix();
    return true;
}

// The one-shot run modes; true when one ran (the process then ends).
bool WorkCycle::RunOneShot() {
    switch (state_->run_mode) {
    case MODE_QUEUEINFO:
        LogAt(kLogNormal, "Queue Status:\n");
        PrintQueueInfo(queue_);
        break;
    case MODE_DELETE:
        index_ = state_->mode_argument;
        LogAt(kLogNormal, "Deleting work unit #%u from work queue...\n", index_);
        if (delete_unit_(index_) != 0) LogAt(kLogNormal, "- Failed to delete the requested work unit\n");
        break;
    case MODE_SEND:
        LogAt(kLogNormal, "Attempting to return result(s) to server...\n");
        if (state_->mode_argument == 1) {
            if (ops_.send_all(queue_) != 0) LogAt(kLogNormal, "- Failed to send all units to server\n");
        } else if (ops_.send_finished(queue_, state_->send_index) != 0) {
            LogAt(kLogNormal, "- Failed to send unit %02d to server\n", static_cast<int>(state_->send_index));
        }
        break;
    default:
        return false;
    }
    ops_.self_interrupt();
    return true;
}

bool WorkCycle::Start() {
    c_ = WorkCycleCounters{};
    {
        QueueGuard guard(*queue_);
        index_ = queue_->current;
    }
    if (index_ >= kQueueSlots) {
        LogAt(kLogDiagnostic, "- Bad Index stored in Work Queue. Has been reset to zero.\n");
        index_ = 0;
    }
    if (RunOneShot()) return false;

    ops_.check_deadlines(queue_);
    if (v3ThreadStart(nullptr, ops_.autosend, ops_.autosend_arg, kAutosendThreadStack) != 0) {
        LogAt(kLogNormal, "Warning: Could not start work queue send thread\n");
        ops_.send_all(queue_);
    }
    if (Entry().status != kSlotReady) return FetchNext();
    MakeSuffix();
    return true;
}

bool WorkCycle::RunPass() {
    SetSlotStatus(kSlotActive);
    LogAt(kLogNormal, "\n");
    LogAt(kLogNormal, "+ Processing work unit\n");
    const QueueEntry entry = Entry();
    char core_file[kCoreFileNameSize];
    MakeCoreFileName(core_file, state_->edition_code, entry.core_type());
    LogAt(kLogNormal, "Core required: %s\n", core_file);

    uint32_t status = kCoreMissing;
    const bool core_present = CorePresent(core_file);
    if (core_present) {
        LogAt(kLogNormal, "Core found.\n");
        // A mark left by an earlier core that ended on its own before the
        // interrupt reached it must not turn this core's 102 into a drop.
        gDeadlineInterruptMark.store(0);
        status = RunCore(*state_, core_file, "work/", suffix_, 0);
        LogAt(kLogNormal, "CoreStatus = %X (%d)\n", status, static_cast<int>(status));
    } else {
        LogAt(kLogNormal, "Core not found.\n");
    }
    c_.core_status = status;

    switch (React(status, entry)) {
    case Next::kEnd:
        return false;
    case Next::kFinish:
        if (!Finish()) return false;
        break;
    case Next::kErrorCheck:
        ErrorCheck(entry, core_file);
        break;
    }
    // A pass that only brought a missing core leaves nothing to wait for:
    // the unit is run at once with the core now on disk.
    const bool core_fetched = !core_present && c_.drop_mark == 0 && CorePresent(core_file);
    if (!DropStep()) return false;
    PauseStep(core_fetched);
    return true;
}

void RunWorkCycle(ClientState* state) {
    if (state == nullptr || state->work_queue == nullptr) return;
    WorkCycle cycle(state, DefaultWorkCycleOps(*state));
    if (!cycle.Start()) return;
    while (cycle.RunPass()) {
    }
}
