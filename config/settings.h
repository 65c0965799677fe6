// Client settings: client.cfg in the working directory, loaded at start-up
// and after interactive configuration into the Settings record that the
// client owns and hands down by reference.
#pragma once

#include <cstdint>
#include <functional>

struct v3Config;

// The settings file, in the working directory.
inline constexpr const char* kClientConfigFile = "client.cfg";

// The proxy of the built-in transport.
struct ProxySettings {
    uint32_t address = 0;    // IPv4, host order; 0 = no proxy (off, or its name did not resolve)
    uint16_t port = 0;       // 0 = no proxy
    char name[64] = {};      // empty: no credentials are sent
    char password[64] = {};
};

// The network permission. With asknet on, network use waits for the
// volunteer's acknowledgement while the flag is 0 (net/network_permission.h
// asks, sets and clears it). LoadSettings sets both. The flag is shared with
// the autosend thread, so the network code reads and writes it atomically;
// it stays a plain word here so that the record can be copied.
struct NetworkPermission {
    uint32_t asknet = 0;  // ask before each network use
    uint32_t given = 1;   // 0 while asknet is on and nobody has acknowledged yet
};

// What client.cfg and the registry give the client, as LoadSettings leaves it.
struct Settings {
    // client.cfg stays loaded for the whole run; user name and team are read
    // from it when needed (ClientConfig() makes it).
    v3Config* config = nullptr;
    NetworkPermission permission;
    uint32_t core_priority = 0;  // 0 idle, 96 low; non-zero is passed to the core
    uint32_t cpu_usage = 100;    // percent of the processor the core may use
    uint32_t use_assembly = 1;   // 0 when disableassembly is yes
    uint32_t deadline = 1;       // 0 when ignoredeadlines is yes
    uint16_t client_type = 0;    // 0 no preference, 1 qrv, 2 tmx
    uint32_t usereg = 0;         // use the system's Internet settings
    ProxySettings proxy;
    uint64_t user_id = 0;
    uint32_t machine_id = 1;     // 1..4
    uint32_t local_units = 0;    // local count of completed units; 0 until first used
};

// Where a new user ID comes from when none is stored: the assignment
// servers, which lie above this folder; the client binds them. It is called
// with the settings loaded so far (network permission and connection
// settings included, which the request goes by) and writes the new ID as
// hexadecimal text into text (size bytes). 0 or -1.
using UserIDSource = std::function<int(Settings& settings, char* text, uint64_t size)>;

// The process-wide configuration object of client.cfg, made on first use.
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

// The machine ID that a client.cfg without a valid machineid gets, which is
// then written there and kept: QRV_MACHINE_ID when it is set (a service
// manager gives each of up to four clients of one machine its own), else 1.
// 0, or -1 when QRV_MACHINE_ID is set to anything but 1, 2, 3 or 4 (*id is
// then 1).
int DefaultMachineID(uint32_t* id);

// Loads client.cfg into settings, for the edition edition_code (its
// registry keys) and the program name that messages tell the volunteer to
// run. A user ID that is stored nowhere is asked of obtain_user_id. 0, or -1
// when client.cfg cannot be loaded, its proxy settings are unusable or no
// user ID can be had.
int LoadSettings(Settings& settings, uint32_t edition_code, const char* program_name,
                 const UserIDSource& obtain_user_id);

// Writes client.cfg with the network settings at their defaults and, when
// it names no user, the registry user of the edition or "Anonymous" of team
// 0. The save's status.
int WriteDefaultSettings(uint32_t edition_code);

// Counts one completed unit in client.cfg's local count, keeping the count in
// settings. The save's status.
int CountCompletedUnit(Settings& settings);

// Changes into the working directory that the registry keeps for the
// edition. 0, or -1 when the registry holds no usable directory.
int SetWorkingDirectory(uint32_t edition_code);
