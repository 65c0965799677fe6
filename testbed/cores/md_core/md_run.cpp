#include "md_core/md_run.h"

#include <cmath>
#include <cstdio>

#include "contract/core_contract.h"
#include "core_side/core_exit_codes.h"

namespace cc = core_contract;

namespace md {

namespace {

constexpr unsigned kSignalPollMs = 20;
constexpr unsigned kLifelinePollMs = 500;
constexpr uint64_t kDutySliceMs = 100;  // compute this long, then idle
constexpr size_t kMaxUnitFile = kMaxTransfer;

}  // namespace

int MdRun::LoadUnit() {
    const std::string path = args_.UnitFile(cc::kWorkDataStem, cc::kDataExtension);
    std::vector<uint8_t> file;
    switch (qrvcore::ReadWholeFile(path, &file, kMaxUnitFile)) {
        case qrvcore::ReadStatus::kMissing:
            log_.Line("Work file " + path + " not found");
            return qrvcore::kExitNoWorkFiles;
        case qrvcore::ReadStatus::kError:
            log_.Line("Work file " + path + " cannot be read");
            return qrvcore::kExitFileError;
        case qrvcore::ReadStatus::kOk:
            break;
    }
    std::string why;
    const int rc = file.size() > kMaxUnitFile ? qrvcore::kExitCorrupt : DecodeUnit(file, &unit_, &why);
    if (rc != 0) {
        log_.Line("Work unit refused: " + (why.empty() ? std::string("file too large") : why));
        return rc;
    }
    log_.Linef("Unit '%s': %u particles, box %.4f, density %.3f, temperature %.3f, dt %.4f, "
               "%u steps, checkpoint every %u",
               unit_.name.c_str(), unit_.n, unit_.box, unit_.density, unit_.temperature, unit_.dt,
               unit_.steps, unit_.checkpoint_every);
    return 0;
}

// Goes on from the checkpoint when it is usable; otherwise from step 0.
void MdRun::Resume() {
    std::vector<uint8_t> file;
    const std::string path = args_.UnitFile("wucheckpoint_", ".dat");
    const qrvcore::ReadStatus st = qrvcore::ReadWholeFile(path, &file, 64u << 20);
    std::string why;
    if (st == qrvcore::ReadStatus::kOk && DecodeCheckpoint(file, unit_, &run_, &why)) {
        log_.Linef("Resuming from checkpoint at step %u", run_.step);
    } else {
        if (st != qrvcore::ReadStatus::kMissing)
            log_.Line("Checkpoint not usable (" + (why.empty() ? "unreadable" : why) + ")");
        run_ = RunState{};
        run_.state = unit_.state;
        log_.Line("Starting from step 0");
    }
    system_ = std::make_unique<LjSystem>(unit_.n, unit_.box, unit_.cutoff, unit_.skin);
    system_->SetState(run_.state);
    if (run_.step == 0 && run_.samples.empty())
        run_.samples.push_back(Sample{0, system_->Kinetic(), system_->Potential()});
}

bool MdRun::SaveCheckpoint() {
    run_.state = system_->State();
    const std::vector<uint8_t> b = EncodeCheckpoint(unit_, run_);
    const bool ok =
        qrvcore::WriteFileAtomic(args_.UnitFile("wucheckpoint_", ".dat"), b.data(), b.size());
    qrvcore::WriteProgressRecord(args_.UnitFile(cc::kProgressStem, cc::kDataExtension), unit_.name, unit_.steps,
                                 run_.step);
    WriteSnapshot();
    log_.Linef("Completed %u out of %u steps (%u%%)", run_.step, unit_.steps,
               static_cast<unsigned>(100.0 * run_.step / unit_.steps));
    if (!ok) log_.Line("Warning: checkpoint could not be written");
    log_.Line("Writing local files");
    return ok;
}

// The structure file viewers read, "current.xyz" in the work directory.
void MdRun::WriteSnapshot() {
    std::string text = std::to_string(unit_.n) + "\n" + unit_.name + " step " +
                       std::to_string(run_.step) + "\n";
    char line[96];
    for (size_t i = 0; i < unit_.n; ++i) {
        std::snprintf(line, sizeof line, "Ar %.6f %.6f %.6f\n", run_.state[6 * i],
                      run_.state[6 * i + 1], run_.state[6 * i + 2]);
        text += line;
    }
    qrvcore::WriteFileAtomic(args_.dir + "current.xyz", text.data(), text.size());
}

int MdRun::Interrupted(const std::string& why) {
    log_.Linef("Interrupted at step %u: %s", run_.step, why.c_str());
    SaveCheckpoint();
    return qrvcore::kExitInterrupted;
}

// Signals and the lifeline; the exit code when the run must stop, else 0.
int MdRun::CheckOutside(uint64_t now) {
    if (now >= next_signal_poll_) {
        next_signal_poll_ = now + kSignalPollMs;
        if (int sig = signals_.Take(); sig != 0) return sig;
    }
    if (args_.lifeline != 0 && now >= next_lifeline_) {
        next_lifeline_ = now + kLifelinePollMs;
        if (!qrvcore::ProcessAlive(args_.lifeline)) return -1;
    }
    return 0;
}

// Sleeps so that busy_ms of computing is cpu% of the time, still watching.
void MdRun::IdleForDutyCycle(uint64_t busy_ms) {
    const uint64_t idle = busy_ms * static_cast<uint64_t>(100 - args_.cpu) / static_cast<uint64_t>(args_.cpu);
    const uint64_t end = qrvcore::MonotonicMs() + idle;
    for (uint64_t now = qrvcore::MonotonicMs(); now < end; now = qrvcore::MonotonicMs()) {
        if (int what = CheckOutside(now); what != 0) {
            stop_requested_ = true;
            stop_code_ = what;
            return;
        }
        qrvcore::SleepMs(static_cast<unsigned>(std::min<uint64_t>(kSignalPollMs, end - now)));
    }
}

void MdRun::AfterStep() {
    const uint32_t s = run_.step;
    if (s == unit_.probe_steps) run_.early = system_->State();
    if (s == unit_.steps - unit_.probe_steps) run_.late = system_->State();
    if (s % unit_.sample_every == 0 || s == unit_.steps)
        run_.samples.push_back(Sample{s, system_->Kinetic(), system_->Potential()});
}

int MdRun::Integrate() {
    uint64_t slice_start = qrvcore::MonotonicMs();
    while (run_.step < unit_.steps) {
        system_->Step(unit_.dt);
        ++run_.step;
        ++steps_this_start_;
        AfterStep();
        const Sample& last = run_.samples.back();
        if (last.step == run_.step && !std::isfinite(last.kinetic + last.potential)) {
            log_.Linef("Simulation became unstable at step %u", run_.step);
            return qrvcore::kExitBadUnit;
        }
        if (run_.step % unit_.checkpoint_every == 0 && run_.step < unit_.steps) SaveCheckpoint();

        const uint64_t now = qrvcore::MonotonicMs();
        int what = CheckOutside(now);
        if (what == 0 && now - slice_start >= kDutySliceMs) {
            busy_ms_ += now - slice_start;
            if (args_.cpu < 100) IdleForDutyCycle(now - slice_start);
            if (stop_requested_) what = stop_code_;
            slice_start = qrvcore::MonotonicMs();
        }
        if (what == -1) return Interrupted("the client process is gone");
        if (what != 0) return Interrupted("signal " + std::to_string(what));
    }
    busy_ms_ += qrvcore::MonotonicMs() - slice_start;
    return 0;
}

int MdRun::Finish() {
    SaveCheckpoint();  // a restart after this point only rewrites the result
    const std::vector<uint8_t> result = EncodeResult(unit_, run_);
    if (!qrvcore::WriteFileAtomic(args_.UnitFile(cc::kResultsStem, cc::kDataExtension), result.data(),
                                  result.size())) {
        log_.Line("Results could not be written");
        return qrvcore::kExitFileError;
    }
    const Sample& first = run_.samples.front();
    double drift = 0;
    for (const Sample& s : run_.samples)
        drift = std::max(drift, std::fabs((s.kinetic + s.potential) - (first.kinetic + first.potential)));
    log_.Linef("Energy drift: %.3g per particle (tolerance %.3g)", drift / unit_.n,
               unit_.energy_tolerance);
    const double secs = static_cast<double>(busy_ms_) / 1000.0;
    log_.Linef("Performance: %u steps in %.2f s of computing, %.0f steps per second, "
               "%llu neighbour list builds",
               steps_this_start_, secs, secs > 0 ? steps_this_start_ / secs : 0.0,
               static_cast<unsigned long long>(system_->ListBuilds()));
    log_.Linef("Finished: %u steps, results in %s", unit_.steps,
               args_.UnitFile(cc::kResultsStem, cc::kDataExtension).c_str());
    return qrvcore::kExitFinished;
}

int MdRun::Run() {
    if (int rc = LoadUnit(); rc != 0) return rc;
    Resume();
    qrvcore::WriteProgressRecord(args_.UnitFile(cc::kProgressStem, cc::kDataExtension), unit_.name, unit_.steps,
                                 run_.step);
    if (int rc = Integrate(); rc != 0) return rc;
    return Finish();
}

}  // namespace md
