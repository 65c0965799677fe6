#include "client/client_records.h"

#include "conversation/result_upload.h"
#include "net/assignment.h"
#include "queue/delete_unit.h"

ClientIdentity MakeIdentity(const Settings& settings, const ClientState& state) {
    ClientIdentity identity;
    identity.config = settings.config;
    identity.user_id = settings.user_id;
    identity.machine_id = settings.machine_id;
    identity.client_type = settings.client_type;
    identity.benchmark = state.benchmark;
    identity.edition_code = state.edition_code;
    identity.advmethods = state.advmethods;
    identity.betateam = state.betateam;
    identity.internal = state.internal;
    return identity;
}

int ObtainUserIDFor(const ClientState& state, Settings& settings, char* text, uint64_t size) {
    const ClientIdentity identity = MakeIdentity(settings, state);
    const std::unique_ptr<Transport> transport = MakeTransport(settings);
    return ObtainUserID({identity, *transport, settings.permission}, text, size);
}

ServerAccess AccessOf(ClientState& state) { return {state.identity, *state.transport, state.permission}; }

void BuildRecords(ClientState& state) {
    state.identity = MakeIdentity(state, state);
    state.transport = MakeTransport(state);
    ResultReturn& r = state.results;
    r.queue = state.work_queue;
    r.upload = [&state](const QueueEntry* entry, const char* results_file) {
        return SendResults(AccessOf(state), state, entry, results_file);
    };
    r.delete_unit = DeleteUnit;
    r.permission = &state.permission;
    r.deadlines_on = state.deadline != 0;
}
