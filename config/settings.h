// Client settings: client.cfg in the working directory, loaded into the
// Client state at start-up and after interactive configuration.
#pragma once

#include <cstdint>

struct v3Config;

// The settings file, in the working directory.
inline constexpr const char* kClientConfigFile = "client.cfg";

// The process-wide configuration object of client.cfg (kept in the Client
// state), made on first use.
v3Config* ClientConfig();

// Saves the whole object to client.cfg; a failure is logged at level 3 as a
// warning. The save's status.
int SaveClientConfig();

// The "yes" test of most yes/no settings: the first three characters are
// "yes" exactly (so "Yes" is no).
bool SettingIsYes(const char* value);
// The test of disableassembly and ignoredeadlines: the first character is Y
// or y.
bool SettingStartsWithY(const char* value);
// Reads the leading number of a setting (blanks skipped) in base 10 or 16.
// 0, or -1 when the value is missing, has no digit or does not fit 32 bits.
int ReadSettingNumber(const char* value, uint32_t base, uint32_t* number);

// Loads client.cfg into the Client state. 0, or -1 when it cannot be loaded,
// its proxy settings are unusable or no user ID can be had.
int LoadSettings();

// Writes client.cfg with the network settings at their defaults and, when
// it names no user, the registry user or "Anonymous" of team 0. The save's
// status.
int WriteDefaultSettings();

// Counts one completed unit in client.cfg's local count. The save's status.
int CountCompletedUnit();

// Changes into the working directory stored in the registry. 0, or -1 when
// the registry holds no usable directory.
int SetWorkingDirectory();
