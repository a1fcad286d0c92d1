#include "tools/simcmd/names.h"

#include <array>
#include <utility>

#include "platform/ifm.h"
#include "platform/sti.h"
#include "tools/simcmd/args.h"

namespace simcmd {

namespace {

constexpr std::array<std::pair<const char*, uint32_t>, 8> kTypes{{
    {"fe", IF_TYPE_FE},
    {"ge", IF_TYPE_GE},
    {"xge", IF_TYPE_XGE},
    {"25ge", IF_TYPE_25GE},
    {"40ge", IF_TYPE_40GE},
    {"100ge", IF_TYPE_100GE},
    {"agg", IF_TYPE_AGG},
    {"loopback", IF_TYPE_LOOPBACK},
}};

constexpr std::array<std::pair<const char*, uint16_t>, 3> kStates{{
    {"discarding", STI_STATE_DISCARDING},
    {"learning", STI_STATE_LEARNING},
    {"forwarding", STI_STATE_FORWARDING},
}};

constexpr std::array<std::pair<const char*, sim::Service>, sim::kServiceCount> kServices{{
    {"ifm", sim::Service::Ifm},
    {"vlan", sim::Service::Vlan},
    {"l2vpn", sim::Service::L2vpn},
    {"stp", sim::Service::Sti},
    {"packet", sim::Service::Packet},
}};

}  // namespace

uint32_t parsePortType(const std::string& word)
{
    for (const auto& [name, code] : kTypes)
        if (word == name) return code;
    return static_cast<uint32_t>(parseUnsigned(word, "--type (ge, xge, fe, 25ge, 40ge, 100ge or a type code)", 1,
                                               0xFFFFFFFF));
}

std::string portTypeName(uint32_t type)
{
    for (const auto& [name, code] : kTypes)
        if (type == code) return name;
    return std::to_string(type);
}

uint16_t parseStpState(const std::string& word)
{
    for (const auto& [name, code] : kStates)
        if (word == name) return code;
    throw BadInput("spanning-tree state '" + word + "' is not forwarding, discarding or learning");
}

std::string stpStateName(uint16_t state)
{
    for (const auto& [name, code] : kStates)
        if (state == code) return name;
    return std::to_string(state);
}

sim::Service parseService(const std::string& word)
{
    for (const auto& [name, s] : kServices)
        if (word == name) return s;
    throw BadInput("service '" + word + "' is not ifm, vlan, l2vpn, stp or packet");
}

std::string serviceName(sim::Service s)
{
    for (const auto& [name, code] : kServices)
        if (s == code) return name;
    return "?";
}

std::string formatVlanList(const std::set<uint16_t>& vlans)
{
    if (vlans.empty()) return "none";
    std::string out;
    auto it = vlans.begin();
    while (it != vlans.end()) {
        uint16_t lo = *it, hi = *it;
        ++it;
        while (it != vlans.end() && *it == hi + 1) hi = *it++;
        if (!out.empty()) out += ',';
        out += std::to_string(lo);
        if (hi != lo) out += "-" + std::to_string(hi);
    }
    return out;
}

}  // namespace simcmd
