#include "tools/pbb-sim/dataplane/backbone_ager.h"

#include <tuple>

#include "platform/l2vpn_age.h"

namespace dp {

void BackboneAger::hit(const sim::UcKey& key, int64_t nowMs)
{
    auto it = tracks_.find(key);
    if (it == tracks_.end()) return;  // programmed since the last sweep, which takes it from now on
    it->second.lastHitMs = nowMs;
    if (it->second.agedMs >= 0) {
        it->second.agedMs = -1;
        resumed_.push_back(key);
    }
}

std::vector<sim::AgeReport> BackboneAger::sweep(const sim::SwitchModel& m, int64_t nowMs, int64_t ageMs)
{
    const auto& committed = m.fib().committed().uc;
    std::erase_if(tracks_, [&](const auto& kv) { return committed.count(kv.first) == 0; });
    std::vector<sim::UcKey> aged;
    for (const auto& [key, e] : committed) {
        auto [it, added] = tracks_.try_emplace(key);
        Track& t = it->second;
        if (added || t.port != e.port || t.bvlan != e.bvlan || t.isid != e.isid)
            t = Track{nowMs, -1, e.port, e.bvlan, e.isid};
        int64_t since = t.agedMs < 0 ? t.lastHitMs : t.agedMs;
        if (nowMs - since >= ageMs) {
            t.agedMs = nowMs;
            aged.push_back(key);
        }
    }
    agedReported_ += aged.size();
    return reports(m, L2VPN_AGE_TYPE_AGED, aged);
}

std::vector<sim::AgeReport> BackboneAger::resumed(const sim::SwitchModel& m)
{
    std::vector<sim::UcKey> keys;
    keys.swap(resumed_);
    std::erase_if(keys, [&](const sim::UcKey& k) { return tracks_.count(k) == 0; });
    cancelledReported_ += keys.size();
    return reports(m, L2VPN_AGE_TYPE_CANCELLED, keys);
}

std::vector<sim::AgeReport> BackboneAger::reports(const sim::SwitchModel& m, uint32_t type,
                                                  const std::vector<sim::UcKey>& keys) const
{
    std::vector<sim::AgeReport> out;
    if (keys.empty()) return out;
    // By VSI and I-SID, in the order of the keys.
    std::map<std::pair<uint32_t, uint32_t>, std::vector<std::pair<sim::Mac, uint16_t>>> byVsi;
    for (const sim::UcKey& k : keys) {
        const Track& t = tracks_.at(k);
        byVsi[{k.first, t.isid}].emplace_back(k.second, static_cast<uint16_t>(t.bvlan));
    }
    for (const auto& [n, slot] : m.slots()) {
        if (!slot.present || !slot.normal || !slot.minm) continue;
        for (const auto& [vsiIsid, entries] : byVsi)
            for (size_t i = 0; i < entries.size(); i += kReportEntriesMax) {
                sim::AgeReport r{.slot = n, .ageType = type, .vsi = vsiIsid.first, .isid = vsiIsid.second};
                size_t end = std::min(entries.size(), i + kReportEntriesMax);
                r.entries.assign(entries.begin() + static_cast<std::ptrdiff_t>(i),
                                 entries.begin() + static_cast<std::ptrdiff_t>(end));
                out.push_back(std::move(r));
            }
    }
    return out;
}

}  // namespace dp
