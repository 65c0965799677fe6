// The process's environment, read by the few settings a service manager
// gives a client that way.
#pragma once

// The value of the environment variable name, or nullptr when it is unset
// or empty. The text belongs to the environment; copy or parse it at once.
const char* PlatformEnvironmentValue(const char* name);
