// Appending C-library-formatted text to a growing string: for texts built
// without a fixed buffer (the queue display, the status page), so that no
// core name or user name is ever cut.
#pragma once

#include <string>

void AppendPrintf(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
