// The registry of the client's identities and working directory: a small
// file-backed store with one text file per root (see
// support/platform/registry_store.h for where they are). A file is in the
// client.cfg format: a section per key path ("[Software\Tarnwick\Quorvel]"),
// an entry per value, the value typed by a prefix: "sz:" text, "bin:" bytes
// as lower-case hexadecimal digit pairs in order. A key exists when its
// section exists; storing a value creates its key; every change rewrites the
// file atomically. A root whose file or folder cannot be written fails a
// store, as a registry without write access does.
#pragma once

#include <cstdint>

#include "support/platform/registry_store.h"

// Value types, numbered as the registry numbers them.
inline constexpr uint32_t kRegistryString = 1;
inline constexpr uint32_t kRegistryBinary = 3;

// Status codes of the store, typed as the other families are.
enum RegistryResult : int {
    kRegistryOk = 0,
    kRegistryFailed = -1,      // the file cannot be read or written
    kRegistryNotFound = -2,    // no such key or value
    kRegistryUnreadable = -3,  // a value without a known type prefix
    kRegistryTooLarge = -4,    // the value does not fit the caller's buffer
};

// A short English description of a store code, "unknown registry result" for
// any other value.
const char* RegistryResultName(int code);

// kRegistryOk when root holds key, kRegistryNotFound when it does not (a
// missing file holds nothing), kRegistryFailed when its file cannot be read.
RegistryResult RegistryKeyExists(RegistryRoot root, const char* key);

// Reads value name of key. *type receives its type and *size its size in
// bytes; a string's size counts its terminator, and its data is the text
// with the terminator. Nothing is cut: a value of more than capacity bytes
// gives kRegistryTooLarge with buf untouched.
RegistryResult RegistryQueryValue(RegistryRoot root, const char* key, const char* name,
                                  uint32_t* type, void* buf, uint32_t capacity, uint32_t* size);

// Stores value name of key: a string (data is a text, size is ignored) or
// size bytes of binary data. Creates the key, the root's file and its folder
// when missing. kRegistryOk, or kRegistryFailed when the root cannot be
// written, its file cannot be read (it is then left alone), or the text
// cannot be stored (a line feed, or a name with "=").
RegistryResult RegistrySetValue(RegistryRoot root, const char* key, const char* name,
                                uint32_t type, const void* data, uint32_t size);

// The registry store's lock, held from construction to destruction. Clients
// that share one store (instances of a machine under one service user) take
// it around a read, decide and store of a value they must all agree on, so
// that the second finds what the first stored instead of deciding again. It
// is the file "registry.lock" beside the current user's root (its folder is
// made when missing); the wait for it lasts as long as the holder's step.
// Where no lock file can be had, held() is false and the caller goes on
// without it, as a client alone would.
class RegistryLock {
public:
    RegistryLock();
    ~RegistryLock();
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

    bool held() const { return handle_ >= 0; }

private:
    int handle_ = -1;
};
