// The forwarding decision, one row per rule: where a frame goes, what it
// counts as, and why it is dropped.
#include <functional>
#include <tuple>

#include "platform/sti.h"
#include "tests/unit/dataplane/dataplane_test.h"

namespace {

using namespace dptest;
using dp::Drop;
using dp::Payload;
using Port = uint32_t Lab::*;

struct Row {
    const char* name;
    Port in;
    Bytes frame;
    Drop drop;
    uint8_t flags;
    std::vector<std::pair<Port, Payload>> out;
    std::function<void(Lab&)> setup = nullptr;
};

constexpr uint8_t kEnc = dp::kEncapsulated, kDec = dp::kDecapsulated, kUni = dp::kUnicast, kFl = dp::kFlooded,
                  kCpu = dp::kToCpu;
constexpr auto AsRx = Payload::AsReceived, Cust = Payload::Customer, Bb = Payload::Backbone;

Bytes fromR(const Mac& bsa, const Mac& cda, const Mac& bda = sim::groupAddress(100), uint16_t bvid = 20,
            uint32_t isid = 100)
{
    return backbone(bda, bsa, bvid, isid, customer(cda, kH));
}

Bytes cut(Bytes f, size_t from, size_t to) { return Bytes(f.begin() + from, f.begin() + to); }

Bytes tagged(uint16_t outer, uint16_t inner)
{
    Bytes f = customer(kA, kH, outer);
    f.insert(f.begin() + 14, {0x00, 0x14, static_cast<uint8_t>(inner >> 8), static_cast<uint8_t>(inner)});
    return f;
}

void run(const std::vector<Row>& rows)
{
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Lab lab;
        if (r.setup) r.setup(lab);
        const dp::Decision& d = lab.decide(lab.*r.in, r.frame);
        EXPECT_EQ(dp::dropName(d.drop), dp::dropName(r.drop));
        EXPECT_EQ(d.flags, r.flags);
        std::vector<dp::Egress> want;
        for (const auto& [p, what] : r.out) want.push_back({lab.*p, what});
        EXPECT_EQ(d.out, want);
    }
}

using Out = std::vector<std::pair<Port, Payload>>;
const Out kEverywhere{{&Lab::c2, AsRx}, {&Lab::u1, Bb}, {&Lab::u2, Bb}, {&Lab::m2, Bb}};
const Out kCircuits{{&Lab::c1, Cust}, {&Lab::c2, Cust}};

TEST(Decide, CustomerFrames)
{
    run({
        {"unknown C-DA: other circuits, every uplink", &Lab::c1, customer(kH, kA), Drop::None, kFl | kEnc, kEverywhere},
        {"C-DA on another circuit", &Lab::c1, customer(kA, kH), Drop::None, kUni, {{&Lab::c2, AsRx}}},
        {"C-DA on the ingress circuit", &Lab::c2, customer(kA, kH), Drop::SamePort, 0, {}},
        {"C-DA behind a programmed bridge", &Lab::c1, customer(kB, kH), Drop::None, kEnc | kUni, {{&Lab::u1, Bb}}},
        {"C-DA behind a bridge not programmed", &Lab::c1, customer(kC, kH), Drop::None, kFl | kEnc, kEverywhere},
        {"the programmed port is down: flooded", &Lab::c1, customer(kB, kH), Drop::None, kFl | kEnc,
         {{&Lab::c2, AsRx}, {&Lab::u2, Bb}, {&Lab::m2, Bb}}, [](Lab& l) { l.m.setLink(l.u1, false); }},
        {"the other circuit is down", &Lab::c1, customer(kA, kH), Drop::None, kFl | kEnc,
         {{&Lab::u1, Bb}, {&Lab::u2, Bb}, {&Lab::m2, Bb}}, [](Lab& l) { l.m.setLink(l.c2, false); }},
        {"spanning tree blocks an uplink, an aggregate member is down", &Lab::c1, customer(kH, kA), Drop::None,
         kFl | kEnc, {{&Lab::c2, AsRx}, {&Lab::u1, Bb}, {&Lab::m1, Bb}},
         [](Lab& l) { l.m.setStpState(l.u2, 20, STI_STATE_DISCARDING), l.m.setLink(l.m2, false); }},
        {"no multicast entry: nothing to the backbone", &Lab::c3, customer(kH, kA), Drop::None, kFl, {}},
        {"group C-SA", &Lab::c1, customer(kA, kBcast), Drop::GroupSource, 0, {}},
        {"runt", &Lab::c1, Bytes(13, 0), Drop::Runt, 0, {}},
        {"802.1Q tag", &Lab::c1, tagged(0x8100, 0x0800), Drop::Tagged, 0, {}},
        {"stacked tags", &Lab::c1, tagged(0x88a8, 0x8100), Drop::StackedTags, 0, {}},
        {"VSI down", &Lab::c1, customer(kA, kH), Drop::VsiDown, 0, {}, [](Lab& l) { l.m.setVsiDown(1, true); }},
        {"VSI gone", &Lab::c3, customer(kA, kH), Drop::NoVsi, 0, {}, [](Lab& l) { l.m.deleteVsi(2); }},
        {"ingress down", &Lab::c1, customer(kA, kH), Drop::PortDown, 0, {}, [](Lab& l) { l.m.setLink(l.c1, false); }},
        {"neither circuit nor PBB", &Lab::c1, customer(kA, kH), Drop::NoService, 0, {},
         [](Lab& l) { l.m.bridge().detach(l.c1); }},
    });
}

