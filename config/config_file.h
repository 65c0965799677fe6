// The configuration object: a small set of named settings kept in a
// plain-text file of "[section]" headers and "key=value" lines. The whole file
// is read into memory once, looked up and changed there, and written back
// whole after every change. No comments, quoting, trimming or escapes: names,
// keys and values are byte strings compared byte for byte, exactly (a stored
// name that merely begins with the requested one does not match).
//
// Written layout, for each section that holds at least one live entry, in
// section order: "[name]\n", one "key=value\n" per live entry in entry order,
// then "\n". Lines end with a line feed alone.
//
// Files edited by hand are read forgivingly: text before the first "[" is
// ignored, a line without "=" is skipped, empty lines are skipped wherever
// they stand, and the carriage returns before a line feed are dropped.
#pragma once

#include <cstdint>

#include "support/atomic_file.h"
#include "support/lock.h"

// Sections and entries; owned by the object, private to config_file.cpp.
struct v3ConfigData;

// A zero-filled object is valid and empty. Every operation holds the lock for
// its whole duration, so a save never writes a half-changed object.
struct v3Config {
    v3Lock lock;
    v3ConfigData* data;  // nullptr while the object holds no section
};

// Reads the file at path into the object, replacing what it held. On any
// failure the object is left exactly as it was: the open's status (-2 for a
// missing file, -1 refused), or -1 for a short read, exhausted memory or a
// file of 2^31 bytes or more. With no path: 0 for an object that holds no
// sections, -1 (nothing changed) for one that does.
int v3ConfigLoad(v3Config* config, const char* path);

// Replaces the file at path with the object's text atomically: a crash or a
// full disk leaves the old file whole. The new file gets the permission bits
// given (kSecretFilePermissions for a file that holds a password or an ID),
// or by default keeps the old file's. 0, or the failing step's status (a
// negative code of the file family), -1 for a missing object or path.
int v3ConfigSave(v3Config* config, const char* path, uint32_t permissions = kReplaceKeepsPermissions);

// Sets the value of key in section, adding the section (at the end) and the
// entry (at the end of its section) when missing; no value deletes the entry
// (it keeps its place, and setting it again brings it back there). 0, or -1
// for a missing object, section or key, exhausted memory, or a text that the
// file could not carry back unchanged: a section name with "]", a key with
// "=" or one that begins with "[", a line feed anywhere, or a carriage return
// in a name, in a key or at the end of a value.
int v3ConfigSet(v3Config* config, const char* section, const char* key, const char* value);

// The value of key in the first section of that name that holds it, or
// nullptr. The text belongs to the object and stays valid until that entry is
// changed or the object is loaded or cleared; callers copy or parse it at
// once (another thread's v3ConfigSet of the same entry may replace it).
const char* v3ConfigGet(v3Config* config, const char* section, const char* key);

// The same, copied into out (capacity bytes) under the object's lock, for
// callers that may race a change of the entry. 0; -2 when the key is missing
// (out then holds ""); -1 for missing arguments or a value of capacity
// characters or more (out then holds "": a value is never cut).
int v3ConfigGetCopy(v3Config* config, const char* section, const char* key, char* out,
                    uint64_t capacity);

// 1 when the object holds a section of that name (even one whose entries
// are all deleted), 0 when not or an argument is missing.
int v3ConfigHasSection(v3Config* config, const char* section);

// Releases every section and entry; the object is then empty and can be
// loaded again. Its lock stays made.
void v3ConfigClear(v3Config* config);

// Clears the object and unmakes its lock; the record is zero-state again.
void v3ConfigDestroy(v3Config* config);
