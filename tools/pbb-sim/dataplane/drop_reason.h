// Why the data plane did not forward a frame.
#pragma once

#include <cstdint>
#include <string_view>

namespace dp {

enum class Drop : uint8_t {
    None,
    Runt,           // shorter than its headers
    Tagged,         // a VLAN tag on an untagged attachment circuit
    StackedTags,    // a second tag behind the first
    BadTag,         // a backbone frame without a usable B-tag (none, another TPID, VID 0 or 4095)
    NotItagged,     // a frame on a backbone port without the I-tag
    GroupSource,    // a group address as C-SA or B-SA
    OwnSource,      // our own backbone address as B-SA: the frame looped back
    SamePort,       // the C-DA sits on the circuit the frame came in on
    PortDown,       // the ingress port is not present, active and up
    NoService,      // the ingress port is neither a circuit nor in PBB mode
    NoVsi,          // the circuit's VSI, or the frame's I-SID, names no VSI
    VsiDown,        // the VSI is administratively down
    NotVsiPort,     // the ingress port is not in the VSI's multicast entry
    BVlanMismatch,  // the frame's B-VLAN is not the one programmed for the VSI
    StpBlocked,     // spanning tree does not forward on the port and B-VLAN
    NotForUs,       // B-DA neither ours nor the I-SID's group address
    SplitHorizon,   // the C-DA sits behind the backbone: never back into it
    kCount,
};

constexpr size_t kDropCount = static_cast<size_t>(Drop::kCount);

// The reason's name in 'show dataplane' ("runt", "stackedTags", ...).
std::string_view dropName(Drop d);

}  // namespace dp
