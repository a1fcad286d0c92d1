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

// A call without arguments.
std::optional<int64_t> enter(const char* name);
// Consumes the fault armed for name and records the call (with " fault=N"
// when one was armed). Returns the fault's result.
std::optional<int64_t> enter(const char* name, const char* format, ...) __attribute__((format(printf, 2, 3)));

template <class MakePayload>
std::optional<int64_t> enterWith(const char* name, MakePayload&& makePayload, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// As enterWith, with the arguments' text given by makeArgs(), which is
// asked only while recording: formatting is dear on a hot path.
template <class MakePayload, class MakeArgs>
std::optional<int64_t> enterLazy(const char* name, MakePayload&& makePayload, MakeArgs&& makeArgs)
{
    syncBackend();
    if (!plat::testing::observed()) return std::nullopt;
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
