#include "net/packet_fields.h"

#include <cstring>

#include "config/config_file.h"
#include "support/byte_order.h"

void PutBE16(uint8_t* record, size_t offset, uint16_t value) { WriteBE16(record + offset, &value); }
void PutBE32(uint8_t* record, size_t offset, uint32_t value) { WriteBE32(record + offset, &value); }
void PutBE64(uint8_t* record, size_t offset, uint64_t value) { WriteBE64(record + offset, &value); }

uint32_t GetBE32(const uint8_t* record, size_t offset) {
    uint32_t v = 0;
    ReadBE32(&v, record + offset);
    return v;
}

uint64_t GetBE64(const uint8_t* record, size_t offset) {
    uint64_t v = 0;
    ReadBE64(&v, record + offset);
    return v;
}

void PutTextField(uint8_t* record, size_t offset, size_t width, const char* text) {
    std::memset(record + offset, 0, width);
    if (text == nullptr) return;
    const size_t length = strnlen(text, width);
    if (length < width) std::memcpy(record + offset, text, length);
}

void PutSettingField(v3Config* config, uint8_t* record, size_t offset, size_t width,
                     const char* section, const char* key) {
    std::memset(record + offset, 0, width);
    if (config == nullptr) return;
    char value[256];
    if (width > sizeof value) return;
    // The copy refuses a value of width characters or more whole.
    if (v3ConfigGetCopy(config, section, key, value, width) != 0) return;
    std::memcpy(record + offset, value, std::strlen(value));
}

void GetTextField(char* out, const uint8_t* record, size_t offset, size_t width) {
    const size_t length = strnlen(reinterpret_cast<const char*>(record + offset), width);
    std::memcpy(out, record + offset, length);
    out[length] = '\0';
}
