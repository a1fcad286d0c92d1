// Line-card reports: an entry leaves the slots that aged it or could not
// install it, comes back to those that cancel the ageing, and is withdrawn
// everywhere once no slot holds it.
#include "unit/l2vpn/l2vpn_test.h"

namespace l2vpntest {
namespace {

constexpr uint16_t kSlotA = 1, kSlotB = 3;  // the two MAC-in-MAC slots

class Ageing : public Adapter {
protected:
    void SetUp() override
    {
        Adapter::SetUp();
        if (HasFatalFailure()) return;
        addSecondMinmSlot();
        for (const Uc& e : {e1, e2}) learn(e);
    }
    static sim::Mac bmac(const Uc& e) { return {0, 0x11, 0x22, 0x33, 0, std::get<2>(e)}; }
    void report(std::vector<sim::ReportTlv> tlvs)
    {
        sw->sendReport(tlvs);
        serve();
    }
    static sim::AgeReport age(uint16_t slot, uint32_t type, std::vector<Uc> entries)
    {
        sim::AgeReport r{.slot = slot, .ageType = type, .vsi = 1, .isid = 1001};
        for (const Uc& e : entries) r.entries.emplace_back(bmac(e), std::get<1>(e));
        return r;
    }

    const Uc e1{1, kVlan, 1, 1}, e2{1, kVlan, 2, 2};
};

// Each entry of a no-hardware-resource report leaves its own slot; a
// cancelled ageing gives the slot back.
TEST_F(Ageing, AnEntryGoesWithItsLastSlot)
{
    auto entry = [](uint16_t slot, const Uc& e) {
        return sim::NoHardResEntry{.slot = slot, .bvlan = kVlan, .vsi = 1, .isid = 1001, .bmac = bmac(e)};
    };
    report({sim::NoHardResReport{{entry(kSlotA, e1), entry(kSlotB, e2)}}});
    expectUc({e1, e2});
    report({age(kSlotA, PBB_AGE_TYPE_AGED, {e2})});
    expectUc({e1});
    EXPECT_EQ(logged("Receive aged event from slot 1 with VsiIndex 1, I-SID 1001, Unicast Pseudo Wire number 1.").size(), 1u);
    EXPECT_EQ(logged("EVENT debug: 0     00:11:22:33:00:0210     ").size(), 1u)
        << "a MAC address is wider than its column";
    report({age(kSlotA, PBB_AGE_TYPE_CANCELLED, {e1})});
    EXPECT_EQ(logged("Receive cancelled_aged event from slot 1 with VsiIndex 1").size(), 1u);
    report({sim::NoHardResReport{{entry(kSlotB, e1)}}});
    expectUc({e1});  // slot A took it back
    report({age(kSlotA, PBB_AGE_TYPE_AGED, {e1})});
    expectUc({});
    EXPECT_EQ(logged("Receive NoHardResource event with Unicast Pseudo Wire number 2.").size(), 1u);
}

// Several TLVs in one message are handled in order; other types, empty
// reports, keys the table lacks and counts beyond the bytes received do no
// harm.
TEST_F(Ageing, OddReportsAreCutOrSkipped)
{
    // e1 aged on slot A in a report that claims 5000 entries and holds one.
    struct {
        L2VPN_AGE_MSG_S head;
        L2VPN_AGE_ENTRY_S entry;
    } cut{{kSlotA, 0, PBB_AGE_TYPE_AGED, 1, 1001, 5000}, {{0, 0x11, 0x22, 0x33, 0, 1}, kVlan}};
    const auto* bytes = reinterpret_cast<const uint8_t*>(&cut);
    const Uc otherVlan{1, 20, 2, 2};  // e2's B-MAC in another B-VLAN
    report({age(kSlotA, PBB_AGE_TYPE_AGED, {}), sim::RawTlv{7, {1, 2, 3}},
            sim::RawTlv{PBB_AGE_TLV_AGING, {bytes, bytes + sizeof cut}},
            sim::RawTlv{PBB_AGE_TLV_AGING, {1, 2, 3}}, age(kSlotB, PBB_AGE_TYPE_AGED, {e1, otherVlan}),
            age(kSlotA, PBB_AGE_TYPE_AGED, {otherVlan})});
    expectUc({e2});  // the claimed 5000 entries were cut to the one received
    EXPECT_EQ(logged("Unicast Pseudo Wire number 0.").size(), 1u);
    report({age(kSlotA, 9, {e2}), age(kSlotB, PBB_AGE_TYPE_AGED, {e2})});
    expectUc({e2});  // an unknown age type gives the slot back
    EXPECT_EQ(logged("Receive unknown event from slot 1").size(), 1u);
}

// A hang-up opens a new socket at once; when that fails, every second until
// it opens, said whatever the debug switches and in the status file.
TEST_F(Ageing, AHangUpReopensTheSocketAtOnceOrEverySecond)
{
    plat::testing::clearCalls();
    EXPECT_EQ(_pbb_l2vpn_ProcAgeMsg(PBB_EV_HUP, g_iAgeFd), 0u);
    EXPECT_EQ(plat::testing::countCalls("LIPC_Bind"), 1u) << "a new socket";
    report({age(kSlotA, PBB_AGE_TYPE_AGED, {e1})});
    expectUc({e1, e2});  // slot B still holds e1

    g_uiPbbDbgFlag = 0;
    plat::testing::failCall("LIPC_Socket", -1, 2);  // at once and on the first tick
    EXPECT_EQ(_pbb_l2vpn_ProcAgeMsg(PBB_EV_ERR, g_iAgeFd), 0u);
    EXPECT_EQ(g_iAgeFd, -1);
    EXPECT_EQ(logged("PBB_AGESOCK_WARNING warning: The ageing report socket was closed").size(), 1u);
    tick();
    EXPECT_EQ(g_iAgeFd, -1);
    tick();
    EXPECT_GE(g_iAgeFd, 0);
    EXPECT_EQ(logged("PBB_AGESOCK_NOTICE notice: The ageing report socket has been opened again").size(), 1u);
    std::string states;
    for (const auto& c : plat::testing::callsNamed("SERVICE_SetState"))
        if (c.args.rfind("name=AGE_SOCKET", 0) == 0) states += c.args.substr(22, 1);
    EXPECT_EQ(states, "oco");
    report({age(kSlotB, PBB_AGE_TYPE_AGED, {e1})});
    expectUc({e2});
}

}  // namespace
}  // namespace l2vpntest
