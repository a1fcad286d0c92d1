// A switch for the data-plane tests: circuits c1, c2 of VSI 1 (I-SID 100)
// and c3 of VSI 2 (I-SID 200), uplinks u1, u2 and aggregate agg (m1, m2)
// in VSI 1's multicast entry on B-VLAN 20, u3 in PBB mode but in no entry;
// remote bridge R1 programmed on u1. Customer A sits on c2, B behind R1,
// C behind R2 (not programmed).
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "platform/model/pbb_frame.h"
#include "platform/model/switch_model.h"
#include "tools/pbb-sim/dataplane/dataplane.h"
#include "tools/pbb-sim/dataplane/frame_layout.h"

namespace dptest {

using sim::Mac;
using Bytes = std::vector<uint8_t>;

const Mac kOwn{0x02, 0, 0, 0, 0, 0xaa}, kR1{0x02, 0, 0, 0, 0, 0x01}, kR2{0x02, 0, 0, 0, 0, 0x02},
    kR3{0x02, 0, 0, 0, 0, 0x03}, kA{0x00, 0x0a, 0, 0, 0, 0x0a}, kB{0x00, 0x0b, 0, 0, 0, 0x0b},
    kC{0x00, 0x0c, 0, 0, 0, 0x0c}, kH{0x00, 0x11, 0, 0, 0, 0x11}, kBcast{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

inline Bytes customer(const Mac& da, const Mac& sa, uint16_t type = 0x0800, size_t payload = 46)
{
    Bytes f(da.begin(), da.end());
    f.insert(f.end(), sa.begin(), sa.end());
    f.push_back(static_cast<uint8_t>(type >> 8));
    f.push_back(static_cast<uint8_t>(type));
    f.resize(f.size() + payload, 0x5a);
    return f;
}

inline Bytes backbone(const Mac& bda, const Mac& bsa, uint16_t bvid, uint32_t isid, const Bytes& inner)
{
    Bytes f;
    dp::encapsulate(f, bda, bsa, bvid, isid, inner);
    return f;
}

// A frame of R1 on VSI 1's group address: customer H to A.
inline Bytes fromR1() { return backbone(sim::groupAddress(100), kR1, 20, 100, customer(kA, kH)); }

struct Lab {
    sim::SwitchModel m;
    dp::CustomerTable customers;
    dp::Decision d;
    uint32_t c1, c2, c3, u1, u2, u3, m1, m2, agg;

    Lab()
    {
        m.addSlot(1, {.minm = true});
        m.addSlot(2, {.minm = true});
        for (auto [port, name, slot] : {std::tuple{&c1, "c1", 1}, {&c2, "c2", 1}, {&c3, "c3", 1}, {&u1, "u1", 2},
                                        {&u2, "u2", 2}, {&u3, "u3", 2}, {&m1, "m1", 2}, {&m2, "m2", 2}})
            *port = m.addPort(name, static_cast<uint16_t>(slot));
        agg = m.addAggregate("agg");
        m.joinAggregate(agg, m1);
        m.joinAggregate(agg, m2);
        m.addVsi(1, "red", 100);
        m.addVsi(2, "blue", 200);
        m.bridge().setAddress(kOwn);
        for (auto [port, vsi] : {std::pair{c1, 1u}, {c2, 1u}, {c3, 2u}}) m.bridge().attach(port, vsi);
        m.subscribe(sim::Subscription{.kind = sim::EventKind::L2vpn, .client = L2VPN_CLIENT_MINM});
        for (uint32_t p : {u1, u2, u3, m1, m2}) m.setPbbMode(p, L2VPN_IF_PBB_ENABLE);
        program(L2VPN_MINM_ADD_MC, 1, sim::groupAddress(100), {u1, u2, agg});
        program(L2VPN_MINM_ADD_UC, 1, kR1, {u1});
        customers.learn(1, kA, dp::Location{.port = c2}, 0);
        customers.learn(1, kB, dp::Location{.bmac = kR1, .remote = true}, 0);
        customers.learn(1, kC, dp::Location{.bmac = kR2, .remote = true}, 0);
    }

    // Programs and commits one entry of VSI 1 on B-VLAN 20 (or 2, I-SID 200).
    void program(uint32_t op, uint32_t vsi, const Mac& bmac, std::vector<uint32_t> ports)
    {
        sim::MinMRequest r{.client = L2VPN_CLIENT_MINM, .op = op, .ports = std::move(ports)};
        r.entry.uiVsiIndex = vsi;
        r.entry.uiISid = vsi == 1 ? 100 : 200;
        std::memcpy(r.entry.aucBMac, bmac.data(), 6);
        r.entry.uiBVlan = 20;
        ASSERT_EQ(m.program(r) + m.flush(), 0u);
    }

    const dp::Decision& decide(uint32_t port, const Bytes& frame)
    {
        dp::decide(dp::SwitchView{m, customers}, port, frame, d);
        return d;
    }
};

}  // namespace dptest
