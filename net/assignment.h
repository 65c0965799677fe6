// The assignment servers: the client's first point of contact. They hand out
// user IDs and name the work server to fetch each unit from. Two of them are
// tried in a fixed order, the primary on port 8080 and then the secondary on
// port 80; the port that answered last is the one the work servers are
// reached on too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/packet.h"

class Transport;
struct ServerAccess;

inline constexpr uint16_t kPrimaryAssignmentPort = 8080;
inline constexpr uint16_t kSecondaryAssignmentPort = 80;

// The news text keeps at most this many characters.
inline constexpr size_t kNewsTextMax = 127;

// One attempt to obtain a new user ID from the assignment servers: 0 with
// the ID in *user_id, or -1 with *user_id as it was.
int RequestUserID(const ServerAccess& access, uint64_t* user_id);

// Obtains a new user ID with up to ten retries, with growing waits between
// them, and writes it as hexadecimal text into text (size bytes; 101 hold
// any ID). 0 or -1.
int ObtainUserID(const ServerAccess& access, char* text, uint64_t size);

// Asks for the work server to fetch the next unit from, reporting the
// performance fraction. 0 with *reply filled (address in host order, the
// news with its control characters replaced by '?'), or -1 when neither
// assignment server answered.
int RequestAssignment(const ServerAccess& access, AssignmentReply* reply, float performance_fraction);

// The port of the assignment server that answered last: 8080 until the
// secondary answers. Process-wide, not saved.
uint16_t CurrentServerPort();
// Starts a test over from the process's first state (8080, no news).
void ResetAssignmentState();

// Copies the last news received (empty before any) into out.
void CopyNewsText(char* out, size_t size);

// One exchange with the primary (port 8080) or the secondary (port 80)
// assignment server, not kept open. A server that answers becomes the
// current server port. 0 or -1; the caller says what a failure means for
// its request.
struct AssignmentExchange {
    const void* request;
    uint32_t request_length;
    void* reply;
    uint32_t reply_length;
};
int ExchangeWithPrimary(Transport& transport, const AssignmentExchange& exchange);
int ExchangeWithSecondary(Transport& transport, const AssignmentExchange& exchange);
