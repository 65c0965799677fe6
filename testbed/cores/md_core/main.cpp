// The demo core: a molecular dynamics program (Lennard-Jones particles in a
// periodic box) that works on the units the testbed's work servers issue
// and honours the whole core contract. See README.md in the parent folder.
#include <string>

#include "contract/core_contract.h"
#include "core_side/core_args.h"
#include "core_side/core_exit_codes.h"
#include "core_side/core_files.h"
#include "core_side/core_process.h"
#include "md_core/md_run.h"

namespace cc = core_contract;

namespace {

constexpr const char* kVersionLine =
    "Quorvel demo core 1.0: Lennard-Jones molecular dynamics (velocity Verlet)";

// -cleanup: the unit's files go; the client removes the core log itself.
int Cleanup(const qrvcore::CoreArgs& args) {
    bool ok = true;
    for (const char* stem : {cc::kWorkDataStem, cc::kResultsStem, cc::kProgressStem, "wucheckpoint_"}) {
        const std::string path = args.UnitFile(stem, ".dat");
        ok = qrvcore::RemoveFile(path) && ok;
        qrvcore::RemoveFile(path + ".tmp");
    }
    return ok ? qrvcore::kExitSpecial : qrvcore::kExitFileError;
}

}  // namespace

int main(int argc, char** argv) {
    qrvcore::CoreArgs args;
    if (!qrvcore::ParseCoreArgs(argc, argv, &args).empty()) return qrvcore::kExitBadArguments;
    if (args.cleanup) return Cleanup(args);

    qrvcore::CoreLog log(args.UnitFile(cc::kCoreLogStem, cc::kLogExtension));
    log.Line(kVersionLine);
    log.Line("Arguments: " + qrvcore::JoinArgs(argc, argv));
    qrvcore::CoreSignals signals;
    const std::string sem_error = signals.Open();
    if (!sem_error.empty()) log.Line("Warning: " + sem_error + "; only the lifeline can stop this run");
    if (args.cpu_clamped) log.Linef("Warning: -cpu out of range, using %d%%", args.cpu);
    if (args.priority != 0) qrvcore::LowerPriority();

    md::MdRun run(args, log, signals);
    return run.Run();
}
