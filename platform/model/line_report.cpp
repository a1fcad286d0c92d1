#include "platform/model/line_report.h"

#include <cstring>
#include <stdexcept>

#include "platform/stlv.h"

namespace sim {

namespace {

template <class T>
void append(std::vector<uint8_t>& out, const T& rec)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&rec);
    out.insert(out.end(), p, p + sizeof rec);
}

std::pair<uint16_t, std::vector<uint8_t>> value(const AgeReport& r)
{
    std::vector<uint8_t> v;
    L2VPN_AGE_MSG_S head{};
    head.usSlotId = r.slot;
    head.uiAgeType = r.ageType;
    head.uiVsiIndex = r.vsi;
    head.uiISid = r.isid;
    head.uiPwNum = static_cast<uint32_t>(r.entries.size());
    append(v, head);
    for (const auto& [bmac, bvlan] : r.entries) {
        L2VPN_AGE_ENTRY_S e{};
        std::memcpy(e.aucBMac, bmac.data(), 6);
        e.usBVlan = bvlan;
        append(v, e);
    }
    return {L2VPN_AGE_TLV_AGING, std::move(v)};
}

std::pair<uint16_t, std::vector<uint8_t>> value(const NoHardResReport& r)
{
    std::vector<uint8_t> v;
    append(v, L2VPN_NO_HARD_RES_MSG_S{static_cast<uint32_t>(r.entries.size())});
    for (const auto& x : r.entries) {
        L2VPN_NO_HARD_RES_ENTRY_S e{};
        e.usSlotId = x.slot;
        e.usBVlan = x.bvlan;
        e.uiVsiIndex = x.vsi;
        e.uiISid = x.isid;
        std::memcpy(e.aucBMac, x.bmac.data(), 6);
        append(v, e);
    }
    return {L2VPN_AGE_TLV_NO_HARD_RES, std::move(v)};
}

std::pair<uint16_t, std::vector<uint8_t>> value(const RawTlv& r) { return {r.type, r.value}; }

}  // namespace

std::vector<uint8_t> encodeReport(const std::vector<ReportTlv>& tlvs)
{
    std::vector<uint8_t> out(L2VPN_AGE_MSG_MAX);
    uint32_t used = 0;
    for (const auto& tlv : tlvs) {
        auto [type, v] = std::visit([](const auto& r) { return value(r); }, tlv);
        uint32_t n = v.size() > UINT16_MAX ? 0
                                           : STLV_Set(out.data() + used, L2VPN_AGE_MSG_MAX - used, type,
                                                      static_cast<uint16_t>(v.size()), v.data());
        if (n == 0) throw std::length_error("line-card report longer than one message");
        used += n;
    }
    out.resize(used);
    return out;
}

}  // namespace sim
