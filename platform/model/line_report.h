// Line-card report messages: TLV chains of ageing and no-hardware-resource
// records (l2vpn_age.h) as the line cards send them to the report socket.
#pragma once

#include <cstdint>
#include <utility>
#include <variant>
#include <vector>

#include "platform/l2vpn_age.h"
#include "platform/model/records.h"

namespace sim {

struct AgeReport {
    uint16_t slot = 0;
    uint32_t ageType = L2VPN_AGE_TYPE_AGED;
    uint32_t vsi = 0;
    uint32_t isid = 0;
    std::vector<std::pair<Mac, uint16_t>> entries{};  // B-MAC, B-VLAN
};

struct NoHardResEntry {
    uint16_t slot = 0;
    uint16_t bvlan = 0;
    uint32_t vsi = 0;
    uint32_t isid = 0;
    Mac bmac{};
};

struct NoHardResReport {
    std::vector<NoHardResEntry> entries{};
};

// A TLV of any type with the value as given (also one whose count does not
// match its entries).
struct RawTlv {
    uint16_t type = 0;
    std::vector<uint8_t> value{};
};

using ReportTlv = std::variant<AgeReport, NoHardResReport, RawTlv>;

// One message; throws std::length_error beyond L2VPN_AGE_MSG_MAX bytes.
std::vector<uint8_t> encodeReport(const std::vector<ReportTlv>& tlvs);

}  // namespace sim