TEST(Decide, BackboneFrames)
{
    run({
        {"group B-DA from a programmed bridge", &Lab::u1, fromR(kR1, kH), Drop::None, kDec | kFl, kCircuits},
        {"from a bridge not programmed: to the CPU too", &Lab::u1, fromR(kR3, kH), Drop::None, kDec | kFl | kCpu,
         kCircuits},
        {"programmed on another port: to the CPU", &Lab::u2, fromR(kR1, kH), Drop::None, kDec | kFl | kCpu, kCircuits},
        {"on an aggregate member", &Lab::m2, fromR(kR3, kA, kOwn), Drop::None, kDec | kUni | kCpu, {{&Lab::c2, Cust}}},
        {"to us, C-DA on a circuit", &Lab::u1, fromR(kR1, kA, kOwn), Drop::None, kDec | kUni, {{&Lab::c2, Cust}}},
        {"C-DA behind the backbone", &Lab::u1, fromR(kR1, kC), Drop::SplitHorizon, 0, {}},
        {"I-SID of no VSI", &Lab::u1, fromR(kR1, kA, kOwn, 20, 999), Drop::NoVsi, kCpu, {}},
        {"VSI down", &Lab::u1, fromR(kR1, kA), Drop::VsiDown, 0, {}, [](Lab& l) { l.m.setVsiDown(1, true); }},
        {"port in no multicast entry", &Lab::u3, fromR(kR1, kA), Drop::NotVsiPort, kCpu, {}},
        {"other B-VLAN", &Lab::u1, fromR(kR1, kA, kOwn, 21), Drop::BVlanMismatch, 0, {}},
        {"spanning tree blocks", &Lab::u1, fromR(kR1, kA), Drop::StpBlocked, 0, {},
         [](Lab& l) { l.m.setStpState(l.u1, 20, STI_STATE_LEARNING); }},
        {"B-DA of another bridge", &Lab::u1, fromR(kR1, kA, kR2), Drop::NotForUs, 0, {}},
        {"group B-SA", &Lab::u1, fromR(sim::groupAddress(100), kA), Drop::GroupSource, 0, {}},
        {"our own B-SA: a loop", &Lab::u1, fromR(kOwn, kA), Drop::OwnSource, 0, {}},
        {"group C-SA", &Lab::u1, backbone(kOwn, kR1, 20, 100, customer(kA, kBcast)), Drop::GroupSource, 0, {}},
        {"no B-tag", &Lab::u1, cut(fromR(kR1, kA), 4, 60), Drop::BadTag, 0, {}},
        {"B-VID 0", &Lab::u1, fromR(kR1, kA, kOwn, 0), Drop::BadTag, 0, {}},
        {"stacked tags", &Lab::u1, tagged(0x88a8, 0x8100), Drop::StackedTags, 0, {}},
        {"not I-tagged", &Lab::u1, customer(kA, kH), Drop::NotItagged, 0, {}},
        {"runt: no room for the customer header", &Lab::u1, cut(fromR(kR1, kA), 0, 35), Drop::Runt, 0, {}},
        {"PBB mode off", &Lab::u1, fromR(kR1, kA), Drop::NoService, 0, {},
         [](Lab& l) { l.m.setPbbMode(l.u1, L2VPN_IF_PBB_DISABLE); }},
    });
}

TEST(Decide, TheBackboneFrameCarriesTheCustomerFrameWhole)
{
    Lab lab;
    Bytes inner = customer(kB, kH, 0x0800, 2);
    const dp::Decision& d = lab.decide(lab.c1, inner);
    Bytes want = {0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 0xaa, 0x88, 0xa8, 0, 20, 0x88, 0xe7, 0, 0, 0, 100};
    want.insert(want.end(), inner.begin(), inner.end());
    EXPECT_EQ(d.backbone, want);
    Bytes in = fromR(kR1, kA, kOwn);
    lab.decide(lab.u1, in);
    EXPECT_EQ(Bytes(d.bytes(Payload::Customer, in).begin(), d.bytes(Payload::Customer, in).end()), customer(kA, kH));
}

}  // namespace
