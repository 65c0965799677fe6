#include "queue/queue_file_io.h"

#include "support/file.h"

size_t ReadQueueBytes(v3File* file, uint8_t* out, size_t n) {
    size_t total = 0;
    // A read stops short only at the end of the file; looping keeps a
    // partial read of a slow file system from looking like a short file.
    while (total < n) {
        uint64_t got = 0;
        if (v3FileRead(out + total, &got, file, n - total) != 0 || got == 0) break;
        total += static_cast<size_t>(got);
    }
    return total;
}
