#include "config/client_type.h"

#include <cstring>

uint16_t ClientTypeFromKeyword(const char* text) {
    if (text == nullptr) return kClientTypeNoPreference;
    if (std::strncmp(text, "tmx", 32) == 0) return kClientTypeTmx;
    if (std::strncmp(text, "qrv", 32) == 0) return kClientTypeQrv;
    return kClientTypeNoPreference;
}

const char* ClientTypeKeyword(uint32_t type) {
    if (type == kClientTypeQrv) return "qrv";
    if (type == kClientTypeTmx) return "tmx";
    return "no-pref";
}
