// Entry of every platform call of the switch services: the backend brings
// its view of the switch up to date, then the armed fault, if any, and the
// record of the call in the test log. Arguments are formatted only while
// recording is on.
#pragma once

#include <any>
#include <cstdarg>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/testing.h"

namespace plat::detail {

void syncBackend();  // backend.h

std::string vfmt(const char* format, va_list args);
std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string macText(const uint8_t* mac);
std::string listText(const uint32_t* items, uint32_t count);

// Brings the backend up to date; whether a test watches the calls.
inline bool syncAndWatched()
{
    syncBackend();
    return plat::testing::observed();
}

// The watched part of PLAT_ENTER, for a call without arguments.
std::optional<int64_t> enterWatched(const char* name);
// Consumes the fault armed for name and records the call (with " fault=N"
// when one was armed). Returns the fault's result.
std::optional<int64_t> enterWatched(const char* name, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The entry of a platform call: PLAT_ENTER("NAME") or PLAT_ENTER("NAME",
// "format", args...). Brings the backend up to date; while a test watches,
// consumes the fault armed for the call and records it, and yields the
// fault's result. A macro so that, when no test watches, a call costs the
// backend's update and one check (no arguments passed, no variadic call),
// while the arguments' format is still checked at every call site.
#define PLAT_ENTER(...) \
    (::plat::detail::syncAndWatched() ? ::plat::detail::enterWatched(__VA_ARGS__) : std::optional<int64_t>())

template <class MakePayload>
std::optional<int64_t> enterWith(const char* name, MakePayload&& makePayload, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// As enterWith, with the arguments' text given by makeArgs(), which is
// asked only while recording: formatting is dear on a hot path.
template <class MakePayload, class MakeArgs>
std::optional<int64_t> enterLazy(const char* name, MakePayload&& makePayload, MakeArgs&& makeArgs)
{
    if (!syncAndWatched()) return std::nullopt;
    auto f = plat::testing::fault(name);
    if (plat::testing::recording()) {
        std::string args = makeArgs();
        if (f) args += " fault=" + std::to_string(*f);
        plat::testing::record(name, std::move(args), std::any(makePayload()));
    }
    return f;
}

template <class MakePayload>
std::optional<int64_t> enterWith(const char* name, MakePayload&& makePayload, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    auto f = enterLazy(name, makePayload, [&] { return vfmt(format, ap); });
    va_end(ap);
    return f;
}

}  // namespace plat::detail
