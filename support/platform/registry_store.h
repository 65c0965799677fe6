// Where the file-backed registry store keeps its two roots, and the change
// of the current directory that the store's working-directory value asks
// for: the only system services the settings need beyond files.
#pragma once

#include <cstdint>

// The two roots the client uses, one text file each.
enum class RegistryRoot : uint32_t {
    kCurrentUser = 1,   // HKEY_CURRENT_USER
    kLocalMachine = 2,  // HKEY_LOCAL_MACHINE
};

// Writes the path of root's file into out (size bytes). With QRV_REGISTRY_DIR
// set and not empty: "<dir>/HKCU.txt" and "<dir>/HKLM.txt". Otherwise the
// current user's "$XDG_CONFIG_HOME/quorvel/registry.txt" (an XDG_CONFIG_HOME
// that is unset, empty or relative counts as "$HOME/.config") and the
// machine's "/etc/quorvel/registry.txt". 0, or -1 when no home is known or
// the path does not fit.
int PlatformRegistryFilePath(RegistryRoot root, char* out, uint64_t size);

// Makes path the process's current directory. 0, or -1 when the system
// refuses.
int PlatformSetCurrentDirectory(const char* path);
