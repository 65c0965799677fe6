#include "config/proxy_host.h"

namespace {

// One decimal part of a dotted address: 1 to 3 digits, 0..255. *text is
// moved past it.
bool ReadPart(const char** text, uint32_t* part) {
    uint32_t value = 0;
    int digits = 0;
    while (**text >= '0' && **text <= '9' && digits < 3) {
        value = value * 10 + static_cast<uint32_t>(**text - '0');
        ++*text;
        ++digits;
    }
    *part = value;
    return digits > 0 && value <= 255;
}

}  // namespace

// PENDING: a host name is looked up with the socket layer's resolver once it
// exists; until then only a dotted address ("192.168.1.2") can be read, and
// a name gives -1, which makes the client connect directly.
int ResolveProxyHost(const char* host, uint32_t* address) {
    if (host == nullptr || address == nullptr) return -1;
    const char* at = host;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        uint32_t part = 0;
        if (i > 0 && *at++ != '.') return -1;
        if (!ReadPart(&at, &part)) return -1;
        value = (value << 8) | part;
    }
    if (*at != '\0') return -1;
    *address = value;
    return 0;
}
