// The records the client hands down, made from its own: who it is, the
// transport, and what returning results works with. Only the client knows
// how the lower folders' operations fit together; it binds them here.
#pragma once

#include <cstdint>

#include "client/client_state.h"
#include "net/server_access.h"
#include "queue/delete_unit.h"
#include "queue/queue_operations.h"

// The user-ID source of LoadSettings: the assignment servers, asked over the
// transport that the settings loaded so far choose, with their network
// permission.
int ObtainUserIDFor(ClientState& state, char* text, uint64_t size);

// Builds the identity, the transport and the result return, once the
// settings are loaded and the benchmark is measured.
void BuildRecords(ClientState& state);

// The identity, transport and permission of state, for one call.
ServerAccess AccessOf(ClientState& state);

// The cleanup run of a unit's core: the core file of the edition of state
// for the unit's core type, run in cleanup mode.
UnitCleanup CoreCleanup(ClientState& state);  // state outlives it

// DeleteUnit on the queue of state with the cleanup run of its core.
UnitDeleter UnitDeleterOf(ClientState& state);
