// The frames the data plane reads and writes.
//
// On an attachment circuit (untagged): C-DA, C-SA, EtherType or length,
// payload. On a backbone port: B-DA, B-SA, the B-tag (TPID 0x88A8, or
// 0x8100, and a TCI with the B-VID), the I-tag EtherType 0x88E7, the
// I-tag's flags byte and 24-bit I-SID, then the whole customer frame.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/model/records.h"
#include "tools/pbb-sim/dataplane/drop_reason.h"

namespace dp {

constexpr size_t kEthHeaderLen = 14;        // DA, SA, EtherType
constexpr size_t kBackboneHeaderLen = 22;   // B-DA, B-SA, B-tag, 0x88E7, I-tag
constexpr size_t kBackboneMinLen = kBackboneHeaderLen + kEthHeaderLen;

inline bool isGroup(const sim::Mac& m) { return (m[0] & 1) != 0; }

struct CustomerHeader {
    sim::Mac da{};
    sim::Mac sa{};
};

// Drop::None and the addresses for a frame an untagged circuit takes;
// otherwise why not.
Drop readCustomer(std::span<const uint8_t> frame, CustomerHeader& out);

struct BackboneHeader {
    sim::Mac bda{};
    sim::Mac bsa{};
    uint16_t bvid = 0;
    uint32_t isid = 0;
    sim::Mac cda{};
    sim::Mac csa{};
};

// Drop::None and the fields for an I-tagged backbone frame that carries a
// customer frame (at kBackboneHeaderLen); otherwise why not.
Drop readBackbone(std::span<const uint8_t> frame, BackboneHeader& out);

// out becomes the backbone frame of a customer frame: the B-tag with TPID
// 0x88A8 and priority 0, an I-tag with flags 0.
void encapsulate(std::vector<uint8_t>& out, const sim::Mac& bda, const sim::Mac& bsa, uint16_t bvid, uint32_t isid,
                 std::span<const uint8_t> customer);

}  // namespace dp
