#include "platform/stub/format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <sys/types.h>

namespace plat {
namespace {

// Upper bound on the text of one formatted string (log lines); a single
// conversion with an absurd width is cut here rather than allocated.
constexpr size_t FORMAT_STRING_LIMIT = 1u << 20;

enum class Length { None, HH, H, L, LL, J, Z, T, LD };

class StringSink final : public FormatSink {
public:
    bool append(const char* p, size_t n) override
    {
        size_t room = FORMAT_STRING_LIMIT - text.size();
        text.append(p, n < room ? n : room);
        return text.size() < FORMAT_STRING_LIMIT;
    }
    std::string text;
};

// Formats one value with a single-conversion spec and appends it.
template <typename T>
bool one(FormatSink& sink, const std::string& spec, T value)
{
    char small[256];
    int n = std::snprintf(small, sizeof small, spec.c_str(), value);
    if (n < 0) return true;  // nothing to show for a spec the C library refuses
    if (static_cast<size_t>(n) < sizeof small) return sink.append(small, static_cast<size_t>(n));
    size_t want = static_cast<size_t>(n) < FORMAT_STRING_LIMIT ? static_cast<size_t>(n) : FORMAT_STRING_LIMIT;
    std::string big(want + 1, '\0');
    std::snprintf(big.data(), big.size(), spec.c_str(), value);
    return sink.append(big.data(), want);
}

const char* lengthText(Length len)
{
    switch (len) {
    case Length::HH: return "hh";
    case Length::H: return "h";
    case Length::L: return "l";
    case Length::LL: return "ll";
    case Length::J: return "j";
    case Length::Z: return "z";
    case Length::T: return "t";
    case Length::LD: return "L";
    case Length::None: break;
    }
    return "";
}

std::string macText(const unsigned char* mac)
{
    if (mac == nullptr) return "(null)";
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return buf;
}

}  // namespace

void formatTo(FormatSink& sink, const char* fmt, va_list args)
{
    if (fmt == nullptr) return;
    const char* p = fmt;
    bool more = true;
    while (more && *p != '\0') {
        const char* pct = std::strchr(p, '%');
        if (pct == nullptr) {
            sink.append(p, std::strlen(p));
            return;
        }
        if (pct != p && !sink.append(p, static_cast<size_t>(pct - p))) return;

        // Flags, width, precision, length modifier, conversion.
        const char* s = pct + 1;
        std::string spec = "%";
        while (*s != '\0' && std::strchr("-+ #0'", *s) != nullptr) spec += *s++;
        if (*s == '*') {
            spec += std::to_string(va_arg(args, int));  // a negative width reads as '-' and its size
            ++s;
        } else {
            while (*s >= '0' && *s <= '9') spec += *s++;
        }
        if (*s == '.') {
            ++s;
            if (*s == '*') {
                int prec = va_arg(args, int);
                if (prec >= 0) spec += "." + std::to_string(prec);  // negative: as if none was given
                ++s;
            } else {
                spec += '.';
                while (*s >= '0' && *s <= '9') spec += *s++;
            }
        }
        Length len = Length::None;
        if (s[0] == 'h' && s[1] == 'h') len = Length::HH, s += 2;
        else if (s[0] == 'l' && s[1] == 'l') len = Length::LL, s += 2;
        else if (*s == 'h') len = Length::H, ++s;
        else if (*s == 'l') len = Length::L, ++s;
        else if (*s == 'q') len = Length::LL, ++s;
        else if (*s == 'j') len = Length::J, ++s;
        else if (*s == 'z') len = Length::Z, ++s;
        else if (*s == 't') len = Length::T, ++s;
        else if (*s == 'L') len = Length::LD, ++s;

        const char conv = *s;
        if (conv == '\0') {  // a conversion cut off by the end of the format
            sink.append(pct, static_cast<size_t>(s - pct));
            return;
        }
        ++s;
        const std::string full = spec + lengthText(len) + conv;
        switch (conv) {
        case 'd':
        case 'i':
            switch (len) {
            case Length::L: more = one(sink, full, va_arg(args, long)); break;
            case Length::LL: more = one(sink, full, va_arg(args, long long)); break;
            case Length::J: more = one(sink, full, va_arg(args, intmax_t)); break;
            case Length::Z: more = one(sink, full, va_arg(args, ssize_t)); break;
            case Length::T: more = one(sink, full, va_arg(args, ptrdiff_t)); break;
            default: more = one(sink, full, va_arg(args, int)); break;  // hh and h arrive promoted
            }
            break;
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            switch (len) {
            case Length::L: more = one(sink, full, va_arg(args, unsigned long)); break;
            case Length::LL: more = one(sink, full, va_arg(args, unsigned long long)); break;
            case Length::J: more = one(sink, full, va_arg(args, uintmax_t)); break;
            case Length::Z: more = one(sink, full, va_arg(args, size_t)); break;
            case Length::T: more = one(sink, full, va_arg(args, ptrdiff_t)); break;
            default: more = one(sink, full, va_arg(args, unsigned int)); break;
            }
            break;
        case 'c':
            if (len == Length::L) more = one(sink, full, va_arg(args, wint_t));
            else more = one(sink, full, va_arg(args, int));
            break;
        case 's':
            if (len == Length::L) more = one(sink, full, va_arg(args, const wchar_t*));
            else more = one(sink, full, va_arg(args, const char*));
            break;
        case 'p': more = one(sink, full, va_arg(args, void*)); break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (len == Length::LD) more = one(sink, full, va_arg(args, long double));
            else more = one(sink, full, va_arg(args, double));
            break;
        case 'n':
            // Writing through a format is never wanted here: the pointer is
            // consumed and left alone.
            (void)va_arg(args, void*);
            break;
        case '%': more = sink.append("%", 1); break;
        case 'M': {
            // The address padded and cut like a string, with the same flags.
            std::string mac = macText(va_arg(args, const unsigned char*));
            more = one(sink, spec + 's', mac.c_str());
            break;
        }
        default:  // not a conversion: the text as it stands
            more = sink.append(pct, static_cast<size_t>(s - pct));
            break;
        }
        p = s;
    }
}

std::string formatString(const char* fmt, va_list args)
{
    StringSink sink;
    formatTo(sink, fmt, args);
    return std::move(sink.text);
}

}  // namespace plat
