#include "platform/model/program_log.h"

#include <algorithm>
#include <stdexcept>

namespace sim {

ProgramLog::ProgramLog()
{
    // The ring's room at once, its 6 MiB touched now: growing it would copy
    // every kept call, and faulting its pages in while the first 65,536
    // calls came took about 3% of the time learning spent then.
    calls_.resize(kKeep);
    calls_.clear();
}

ProgramLog::Slot& ProgramLog::take(uint64_t& seq)
{
    seq = next_++;
    if (calls_.size() < kKeep) return calls_.emplace_back();
    Slot& s = calls_[head_];
    // The dropped call's ports kept aside, if it had any, go with it.
    if (!morePorts_.empty()) morePorts_.erase(seq - kKeep);
    head_ = (head_ + 1) % kKeep;
    ++dropped_;
    return s;
}

void ProgramLog::add(std::string_view call, uint32_t result, const MinMRequest& minm)
{
    uint64_t seq = 0;
    Slot& s = take(seq);
    s = Slot{call.data(), static_cast<uint32_t>(call.size()), result, true, 0, minm.client, minm.op,
             static_cast<uint32_t>(minm.ports.size()), minm.ports.empty() ? 0 : minm.ports[0], {minm.entry}};
    if (minm.ports.size() > 1) morePorts_.emplace(seq, std::vector<uint32_t>(minm.ports.begin() + 1, minm.ports.end()));
}

void ProgramLog::add(std::string_view call, uint32_t result, std::initializer_list<uint32_t> args)
{
    if (args.size() > kMaxArgs) throw std::invalid_argument("too many arguments for the program log");
    uint64_t seq = 0;
    Slot& s = take(seq);
    s = Slot{call.data(), static_cast<uint32_t>(call.size()), result, false, static_cast<uint8_t>(args.size()), 0, 0, 0,
             0, {}};
    std::copy(args.begin(), args.end(), s.args);
}

ProgramCall ProgramLog::call(const Slot& s, uint64_t seq) const
{
    ProgramCall c;
    c.seq = seq;
    c.call = std::string_view(s.call, s.callLen);
    c.result = s.result;
    if (s.hasMinm) {
        MinMRequest& r = c.minm.emplace(MinMRequest{s.client, s.op, s.entry, {}});
        if (s.portCount > 0) r.ports.push_back(s.firstPort);
        if (s.portCount > 1) {
            const std::vector<uint32_t>& more = morePorts_.at(seq);
            r.ports.insert(r.ports.end(), more.begin(), more.end());
        }
    } else {
        c.args.assign(s.args, s.args + s.argCount);
    }
    return c;
}

std::vector<ProgramCall> ProgramLog::since(uint64_t seq, size_t max) const
{
    // Numbers are consecutive: the first wanted call's place is computed.
    std::vector<ProgramCall> out;
    if (calls_.empty() || seq >= last()) return out;
    uint64_t first = next_ - calls_.size();
    size_t from = seq < first ? 0 : static_cast<size_t>(seq - first + 1);
    size_t n = std::min(max, calls_.size() - from);
    out.reserve(n);
    for (size_t i = from; i < from + n; ++i) out.push_back(call(calls_[(head_ + i) % calls_.size()], first + i));
    return out;
}

}  // namespace sim
