// One start of the demo core in normal mode: read the unit, resume from the
// checkpoint when there is one, integrate to the end while answering the
// client (signals, lifeline, duty cycle, progress), write the result.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core_side/core_args.h"
#include "core_side/core_files.h"
#include "core_side/core_process.h"
#include "md_core/md_files.h"
#include "md_core/md_system.h"
#include "md_core/md_unit.h"

namespace md {

class MdRun {
public:
    MdRun(const qrvcore::CoreArgs& args, qrvcore::CoreLog& log, qrvcore::CoreSignals& signals)
        : args_(args), log_(log), signals_(signals) {}

    // The core's exit code.
    int Run();

private:
    int LoadUnit();
    void Resume();
    int Integrate();
    int CheckOutside(uint64_t now);
    int Interrupted(const std::string& why);
    void IdleForDutyCycle(uint64_t busy_ms);
    void AfterStep();
    bool SaveCheckpoint();
    void WriteSnapshot();
    int Finish();

    const qrvcore::CoreArgs& args_;
    qrvcore::CoreLog& log_;
    qrvcore::CoreSignals& signals_;
    Unit unit_;
    RunState run_;
    std::unique_ptr<LjSystem> system_;
    uint64_t next_signal_poll_ = 0, next_lifeline_ = 0;
    uint64_t busy_ms_ = 0;            // computing time of this start
    uint32_t steps_this_start_ = 0;
    bool stop_requested_ = false;     // set while idling; answered by the loop
    int stop_code_ = 0;
};

}  // namespace md
