// Unpacking a verified core bundle into the core executable.
#pragma once

#include <cstdint>

#include "support/bzip2_codec.h"

// Verifies bundle_name (as VerifyCoreBundle does) and decompresses its stream
// into core_file_name, creating or emptying that file; both steps read the
// one file opened at the start, so what is unpacked is what was verified.
// 0, or -1 after printing the reason at level 3. The core is written only
// when libbz2 reported the end of the stream, and only while the output stays
// within output_limit bytes; a truncated or over-large stream is refused as a
// failed decompression.
int UnzipCore(const char* bundle_name, const char* core_file_name,
              uint64_t output_limit = kDefaultDecompressLimit);

// Test hook: called with the bundle's name after it has been verified and
// before it is unpacked. nullptr (the default) removes the hook.
using UnzipCoreVerifiedHook = void (*)(const char* bundle_name);
void UnzipCoreSetVerifiedHook(UnzipCoreVerifiedHook hook);
