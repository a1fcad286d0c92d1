// Multicast ports: the port rule, a port the driver refuses leaving the
// table as it was, and the last port taking the entry with it. Ports
// joining and leaving one by one are checked by the interface-event tests.
#include "ctl_test.h"

#include <functional>

namespace ctltest {
namespace {

struct RuleCase {
    const char* name;
    std::function<void(sim::SwitchModel&, uint32_t port)> before;  // on the switch, before the control block
    std::function<void(PbbVsi*)> vsi;
    bool eligible;
};

const RuleCase kRules[] = {
    {"Eligible", [](sim::SwitchModel&, uint32_t) {}, [](PbbVsi*) {}, true},
    {"VsiDown", [](sim::SwitchModel&, uint32_t) {}, [](PbbVsi* v) { v->usShutdownFlag = 1; }, false},
    {"NoBVlan", [](sim::SwitchModel&, uint32_t) {}, [](PbbVsi* v) { v->usBVlan = PBB_BVLAN_NONE; }, false},
    {"BVlanNotCarried", [](sim::SwitchModel&, uint32_t) {}, [](PbbVsi* v) { v->usBVlan = 30; }, false},
    {"LinkDown", [](sim::SwitchModel& sw, uint32_t p) { sw.setLink(p, false); }, [](PbbVsi*) {}, false},
    {"AggregateMember", [](sim::SwitchModel& sw, uint32_t p) { sw.joinAggregate(sw.addAggregate("agg-1"), p); },
     [](PbbVsi*) {}, false},
};

class PortRule : public Ctl, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(PortRule, DecidesWhetherAnOfferedUplinkBecomesAPort)
{
    GetParam().before(*sw, a);
    PbbVsi* v = vsi(1, "vsi-a", 1001);
    GetParam().vsi(v);
    attach(1, a);
    EXPECT_EQ(_pbb_ctl_IsNeedAddMcPwPort(v, PBB_ifcb_Get(a)), GetParam().eligible ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Ctl, PortRule, ::testing::ValuesIn(kRules), byName);

TEST_F(Ctl, RefusedPortsLeaveTheTableAsItWas)
{
    vsi(1, "vsi-a", 1001);
    for (uint32_t p : {a, b}) attach(1, p);

    // The driver refuses a new entry: nothing anywhere.
    plat::testing::failCall("L2VPN_AddMinMEntry", 7);
    PBB_ctl_ActiveMcPort(1, a);
    expectMc(1, {});

    PBB_ctl_ActiveMcPort(1, a);
    plat::testing::failCall("L2VPN_AddMinMEntry", 7);
    PBB_ctl_ActiveMcPort(1, b);
    expectMc(1, {a});

    // A failed commit of the new port is refused as well.
    plat::testing::failCall("L2VPN_FlushPwEntry", 7);
    PBB_ctl_ActiveMcPort(1, b);
    EXPECT_EQ(tableMc(1), std::vector<uint32_t>{a});

    // Withdrawing a port the entry lacks calls nothing; withdrawing its last
    // port deletes the whole entry, with no port deletion.
    const uint64_t mark = sw->programCalls().last();
    PBB_ctl_DeactiveMcPort(1, b);
    EXPECT_EQ(sw->programCalls().last(), mark);
    PBB_ctl_DeactiveMcPort(1, a);
    std::vector<uint32_t> ops;
    for (const sim::ProgramCall& call : sw->programCalls().since(mark))
        if (call.minm) ops.push_back(call.minm->op);
    EXPECT_EQ(ops, std::vector<uint32_t>{PBB_MINM_DEL_MCPW});
    expectMc(1, {});
}

}  // namespace
}  // namespace ctltest
