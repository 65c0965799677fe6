// What the cycle does about a core that keeps failing and a unit that cannot
// be processed: re-downloads, the day's sleep, drops and the purge.
#include "build_options.h"
#include "client/core_launch.h"
#include "client/work_cycle.h"
#include "log/log.h"
#include "queue/queue_operations.h"
#include "support/retry_backoff.h"
#include "support/sleep.h"

namespace {

constexpr uint32_t kErrorsForRedownload = 3;
constexpr uint32_t kRedownloadsBeforeSleep = 5;
constexpr uint32_t kOneDayMs = 86400000;
constexpr uint32_t kDownloadRetries = 20;  // after the first attempt
constexpr uint32_t kFirstWaitMs = 5000;
constexpr uint32_t kLongestWaitMs = 2880000;
constexpr uint32_t kSpreadMs = 15000;
constexpr uint32_t kDropsBeforePurge = 10;
constexpr uint32_t kPassPauseMs = 5000;

}  // namespace

void WorkCycle::ErrorCheck(const QueueEntry& entry, const char* core_file) {
    if (c_.core_errors < kErrorsForRedownload) return;
    c_.redownloads += 1;
    if (c_.redownloads > kRedownloadsBeforeSleep) SleepOneDay();
    LogAt(kLogNormal, "- Attempting to download new core...\n");
    DownloadCore(entry, core_file);
    c_.core_errors = 0;
    c_.download_attempts = 0;
    c_.new_core = 1;
}

// Cores that fail again and again point at something a user must look at;
// the client stops hammering the download host until then.
void WorkCycle::SleepOneDay() {
    LogAt(kLogNormal, 
            "\nQuorvel will go to sleep for 1 day as there have been %i consecutive Cores executed which failed to complete a work unit.\n",
            static_cast<int>(kRedownloadsBeforeSleep));
    LogAt(kLogNormal, "(To wake it up early, quit the application and restart it.)\n");
    LogAt(kLogNormal, "If the problem persists, please see %s for help.\n", QRV_WEB_ADDRESS);
    LogAt(kLogNormal, "+ Sleeping...\n\n");
    v3Sleep(kOneDayMs);
    LogAt(kLogNormal, "Waking.\n");
}

void WorkCycle::DownloadCore(const QueueEntry& entry, const char* core_file) {
    RetryBackoff(kFirstWaitMs, kLongestWaitMs, kSpreadMs);
    while (ops_.download_core(entry.core_type(), core_file, entry.core_location,
                              entry.download_options) != 0) {
        c_.download_attempts += 1;
        if (c_.download_attempts > kDownloadRetries) {
            c_.drop_mark = 1;
            LogAt(kLogNormal, "- Giving up on downloading core, trying new work unit instead\n");
            return;
        }
        LogAt(kLogNormal, "+ Core download error (#%d), waiting before retry...\n\n",
              static_cast<int>(c_.download_attempts + 1));
        RetryBackoff(0, 0, 0);
    }
}

// Drops the current unit when the pass marked it. False when no next unit
// can be had.
bool WorkCycle::DropStep() {
    if (c_.drop_mark == 0) return true;
    const uint32_t before = c_.drops++;
    if (before < kDropsBeforePurge) {
        LogPrint("Deleting current work unit & continuing...\n");
        delete_unit_(index_);
    } else {
        LogAt(kLogNormal, "Too many errors during run. Purging queue.\n");
        PurgeQueue(queue_, delete_unit_);
        // The current unit went with the purge: no core is run on its
        // emptied slot; the next unit is fetched at once.
        c_.drops = 0;
    }
    c_.drop_mark = 0;
    c_.new_core = 0;
    ops_.send_all(queue_);
    return FetchNext();
}

void WorkCycle::PauseStep(bool core_fetched) const {
    if (c_.core_status == kCoreSettingsChanged || c_.core_status == kCoreFinished) return;
    if (core_fetched) return;
    v3Sleep(kPassPauseMs);
}
