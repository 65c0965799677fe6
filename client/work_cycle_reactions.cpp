// The cycle's answer to each core exit code, and the finishing steps of a
// unit the core completed.
#include <string>

#include "client/core_launch.h"
#include "client/work_cycle.h"
#include "log/log.h"
#include "queue/deadline.h"
#include "support/time_value.h"

WorkCycle::Next WorkCycle::React(uint32_t status, const QueueEntry& entry) {
    switch (status) {
    case kCoreSettingsChanged:
        LogAt(kLogNormal, "+ Restarting core (settings changed) \n");
        gSettingsRestartMark.store(1);
        return Next::kErrorCheck;
    case kCoreStartFailed: {
        const std::string name = entry.core_name();
        LogAt(kLogNormal, "+ Error starting %s core.\n", name.empty() ? "Quorvel" : name.c_str());
        c_.core_errors += 1;
        return Next::kErrorCheck;
    }
    case kCoreFinished: {
        c_.redownloads = 0;
        QueueGuard guard(*queue_);
        queue_->entries[index_].core_finished = 1;
        return Next::kFinish;
    }
    case kCoreSpecialExit:
        LogAt(kLogNormal, "Core internal error: SPECIAL_EXIT\n");
        c_.core_errors += 1;
        return Next::kErrorCheck;
    case kCoreInterrupted:
        return ReactToInterrupt();
    case kCoreOutOfDate:
        LogAt(kLogNormal, "+ Core out of date. Auto updating...\n");
        if (c_.new_core != 0) {
            LogAt(kLogNormal, "New core downloaded for this work unit, but still out of date.\n");
            c_.drop_mark = 1;
        }
        c_.core_errors += 3;
        return Next::kErrorCheck;
    case kCoreBadFormat:
        LogAt(kLogNormal, "+ The core could not recognize the format of the provided work file.\n");
        c_.drop_mark = 1;
        return Next::kErrorCheck;
    case kCoreUnitInvalid:
        LogAt(kLogNormal, "+ The core could not validate the current work unit for processing.\n");
        c_.drop_mark = 1;
        return Next::kErrorCheck;
    case kCoreUnitCorrupt:
        LogAt(kLogNormal, "+ Work unit files corrupt\n");
        LogAt(kLogNormal, "Possibly received incorrectly.\n");
        c_.drop_mark = 1;
        return Next::kErrorCheck;
    case kCoreUnitEnded:
        return Next::kFinish;
    case kCoreBadArguments:
        LogAt(kLogNormal, "Client internal error: Core did not recognize client arguments.\n");
        c_.core_errors += 1;
        return Next::kErrorCheck;
    case kCoreNoWorkFiles:
        LogAt(kLogNormal, "The core could not find the work files specified. Removing from queue\n");
        c_.drop_mark = 1;
        return Next::kErrorCheck;
    case kCoreFileError:
        LogAt(kLogNormal, "Error opening or reading from a file.\n");
        c_.drop_mark = 1;
        return Next::kErrorCheck;
    case kCoreMissing:
        LogAt(kLogNormal, "- Core is not present or corrupted.\n");
        c_.core_errors += 3;
        return Next::kErrorCheck;
    default:
        LogAt(kLogNormal, "Client-core communications error: ERROR 0x%x\n", status);
        c_.core_errors += 1;
        c_.drop_mark = 1;
        return Next::kErrorCheck;
    }
}

// 102: the client itself stopped the core because the unit's deadline
// passed, or someone else asked the core to stop, which means the user
// wants the client to stop too.
WorkCycle::Next WorkCycle::ReactToInterrupt() {
    if (gDeadlineInterruptMark.load() == 0) {
        LogAt(kLogNormal, "+ Shutdown requested by user. Exiting.");
        ops_.self_interrupt();
        return Next::kEnd;
    }
    delete_unit_(index_);
    gDeadlineInterruptMark.store(0);
    return FetchNext() ? Next::kErrorCheck : Next::kEnd;
}

// 100 and 114: the result is returned and the next unit taken. False when
// no next unit can be had.
bool WorkCycle::Finish() {
    LogAt(kLogNormal, "Sending work to server\n");
    {
        QueueGuard guard(*queue_);
        QueueEntry& e = queue_->entries[index_];
        e.status = kSlotDone;
        v3TimeNow(&e.completed);
        UpdatePerformanceFraction(queue_, index_);
        SaveQueue(queue_);
    }
    if (ops_.send_finished(queue_, index_) == 0) delete_unit_(index_);
    // Units whose results failed to go earlier get another chance.
    ops_.send_all(queue_);
    c_.core_errors = 0;
    c_.drops = 0;
    if (state_->pause != 0) Pause();
    return FetchNext();
}

void WorkCycle::Pause() {
    LogAt(kLogNormal, "+ Paused after finishing unit\n");
    LogAt(kLogNormal, "Press Enter to continue, Ctrl-C to exit...\n");
    char line[256];
    ops_.read_line(line, sizeof line, 0);
    state_->pause = 0;
}
