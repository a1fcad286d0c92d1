// The forwarding decision of the simulated backbone edge bridge: a pure
// function of the switch (its model with the committed forwarding tables
// and bridge configuration, and the customer MAC table), the ingress port
// and the frame's bytes. It says where the frame goes, what is learned,
// whether it is copied to the CPU and what is counted; the caller carries
// it out.
//
// A frame on an attachment circuit is a customer frame of the circuit's
// VSI; a frame on a port in PBB mode is a backbone frame; any other port
// forwards nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/model/switch_model.h"
#include "tools/pbb-sim/dataplane/customer_table.h"
#include "tools/pbb-sim/dataplane/drop_reason.h"

namespace dp {

// What leaves on an egress port: the frame as received, the customer frame
// inside a backbone frame, or the backbone frame made of a customer frame.
enum class Payload : uint8_t { AsReceived, Customer, Backbone };

struct Egress {
    uint32_t port;
    Payload payload;
    bool operator==(const Egress&) const = default;
};

struct Learn {
    uint32_t vsi;
    sim::Mac mac;
    Location where;
    bool operator==(const Learn&) const = default;
};

// What a frame counts as, besides received (and dropped, with its reason).
enum Flag : uint8_t {
    kEncapsulated = 1,   // went into the backbone
    kDecapsulated = 2,   // came out of the backbone to the circuits
    kUnicast = 4,        // to its one known destination
    kFlooded = 8,        // to every destination of its VSI
    kToCpu = 16,         // copied to the CPU: its B-SA is not programmed on this port
};

struct Decision {
    uint32_t ingress = 0;
    std::optional<uint32_t> vsi;   // the VSI the frame belongs to, once known
    Drop drop = Drop::None;        // not forwarded, and why
    uint8_t flags = 0;
    std::optional<Learn> learn;    // the C-SA and where it was seen
    std::optional<sim::UcKey> hit; // traffic for a programmed backbone address
    std::vector<Egress> out;
    std::vector<uint8_t> backbone; // the frame made for Payload::Backbone
    size_t customerOffset = 0;     // where the customer frame starts, for Payload::Customer

    // The bytes an egress carries of the ingress frame.
    std::span<const uint8_t> bytes(Payload p, std::span<const uint8_t> frame) const;
};

struct SwitchView {
    const sim::SwitchModel& model;
    const CustomerTable& customers;
};

// d is filled anew (its buffers are reused: no allocation once warm).
void decide(const SwitchView& sw, uint32_t port, std::span<const uint8_t> frame, Decision& d);

}  // namespace dp
