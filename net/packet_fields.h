// Writing and reading single fields of the wire records.
#pragma once

#include <cstddef>
#include <cstdint>

struct v3Config;

// Big-endian integers at an offset.
void PutBE16(uint8_t* record, size_t offset, uint16_t value);
void PutBE32(uint8_t* record, size_t offset, uint32_t value);
void PutBE64(uint8_t* record, size_t offset, uint64_t value);
uint32_t GetBE32(const uint8_t* record, size_t offset);
uint64_t GetBE64(const uint8_t* record, size_t offset);

// Clears a text field of width bytes and copies text into it when it fits
// with its terminator; a text that does not fit (or none) leaves the field
// empty, never cut.
void PutTextField(uint8_t* record, size_t offset, size_t width, const char* text);

// The setting's value in config as a text field of a record: the whole field
// is cleared and the value copied only when it is shorter than the field. A
// missing setting, or no configuration at all, leaves the field empty.
void PutSettingField(v3Config* config, uint8_t* record, size_t offset, size_t width,
                     const char* section, const char* key);

// The text of a field, always terminated: at most width characters are
// copied into out, which has room for width + 1.
void GetTextField(char* out, const uint8_t* record, size_t offset, size_t width);
