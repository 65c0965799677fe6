#include "client/client_records.h"

#include <cstdio>

#include "client/core_launch.h"
#include "conversation/result_upload.h"
#include "core/core_file.h"
#include "net/assignment.h"

namespace {

// The identity the request records carry: the settings, the command line
// and the start-up figures.
ClientIdentity MakeIdentity(const ClientState& state) {
    ClientIdentity identity;
    identity.config = state.config;
    identity.user_id = state.user_id;
    identity.machine_id = state.machine_id;
    identity.client_type = state.client_type;
    identity.benchmark = state.benchmark;
    identity.edition_code = state.edition_code;
    identity.advmethods = state.advmethods;
    identity.betateam = state.betateam;
    identity.internal = state.internal;
    return identity;
}

}  // namespace

// The records are not built yet while the settings load: this one exchange
// makes its own from what has been loaded so far.
int ObtainUserIDFor(ClientState& state, char* text, uint64_t size) {
    const ClientIdentity identity = MakeIdentity(state);
    const std::unique_ptr<Transport> transport = MakeTransport(state);
    return ObtainUserID({identity, *transport, state.permission}, text, size);
}

ServerAccess AccessOf(ClientState& state) { return {state.identity, *state.transport, state.permission}; }

UnitCleanup CoreCleanup(ClientState& state) {
    ClientState* s = &state;
    return [s](uint32_t core_type, uint32_t index) {
        char core_file[kCoreFileNameSize];
        MakeCoreFileName(core_file, s->edition_code, core_type);
        if (!CorePresent(core_file)) return CleanupResult::kCoreAbsent;
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "%02d", static_cast<int>(index));
        return RunCore(*s, core_file, "work/", suffix, 1) == kCoreSpecialExit ? CleanupResult::kDone
                                                                          : CleanupResult::kRefused;
    };
}

UnitDeleter UnitDeleterOf(ClientState& state) {
    ClientState* s = &state;
    return [s](uint32_t index) { return DeleteUnit(*s->work_queue, index, CoreCleanup(*s)); };
}

void BuildRecords(ClientState& state) {
    state.identity = MakeIdentity(state);
    state.transport = MakeTransport(state);
    ResultReturn& r = state.results;
    r.queue = state.work_queue.get();
    r.upload = [&state](const QueueEntry* entry, const char* results_file) {
        return SendResults(AccessOf(state), state, entry, results_file);
    };
    r.delete_unit = UnitDeleterOf(state);
    r.permission = &state.permission;
    r.deadlines_on = state.deadline != 0;
}
