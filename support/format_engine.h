// The formatting engine behind v3Print, v3FilePrint and v3StringPrint. Every
// character it produces goes through one output step, the sink, which puts it
// on the console, into a file or into a bounded buffer.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

class FormatSink {
public:
    virtual ~FormatSink() = default;
    // Takes n produced characters. A sink that cannot take them all (a full
    // buffer, a failed write) drops the rest and remembers it itself.
    virtual void Write(const char* p, size_t n) = 0;
};

// Formats fmt with the arguments into the sink (conversions: see format.h).
// Gives the number of characters produced. A missing format produces nothing.
uint64_t v3Format(FormatSink& sink, const char* fmt, va_list ap);
