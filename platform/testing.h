// Test hooks of the in-process platform: a log of the platform calls made
// and the means to make chosen calls fail.
//
// Every platform call of the stand-in asks plat::testing::fault(name)
// first; when a fault is armed for that name it returns the armed result
// instead of doing its work. Calls are recorded (name, readable arguments
// and, where useful, a decoded copy of the record passed) while recording
// is on; recording is off by default so that a production daemon pays
// nothing for it.
#pragma once

#include <any>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat::testing {

struct Call {
    std::string name;
    std::string args;   // readable arguments, "a=1 b=2"
    std::any payload;   // decoded record where the call takes one
};

namespace detail {
// Whether recording is on and whether any fault is armed: read inline by
// every platform call, which then pays a test for each when neither is.
extern bool g_recording;
extern bool g_faultArmed;
std::optional<int64_t> takeFault(std::string_view name);
}  // namespace detail

void setRecording(bool on);
inline bool recording() { return detail::g_recording; }
// Whether a test watches the calls: recording is on or a fault is armed.
// Otherwise a call's entry neither looks its name up nor formats anything.
inline bool observed() { return detail::g_recording || detail::g_faultArmed; }
void record(std::string_view name, std::string args, std::any payload = {});
const std::vector<Call>& calls();
std::vector<Call> callsNamed(std::string_view name);
size_t countCalls(std::string_view name);
void clearCalls();

// Arms a fault: the next `times` calls of `name` fail with `result`
// (times 0: every call from now on).
void failCall(std::string_view name, int64_t result, unsigned times = 1);
void clearFault(std::string_view name);
void clearFaults();
// Consumes one armed fault of `name`, if any.
inline std::optional<int64_t> fault(std::string_view name)
{
    if (!detail::g_faultArmed) return std::nullopt;
    return detail::takeFault(name);
}

// Everything back to its start state: no faults, no calls, recording off.
void reset();

}  // namespace plat::testing
