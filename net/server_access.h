// What every conversation with the project's servers goes by: who the client
// is, the transport chosen at start-up and the network permission. The client
// owns all three for the whole run; this names them for one call.
#pragma once

struct ClientIdentity;
class Transport;
struct NetworkPermission;

struct ServerAccess {
    const ClientIdentity& identity;
    Transport& transport;
    NetworkPermission& permission;
};
