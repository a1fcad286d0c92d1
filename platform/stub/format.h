// printf-style formatting with the log service's %M conversion (a 6-byte
// MAC address given by pointer, printed xx:xx:xx:xx:xx:xx in lowercase and
// padded like a string), shared by vscnprintf and vsyslog2.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace plat {

// Where formatted text goes: a bounded buffer or a growing string.
class FormatSink {
public:
    virtual ~FormatSink() = default;
    // Takes what fits; false once nothing more fits, which ends formatting.
    virtual bool append(const char* p, size_t n) = 0;
};

// Formats fmt with args into sink. Each conversion is taken apart (flags,
// width, precision, length modifier), its argument fetched with the type
// that the modifier and conversion give, and formatted on its own.
// %n stores nothing (its pointer is consumed); an unknown conversion is
// copied as it stands and consumes no argument.
void formatTo(FormatSink& sink, const char* fmt, va_list args);

// The whole text, unbounded.
std::string formatString(const char* fmt, va_list args);

}  // namespace plat
