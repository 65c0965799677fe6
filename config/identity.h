// The client's identities kept in the registry store: the user ID (or, where
// the registry cannot hold it, client.cfg's userid) and the user name and
// team that other programs of the project leave there.
#pragma once

#include <cstdint>

// Capacity of the registry user name, terminator included.
inline constexpr uint32_t kRegistryNameSize = 100;

// Reads the registry user of the edition edition_code: name into name
// (kRegistryNameSize bytes), team from "TeamNum" (0 when missing or not a
// text). 0, or -1 when the name is missing, not a text or too long. Prints
// "Unknown Client subtype" for an edition the client does not know.
int ReadRegistryUser(uint32_t edition_code, char* name, int32_t* team);

// store 0 reads the user ID into *user_id (a stored 0 counts as none); store
// 1 writes *user_id. The edition's registry key is tried under the machine's
// root, then the user's; where neither can be used (and always in the
// partner edition) client.cfg's userid holds the ID. 0 or -1.
int LoadSaveUserID(uint32_t edition_code, uint64_t* user_id, int store);
