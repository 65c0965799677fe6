// The default machine ID, which the service manager may give.
#include "config/settings.h"
#include "support/platform/environment.h"

int DefaultMachineID(uint32_t* id) {
    *id = 1;
    const char* given = PlatformEnvironmentValue("QRV_MACHINE_ID");
    if (given == nullptr) return 0;
    // Exactly one digit: "01" or " 2" is a mistake in a unit file, and a
    // client that guessed would share a machine ID with another.
    if (given[0] < '1' || given[0] > '4' || given[1] != '\0') return -1;
    *id = static_cast<uint32_t>(given[0] - '0');
    return 0;
}
