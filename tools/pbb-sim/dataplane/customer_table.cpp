#include "tools/pbb-sim/dataplane/customer_table.h"

#include <algorithm>

namespace dp {

CustomerTable::Key CustomerTable::key(uint32_t vsi, const sim::Mac& mac)
{
    uint64_t m = 0;
    for (uint8_t b : mac) m = m << 8 | b;
    return Key{vsi, m};
}

const Location* CustomerTable::find(uint32_t vsi, const sim::Mac& mac) const
{
    auto it = map_.find(key(vsi, mac));
    return it == map_.end() ? nullptr : &it->second.where;
}

bool CustomerTable::learn(uint32_t vsi, const sim::Mac& mac, const Location& where, int64_t nowMs)
{
    Key k = key(vsi, mac);
    auto it = map_.find(k);
    if (it == map_.end()) {
        if (map_.size() >= kMaxEntries) return false;
        map_.emplace(k, Value{where, nowMs});
        return true;
    }
    it->second = Value{where, nowMs};
    return true;
}

size_t CustomerTable::expire(int64_t nowMs, int64_t ageMs)
{
    return std::erase_if(map_, [&](const auto& kv) { return nowMs - kv.second.seenMs >= ageMs; });
}

std::vector<CustomerTable::Entry> CustomerTable::entries() const
{
    std::vector<Entry> out;
    out.reserve(map_.size());
    for (const auto& [k, v] : map_) {
        sim::Mac mac;
        for (size_t i = 0; i < mac.size(); ++i) mac[i] = static_cast<uint8_t>(k.mac >> (8 * (5 - i)));
        out.push_back(Entry{k.vsi, mac, v.where, v.seenMs});
    }
    std::sort(out.begin(), out.end(),
              [](const Entry& a, const Entry& b) { return std::tie(a.vsi, a.mac) < std::tie(b.vsi, b.mac); });
    return out;
}

}  // namespace dp
