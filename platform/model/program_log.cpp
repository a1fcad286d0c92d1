#include "platform/model/program_log.h"

#include <algorithm>

namespace sim {

void ProgramLog::add(ProgramCall c)
{
    c.seq = next_++;
    if (calls_.size() < kKeep) {
        calls_.push_back(std::move(c));
        return;
    }
    calls_[head_] = std::move(c);
    head_ = (head_ + 1) % kKeep;
    ++dropped_;
}

std::vector<const ProgramCall*> ProgramLog::since(uint64_t seq) const
{
    // Numbers are consecutive: the first wanted call's place is computed.
    std::vector<const ProgramCall*> out;
    if (calls_.empty() || seq >= last()) return out;
    uint64_t first = calls_[head_].seq;
    size_t from = seq < first ? 0 : static_cast<size_t>(seq - first + 1);
    out.reserve(calls_.size() - from);
    for (size_t i = from; i < calls_.size(); ++i) out.push_back(&calls_[(head_ + i) % calls_.size()]);
    return out;
}

}  // namespace sim
