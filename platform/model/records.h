// Plain records exchanged between the switch model and the platform calls:
// the switch's objects as the calls read them, the events the model emits,
// registrations and acknowledgements. They hold no pointers into either
// side, so that they can be copied across a process boundary as they are.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/vlan.h"

namespace sim {

using Mac = std::array<uint8_t, 6>;

// The services whose calls deliver events or frames. A service that goes
// away hangs up its descriptors and refuses registration until it is back.
enum class Service : uint8_t { Ifm, Vlan, L2vpn, Sti, Packet };
constexpr size_t kServiceCount = 5;

enum class EventKind : uint8_t { Interface, Link, Slot, Vlan, L2vpn, Tc };

constexpr Service serviceOf(EventKind kind)
{
    switch (kind) {
    case EventKind::Vlan: return Service::Vlan;
    case EventKind::L2vpn: return Service::L2vpn;
    case EventKind::Tc: return Service::Sti;
    default: return Service::Ifm;
    }
}

struct SlotRange {
    uint16_t min = 1;
    uint16_t max = 16;
};

struct Slot {
    uint16_t number = 0;
    bool present = true;   // a board is in the slot
    bool normal = true;    // the board works normally
    bool minm = false;     // the board's forwarding hardware handles MAC-in-MAC
};

struct Interface {
    uint32_t ifIndex = 0;
    std::string name{};               // full name, at most 47 characters
    uint32_t type = IF_TYPE_GE;
    uint16_t slot = 0xFFFF;           // ports only
    bool present = true;              // false: temporary, configuration only
    bool active = true;
    bool linkUp = false;              // aggregates: up while a member is up
    uint32_t aggregate = 0;           // ports: the aggregate they belong to
    std::vector<uint32_t> members{};  // aggregates: in the order they joined
    uint8_t linkType = VLAN_LINK_ACCESS;
    uint16_t pvid = 1;
    std::set<uint16_t> vlans{1};      // VLANs carried
    std::map<uint16_t, uint16_t> stp{};  // spanning-tree state per VLAN; absent: forwarding

    bool isAggregate() const { return type == IF_TYPE_AGG; }
};

struct Vsi {
    uint32_t index = 0;
    std::string name{};               // at most 31 characters
    uint32_t isid = 0;                // 0: not a PBB VSI
    bool down = false;                // administratively down
};

struct FibSpec {
    uint32_t maxPwNum = 8192;         // unicast entries in all
    uint32_t maxPwPerVsi = 1024;      // unicast entries per VSI
    bool shareVsi = false;
};

// A VSI as events carry it.
struct VsiRecord {
    uint32_t index = 0;
    uint32_t flags = 0;               // L2VPN_VSI_FLAG_DOWN
    uint32_t isid = 0;
    std::string name{};
};

// One event, as the model emits it to the service of its kind.
//  Interface: code IF_EVT_*; items the ifIndexes with their types in infos;
//             data the aggregate (join, leave) or the park word (inactive).
//  Link:      code IF_EVT_LINK_*; items the ifIndexes, infos their types.
//  Slot:      code IF_EVT_SLOT_*; items the slot numbers.
//  Vlan:      code VLAN_EVT_*; data the ifIndex; vlans one VLAN, or the set
//             when vlanSet.
//  L2vpn:     code the event type; vsi for types 0 to 4.
//  Tc:        vlans when vlanSet (else all VLANs); items the ifIndexes when
//             hasItems (else all interfaces).
struct Event {
    EventKind kind = EventKind::Interface;
    uint32_t handle = 0;              // the registration it is delivered under
    uint32_t context = 0;             // the model's sequence number, handed back by acknowledgements
    uint32_t code = 0;
    std::vector<uint32_t> items{};
    std::vector<uint32_t> infos{};
    uint32_t data = 0;
    bool hasItems = true;
    std::vector<uint16_t> vlans{};
    bool vlanSet = false;
    VsiRecord vsi{};
};

// A registration for events of one kind.
//  mask: Interface/Link/Slot the OR of the codes; Vlan bit (kind - 1);
//        L2vpn bit n for VSI event type n. Tc takes none.
//  batch: Interface/Link/Slot the most list elements per event (0: no limit).
//  types: Interface only, the interface types selected (empty: all).
//  client: L2vpn only, the client identifier.
struct Subscription {
    EventKind kind = EventKind::Interface;
    uint32_t mask = 0;
    uint32_t batch = 0;
    std::vector<uint32_t> types{};
    uint32_t client = 0;
};

// An acknowledgement: the client has finished with an event.
struct Ack {
    Service service = Service::Ifm;
    uint32_t handle = 0;              // interface manager: the registration; L2VPN: 0
    uint32_t code = 0;                // event code or type
    uint32_t context = 0;
    std::vector<uint32_t> items{};    // the list handed back; L2VPN: the VSI index
};

// A forwarding-entry request as the L2VPN library received it. The port
// list is copied; entry.puiPortList keeps the caller's pointer value only as
// a number and is not to be followed.
struct MinMRequest {
    uint32_t client = 0;
    uint32_t op = 0;
    L2VPN_MINM_ENTRY_S entry{};
    std::vector<uint32_t> ports{};
};

}  // namespace sim
