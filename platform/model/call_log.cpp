#include "platform/model/call_log.h"

#include <cstdarg>
#include <cstdio>

namespace plat::detail {

std::string vfmt(const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), out.size() + 1, format, again);
    va_end(again);
    return out;
}

std::string fmt(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    std::string out = vfmt(format, ap);
    va_end(ap);
    return out;
}

std::string macText(const uint8_t* mac)
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return buf;
}

std::string listText(const uint32_t* items, uint32_t count)
{
    std::string out = "[";
    for (uint32_t i = 0; items != nullptr && i < count; ++i) {
        if (i != 0) out += ',';
        out += std::to_string(items[i]);
    }
    return out + "]";
}

std::optional<int64_t> enterWatched(const char* name)
{
    auto f = plat::testing::fault(name);
    if (plat::testing::recording()) plat::testing::record(name, f ? "fault=" + std::to_string(*f) : std::string());
    return f;
}

std::optional<int64_t> enterWatched(const char* name, const char* format, ...)
{
    auto f = plat::testing::fault(name);
    if (plat::testing::recording()) {
        va_list ap;
        va_start(ap, format);
        std::string args = vfmt(format, ap);
        va_end(ap);
        if (f) args += " fault=" + std::to_string(*f);
        plat::testing::record(name, std::move(args));
    }
    return f;
}

}  // namespace plat::detail
