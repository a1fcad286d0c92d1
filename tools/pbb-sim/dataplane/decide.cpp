#include "tools/pbb-sim/dataplane/decide.h"

#include <algorithm>

#include "platform/sti.h"
#include "tools/pbb-sim/dataplane/frame_layout.h"

namespace dp {

namespace {

bool canSend(const sim::Interface* i) { return i != nullptr && i->present && i->active && i->linkUp; }

bool forwarding(const sim::Interface& i, uint16_t vlan)
{
    auto it = i.stp.find(vlan);
    return it == i.stp.end() || it->second == STI_STATE_FORWARDING;
}

const sim::Vsi* vsiByIsid(const sim::SwitchModel& m, uint32_t isid)
{
    if (isid == 0) return nullptr;
    for (const auto& [index, v] : m.vsis())
        if (v.isid == isid) return &v;
    return nullptr;
}

// A port that is a circuit of the VSI and can send.
bool circuitUp(const sim::SwitchModel& m, uint32_t port, uint32_t vsi)
{
    return m.bridge().circuitVsi(port) == vsi && canSend(m.findIf(port));
}

uint32_t flowHash(const sim::Mac& a, const sim::Mac& b)
{
    uint32_t h = 2166136261u;
    for (uint8_t x : a) h = (h ^ x) * 16777619u;
    for (uint8_t x : b) h = (h ^ x) * 16777619u;
    return h;
}

// The port a backbone frame for the interface (a port, or an aggregate:
// one of its members by flow) leaves on; 0 when it cannot leave there.
uint32_t backboneEgress(const sim::SwitchModel& m, uint32_t ifIndex, uint32_t bvlan, uint32_t flow)
{
    const sim::Interface* i = m.findIf(ifIndex);
    if (i == nullptr || !forwarding(*i, static_cast<uint16_t>(bvlan))) return 0;
    auto usable = [&m](uint32_t p) { return canSend(m.findIf(p)) && m.pbbMode(p); };
    if (!i->isAggregate()) return usable(ifIndex) ? ifIndex : 0;
    auto n = static_cast<uint32_t>(std::count_if(i->members.begin(), i->members.end(), usable));
    if (n == 0) return 0;
    uint32_t pick = flow % n;
    for (uint32_t member : i->members)
        if (usable(member) && pick-- == 0) return member;
    return 0;
}

void addEgress(Decision& d, uint32_t port, Payload p)
{
    Egress e{port, p};
    if (std::find(d.out.begin(), d.out.end(), e) == d.out.end()) d.out.push_back(e);
}

void floodCircuits(const sim::SwitchModel& m, uint32_t vsi, uint32_t except, Payload p, Decision& d)
{
    for (const auto& [port, v] : m.bridge().circuits())
        if (v == vsi && port != except && circuitUp(m, port, vsi)) addEgress(d, port, p);
}

void fromCircuit(const SwitchView& sw, uint32_t port, uint32_t vsiIndex, std::span<const uint8_t> frame, Decision& d)
{
    const sim::SwitchModel& m = sw.model;
    d.vsi = vsiIndex;
    CustomerHeader h;
    if ((d.drop = readCustomer(frame, h)) != Drop::None) return;
    const sim::Vsi* vsi = m.findVsi(vsiIndex);
    if (vsi == nullptr) {
        d.drop = Drop::NoVsi;
        return;
    }
    if (vsi->down) {
        d.drop = Drop::VsiDown;
        return;
    }
    if (isGroup(h.sa)) {
        d.drop = Drop::GroupSource;
        return;
    }
    d.learn = Learn{vsiIndex, h.sa, Location{.port = port}};
    const sim::Mac& own = m.bridge().address();
    uint32_t flow = flowHash(h.da, h.sa);
    // A known destination that cannot be reached now is treated as unknown.
    if (const Location* at = isGroup(h.da) ? nullptr : sw.customers.find(vsiIndex, h.da)) {
        if (!at->remote && at->port == port) {
            d.drop = Drop::SamePort;
            return;
        }
        if (!at->remote && circuitUp(m, at->port, vsiIndex)) {
            addEgress(d, at->port, Payload::AsReceived);
            d.flags = kUnicast;
            return;
        }
        const sim::UcEntry* uc = at->remote && vsi->isid != 0 ? m.unicast(vsiIndex, at->bmac) : nullptr;
        if (uint32_t x = uc != nullptr ? backboneEgress(m, uc->port, uc->bvlan, flow) : 0) {
            encapsulate(d.backbone, at->bmac, own, static_cast<uint16_t>(uc->bvlan), vsi->isid, frame);
            addEgress(d, x, Payload::Backbone);
            d.flags = kEncapsulated | kUnicast;
            return;
        }
    }
    d.flags = kFlooded;
    floodCircuits(m, vsiIndex, port, Payload::AsReceived, d);
    const sim::McEntry* mc = vsi->isid != 0 ? m.multicast(vsiIndex) : nullptr;
    if (mc == nullptr) return;
    encapsulate(d.backbone, sim::groupAddress(vsi->isid), own, static_cast<uint16_t>(mc->bvlan), vsi->isid, frame);
    for (uint32_t p : mc->ports)
        if (uint32_t x = backboneEgress(m, p, mc->bvlan, flow)) {
            addEgress(d, x, Payload::Backbone);
            d.flags |= kEncapsulated;
        }
}

void fromBackbone(const SwitchView& sw, const sim::Interface& in, std::span<const uint8_t> frame, Decision& d)
{
    const sim::SwitchModel& m = sw.model;
    BackboneHeader h;
    if ((d.drop = readBackbone(frame, h)) != Drop::None) return;
    const sim::Mac& own = m.bridge().address();
    if (isGroup(h.bsa)) {
        d.drop = Drop::GroupSource;
        return;
    }
    if (h.bsa == own) {
        d.drop = Drop::OwnSource;
        return;
    }
    // The interface the daemon knows the port by: its aggregate, if any.
    uint32_t logical = in.aggregate != 0 ? in.aggregate : in.ifIndex;
    const sim::Vsi* vsi = vsiByIsid(m, h.isid);
    const sim::UcEntry* uc = vsi != nullptr ? m.unicast(vsi->index, h.bsa) : nullptr;
    // Learning on a miss, before the service checks: the daemon makes its
    // own checks on what it is given.
    if (uc == nullptr || uc->port != logical) d.flags |= kToCpu;
    if (vsi == nullptr) {
        d.drop = Drop::NoVsi;
        return;
    }
    d.vsi = vsi->index;
    const sim::McEntry* mc = m.multicast(vsi->index);
    const sim::Interface* lif = m.findIf(logical);
    if (vsi->down)
        d.drop = Drop::VsiDown;
    else if (mc == nullptr || std::find(mc->ports.begin(), mc->ports.end(), logical) == mc->ports.end())
        d.drop = Drop::NotVsiPort;
    else if (h.bvid != mc->bvlan)
        d.drop = Drop::BVlanMismatch;
    else if (lif == nullptr || !forwarding(*lif, h.bvid))
        d.drop = Drop::StpBlocked;
    if (d.drop != Drop::None) return;
    if (uc != nullptr) d.hit = sim::UcKey{vsi->index, h.bsa};
    if (h.bda != own && h.bda != sim::groupAddress(vsi->isid)) {
        d.drop = Drop::NotForUs;
        return;
    }
    if (isGroup(h.csa)) {
        d.drop = Drop::GroupSource;
        return;
    }
    d.learn = Learn{vsi->index, h.csa, Location{.bmac = h.bsa, .remote = true}};
    d.customerOffset = kBackboneHeaderLen;
    if (const Location* at = isGroup(h.cda) ? nullptr : sw.customers.find(vsi->index, h.cda)) {
        if (at->remote) {
            d.drop = Drop::SplitHorizon;
            return;
        }
        if (circuitUp(m, at->port, vsi->index)) {
            addEgress(d, at->port, Payload::Customer);
            d.flags |= kDecapsulated | kUnicast;
            return;
        }
    }
    d.flags |= kDecapsulated | kFlooded;
    floodCircuits(m, vsi->index, 0, Payload::Customer, d);
}

}  // namespace

std::span<const uint8_t> Decision::bytes(Payload p, std::span<const uint8_t> frame) const
{
    switch (p) {
    case Payload::Customer: return frame.subspan(std::min(customerOffset, frame.size()));
    case Payload::Backbone: return backbone;
    default: return frame;
    }
}

void decide(const SwitchView& sw, uint32_t port, std::span<const uint8_t> frame, Decision& d)
{
    d.ingress = port;
    d.vsi.reset();
    d.drop = Drop::None;
    d.flags = 0;
    d.learn.reset();
    d.hit.reset();
    d.out.clear();
    d.customerOffset = 0;
    const sim::Interface* in = sw.model.findIf(port);
    if (!canSend(in) || in->isAggregate()) {
        d.drop = Drop::PortDown;
        return;
    }
    if (auto vsi = sw.model.bridge().circuitVsi(port))
        fromCircuit(sw, port, *vsi, frame, d);
    else if (sw.model.pbbMode(port))
        fromBackbone(sw, *in, frame, d);
    else
        d.drop = Drop::NoService;
}

}  // namespace dp
