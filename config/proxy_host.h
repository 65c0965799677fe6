// The proxy host of client.cfg as an IPv4 address.
#pragma once

#include <cstdint>

// Reads host into *address (host order). 0, or -1 when it names no address.
int ResolveProxyHost(const char* host, uint32_t* address);
