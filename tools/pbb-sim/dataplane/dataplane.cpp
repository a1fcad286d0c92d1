#include "tools/pbb-sim/dataplane/dataplane.h"

namespace dp {

const Decision& DataPlane::receive(uint32_t port, std::span<const uint8_t> frame, int64_t nowMs)
{
    decide(SwitchView{model_, customers_}, port, frame, decision_);
    counters_.count(decision_);
    if (decision_.learn && !customers_.learn(decision_.learn->vsi, decision_.learn->mac, decision_.learn->where, nowMs))
        ++notLearned_;
    if (decision_.hit) ager_.hit(*decision_.hit, nowMs);
    return decision_;
}

std::vector<sim::AgeReport> DataPlane::age(int64_t nowMs)
{
    int64_t ageMs = static_cast<int64_t>(model_.bridge().ageSeconds()) * 1000;
    customers_.expire(nowMs, ageMs);
    return ager_.sweep(model_, nowMs, ageMs);
}

}  // namespace dp
