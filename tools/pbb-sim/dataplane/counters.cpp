#include "tools/pbb-sim/dataplane/counters.h"

namespace dp {

void Counters::count(const Decision& d)
{
    ++received;
    encapsulated += (d.flags & kEncapsulated) != 0;
    decapsulated += (d.flags & kDecapsulated) != 0;
    unicast += (d.flags & kUnicast) != 0;
    flooded += (d.flags & kFlooded) != 0;
    toCpu += (d.flags & kToCpu) != 0;
    if (d.drop != Drop::None) ++dropped[static_cast<size_t>(d.drop)];
}

nlohmann::json Counters::json() const
{
    nlohmann::json drops = nlohmann::json::object();
    for (size_t i = 1; i < kDropCount; ++i) drops[std::string(dropName(static_cast<Drop>(i)))] = dropped[i];
    return {{"received", received},       {"encapsulated", encapsulated}, {"decapsulated", decapsulated},
            {"unicast", unicast},         {"flooded", flooded},           {"toCpu", toCpu},
            {"transmitted", transmitted}, {"txFailed", txFailed},         {"txUnbound", txUnbound},
            {"dropped", drops}};
}

void CounterTables::count(const Decision& d)
{
    ports_[d.ingress].count(d);
    if (d.vsi) vsis_[*d.vsi].count(d);
}

void CounterTables::transmitted(uint32_t port, Tx result)
{
    Counters& c = ports_[port];
    switch (result) {
    case Tx::Sent: ++c.transmitted; break;
    case Tx::Failed: ++c.txFailed; break;
    case Tx::Unbound: ++c.txUnbound; break;
    }
}

}  // namespace dp
