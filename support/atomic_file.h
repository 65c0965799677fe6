// Replacing a whole file so that a crash or a failure at any moment leaves
// either the old content or the new one, never a mixture or nothing: every
// file whose loss would lose work or identity is saved this way.
#pragma once

#include <cstdint>

#include "support/file.h"

// Writes data into a temporary file next to path, pushes it to the disk,
// renames it over path and pushes the directory entry to the disk. 0, or a
// negative code of the file family: -1 system failure (also while another
// holder has path's exclusive lock), -2 the folder does not exist, -4 the
// file system is read-only, -11 size of 2^31 or more, -12 path too long,
// -18 argument missing. On any failure path keeps its old content and no
// temporary file is left behind, with one exception: when only the final
// push of the directory entry fails (-1), the new content is already in
// place and readable, but may not survive a power loss. With
// kReplaceKeepsPermissions a new file gets permissions 0700 and an existing
// one keeps its own; otherwise the new content gets exactly the permission
// bits given, whatever the old file had (the content never exists under
// other ones, not even for a moment).
inline constexpr uint32_t kReplaceKeepsPermissions = ~0u;
// Files that hold a secret (a proxy password, the user ID) are for their
// owner alone.
inline constexpr uint32_t kSecretFilePermissions = 0600;
FileResult v3FileReplaceAtomically(const char* path, const void* data, uint64_t size,
                                   uint32_t permissions = kReplaceKeepsPermissions);

// Writes data over path's content in place, for a record whose replacement
// could not be made (a full disk, a quota): path must already be a regular
// file of exactly size bytes, so that a file system that writes in place
// needs no new block for it. Then pushes it to the disk. Not atomic: a crash
// in the middle of the write may leave a mixture of old and new bytes, so
// only a record that would otherwise stay stale (and lose what it alone
// knows) is saved this way, and only after v3FileReplaceAtomically failed.
// 0; -16 when path's size is not size; -18 argument missing; other codes of
// the family as v3FileOpen gives them; -1 when the write or the push fails.
FileResult v3FileOverwriteInPlace(const char* path, const void* data, uint64_t size);

// Renames a damaged file aside as path + suffix ("queue.dat" ->
// "queue.dat.bad"), replacing an older file of that name, so that a fresh
// file can take its place while the damaged one stays for inspection.
// 0, -2 when path does not exist, -12 when either name is too long, -18
// argument missing, -1 other failure.
FileResult v3FileMoveAside(const char* path, const char* suffix);

// Steps of a replacement, for the test hook.
enum class ReplaceStep { kCreateTemp, kWrite, kSync, kRename, kSyncDirectory };
// Test hook: called before each step; returning true makes that step fail
// as if the system had refused it. nullptr (the default) removes the hook.
using ReplaceFaultHook = bool (*)(ReplaceStep step);
void v3FileSetReplaceFaultHook(ReplaceFaultHook hook);
