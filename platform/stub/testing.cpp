#include "platform/testing.h"

#include <map>

namespace plat::testing {
namespace {

struct Fault {
    int64_t result;
    unsigned left;  // 0: permanent
};

bool g_recording = false;
std::vector<Call> g_calls;
std::map<std::string, Fault, std::less<>> g_faults;

}  // namespace

void setRecording(bool on) { g_recording = on; }
bool recording() { return g_recording; }

void record(std::string_view name, std::string args, std::any payload)
{
    if (g_recording) g_calls.push_back(Call{std::string(name), std::move(args), std::move(payload)});
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
}

void clearFault(std::string_view name)
{
    auto it = g_faults.find(name);
    if (it != g_faults.end()) g_faults.erase(it);
}

void clearFaults() { g_faults.clear(); }

std::optional<int64_t> fault(std::string_view name)
{
    if (g_faults.empty()) return std::nullopt;
    auto it = g_faults.find(name);
    if (it == g_faults.end()) return std::nullopt;
    int64_t r = it->second.result;
    if (it->second.left != 0 && --it->second.left == 0) g_faults.erase(it);
    return r;
}

void reset()
{
    g_recording = false;
    g_calls.clear();
    g_faults.clear();
}

}  // namespace plat::testing
