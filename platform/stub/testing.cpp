#include "platform/testing.h"

#include <map>

namespace plat::testing {
namespace {

struct Fault {
    int64_t result;
    unsigned left;  // 0: permanent
};

std::vector<Call> g_calls;
std::map<std::string, Fault, std::less<>> g_faults;

void faultsChanged() { detail::g_faultArmed = !g_faults.empty(); }

}  // namespace

bool detail::g_recording = false;
bool detail::g_faultArmed = false;

void setRecording(bool on) { detail::g_recording = on; }

void record(std::string_view name, std::string args, std::any payload)
{
    if (detail::g_recording) g_calls.push_back(Call{std::string(name), std::move(args), std::move(payload)});
}

const std::vector<Call>& calls() { return g_calls; }

std::vector<Call> callsNamed(std::string_view name)
{
    std::vector<Call> out;
    for (const auto& c : g_calls)
        if (c.name == name) out.push_back(c);
    return out;
}

size_t countCalls(std::string_view name)
{
    size_t n = 0;
    for (const auto& c : g_calls) n += (c.name == name);
    return n;
}

void clearCalls() { g_calls.clear(); }

void failCall(std::string_view name, int64_t result, unsigned times)
{
    g_faults[std::string(name)] = Fault{result, times};
    faultsChanged();
}

void clearFault(std::string_view name)
{
    auto it = g_faults.find(name);
    if (it != g_faults.end()) g_faults.erase(it);
    faultsChanged();
}

void clearFaults()
{
    g_faults.clear();
    faultsChanged();
}

std::optional<int64_t> detail::takeFault(std::string_view name)
{
    auto it = g_faults.find(name);
    if (it == g_faults.end()) return std::nullopt;
    int64_t r = it->second.result;
    if (it->second.left != 0 && --it->second.left == 0) g_faults.erase(it);
    faultsChanged();
    return r;
}

void reset()
{
    detail::g_recording = false;
    g_calls.clear();
    g_faults.clear();
    faultsChanged();
}

}  // namespace plat::testing
