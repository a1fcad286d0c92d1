// The data plane's forwarding decision, over a run of frames on the ports
// of one switch (circuits of two VSIs, uplinks, an aggregate, a port in PBB
// mode but in no entry, one blocked by spanning tree; remote bridges
// programmed on an uplink and on the aggregate), with learning carried from
// frame to frame and the clock moved now and then (ageing). The input is
// [port byte][2-byte length][frame]..., port byte 255 moving the clock by
// the length in milliseconds. Checked for every frame: a dropped frame
// goes nowhere; nothing goes back out of its ingress port, from the
// backbone back into it, or to a port that cannot send; what goes into
// the backbone is a well-formed frame of the VSI from this bridge carrying
// the ingress frame; the flags say what went where; no group address is
// learned.
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "platform/model/pbb_frame.h"
#include "tools/pbb-sim/dataplane/dataplane.h"
#include "tools/pbb-sim/dataplane/frame_layout.h"
#include "tools/simcmd/simcmd.h"

namespace {

const char* kTopology = R"(slot add 1 --minm
slot add 2 --minm
port add c1 1
port add c2 1
port add c3 1
port add u1 2
port add u2 2
port add u3 2
port add m1 2
port add m2 2
port add idle 2
agg add agg
agg join agg m1
agg join agg m2
vsi add 1 red 100
vsi add 2 blue 200
vsi add 3 gone 300 --down
bridge mac 02:00:00:00:00:aa
bridge age 1
ac add c1 red
ac add c2 red
ac add c3 blue
stp state u2 20 discarding
)";

void program(sim::SwitchModel& m, uint32_t op, uint32_t vsi, const sim::Mac& bmac, std::vector<uint32_t> ports)
{
    sim::MinMRequest r{.client = L2VPN_CLIENT_MINM, .op = op, .ports = std::move(ports)};
    r.entry.uiVsiIndex = vsi;
    r.entry.uiISid = vsi * 100;
    std::memcpy(r.entry.aucBMac, bmac.data(), 6);
    r.entry.uiBVlan = vsi * 10 + 10;
    FUZZ_CHECK(m.program(r) == 0 && m.flush() == 0);
}

sim::SwitchModel& lab()
{
    static sim::SwitchModel m;
    static bool built = [] {
        FUZZ_CHECK(simcmd::loadTopology(m, kTopology, "fuzz").status == 0);
        m.subscribe(sim::Subscription{.kind = sim::EventKind::L2vpn, .client = L2VPN_CLIENT_MINM});
        for (const char* p : {"u1", "u2", "u3", "m1", "m2"}) m.setPbbMode(m.ifIndexByName(p), L2VPN_IF_PBB_ENABLE);
        uint32_t u1 = m.ifIndexByName("u1"), u2 = m.ifIndexByName("u2"), agg = m.ifIndexByName("agg");
        program(m, L2VPN_MINM_ADD_MC, 1, sim::groupAddress(100), {u1, u2, agg});
        program(m, L2VPN_MINM_ADD_MC, 2, sim::groupAddress(200), {u1});
        program(m, L2VPN_MINM_ADD_UC, 1, {2, 0, 0, 0, 0, 1}, {u1});
        program(m, L2VPN_MINM_ADD_UC, 1, {2, 0, 0, 0, 0, 2}, {agg});
        m.setLink(m.ifIndexByName("m2"), false);
        return true;
    }();
    (void)built;
    return m;
}

bool canSend(const sim::SwitchModel& m, uint32_t port)
{
    const sim::Interface* i = m.findIf(port);
    return i != nullptr && i->present && i->active && i->linkUp && !i->isAggregate();
}

void check(const sim::SwitchModel& m, const dp::Decision& d, std::span<const uint8_t> frame)
{
    bool fromCircuit = m.bridge().circuitVsi(d.ingress).has_value();
    bool encapsulated = false;
    if (d.drop != dp::Drop::None) FUZZ_CHECK(d.out.empty() && (d.flags & ~dp::kToCpu) == 0);
    for (const dp::Egress& e : d.out) {
        FUZZ_CHECK(e.port != d.ingress && canSend(m, e.port) && d.vsi);
        if (e.payload == dp::Payload::Backbone) {
            FUZZ_CHECK(fromCircuit && m.pbbMode(e.port));
            dp::BackboneHeader h;
            FUZZ_CHECK(dp::readBackbone(d.backbone, h) == dp::Drop::None);
            FUZZ_CHECK(h.bsa == m.bridge().address() && h.isid == m.findVsi(*d.vsi)->isid);
            FUZZ_CHECK(d.backbone.size() == dp::kBackboneHeaderLen + frame.size() &&
                       std::memcmp(d.backbone.data() + dp::kBackboneHeaderLen, frame.data(), frame.size()) == 0);
            encapsulated = true;
        } else {
            FUZZ_CHECK(m.bridge().circuitVsi(e.port) == d.vsi);
            FUZZ_CHECK((e.payload == dp::Payload::Customer) == !fromCircuit);
            FUZZ_CHECK(d.bytes(e.payload, frame).size() >= dp::kEthHeaderLen);
        }
    }
    FUZZ_CHECK(((d.flags & dp::kEncapsulated) != 0) == encapsulated);
    FUZZ_CHECK(!((d.flags & dp::kUnicast) && (d.flags & dp::kFlooded)));
    FUZZ_CHECK(!(d.flags & dp::kUnicast) || d.out.size() == 1);
    FUZZ_CHECK(!(d.flags & dp::kToCpu) || (!fromCircuit && m.pbbMode(d.ingress)));
    if (d.learn) FUZZ_CHECK(!dp::isGroup(d.learn->mac) && d.learn->vsi == d.vsi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sim::SwitchModel& m = lab();
    std::vector<uint32_t> ports;
    for (const auto& [ifIndex, i] : m.interfaces()) ports.push_back(ifIndex);
    dp::DataPlane plane(m);
    int64_t now = 0;
    for (int frames = 0; size >= 3 && frames < 64; ++frames) {
        size_t len = std::min<size_t>(size - 3, static_cast<size_t>(data[1] << 8 | data[2]));
        std::span<const uint8_t> frame(data + 3, len);
        if (data[0] == 255) {
            now += static_cast<int64_t>(len) * 16;
            for (const sim::AgeReport& r : plane.age(now)) FUZZ_CHECK(!r.entries.empty());
        } else {
            check(m, plane.receive(ports[data[0] % ports.size()], frame, now), frame);
        }
        data += 3 + len;
        size -= 3 + len;
    }
    (void)plane.resumed();
    return 0;
}
