// Unpacking a verified core bundle into the core executable.
#pragma once

#include <cstdint>

#include "support/bzip2_codec.h"

// Verifies bundle_name (VerifyCoreBundle) and decompresses its stream into
// core_file_name, creating or emptying that file. 0, or -1 after printing the
// reason at level 3. The core is written only when libbz2 reported the end of
// the stream, and only while the output stays within output_limit bytes; a
// truncated or over-large stream is refused as a failed decompression.
int UnzipCore(const char* bundle_name, const char* core_file_name,
              uint64_t output_limit = kDefaultDecompressLimit);
