// 'show dataplane' as JSON.
#include "tools/pbb-sim/dataplane/dataplane.h"
#include "tools/simcmd/frames.h"

namespace dp {

namespace {

using J = nlohmann::json;

std::string ifName(const sim::SwitchModel& m, uint32_t ifIndex)
{
    const sim::Interface* i = m.findIf(ifIndex);
    return i != nullptr ? i->name : "";
}

std::string vsiName(const sim::SwitchModel& m, uint32_t vsi)
{
    const sim::Vsi* v = m.findVsi(vsi);
    return v != nullptr ? v->name : "";
}

}  // namespace

J DataPlane::show(int64_t nowMs) const
{
    const sim::BridgeConfig& b = model_.bridge();
    J j;
    j["bridge"] = {{"name", b.effectiveName()},
                   {"mac", simcmd::formatMac(b.address())},
                   {"ageSeconds", b.ageSeconds()}};
    j["circuits"] = J::array();
    for (const auto& [port, vsi] : b.circuits())
        j["circuits"].push_back({{"ifIndex", port}, {"name", ifName(model_, port)}, {"vsi", vsi},
                                 {"vsiName", vsiName(model_, vsi)}});
    j["vsis"] = J::array();
    for (const auto& [vsi, c] : counters_.vsis())
        j["vsis"].push_back({{"vsi", vsi}, {"name", vsiName(model_, vsi)}, {"counters", c.json()}});
    j["ports"] = J::array();
    for (const auto& [port, c] : counters_.ports())
        j["ports"].push_back({{"ifIndex", port}, {"name", ifName(model_, port)}, {"counters", c.json()}});
    j["customerMacs"] = J::array();
    for (const auto& e : customers_.entries())
        j["customerMacs"].push_back({{"vsi", e.vsi},
                                     {"mac", simcmd::formatMac(e.mac)},
                                     {"ifIndex", e.where.remote ? J(nullptr) : J(e.where.port)},
                                     {"bmac", e.where.remote ? J(simcmd::formatMac(e.where.bmac)) : J(nullptr)},
                                     {"idleMs", nowMs - e.seenMs}});
    j["notLearned"] = notLearned_;
    j["backbone"] = J::array();
    for (const auto& [key, t] : ager_.tracks())
        j["backbone"].push_back({{"vsi", key.first},
                                 {"bmac", simcmd::formatMac(key.second)},
                                 {"bvlan", t.bvlan},
                                 {"ifIndex", t.port},
                                 {"idleMs", nowMs - t.lastHitMs},
                                 {"aged", t.agedMs >= 0}});
    j["reports"] = {{"aged", ager_.agedReported()}, {"cancelled", ager_.cancelledReported()}};
    return j;
}

}  // namespace dp
