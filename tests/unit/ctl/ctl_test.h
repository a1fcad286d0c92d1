// The control logic over the in-process platform: a switch with PBB ports,
// the daemon's tables and databases, and views of what the driver, the
// table and the run database hold.
#pragma once

#include "daemon/pbb_common.h"
#include "daemon/pbb_ctl.h"
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "platform/dbm.h"
#include "platform/model/inproc.h"
#include "platform/testing.h"
#include "support/dbmread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <any>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace ctltest {

// A learned entry as every place holds it: VSI, B-VLAN, last B-MAC byte,
// ifIndex.
using Uc = std::tuple<uint32_t, uint16_t, uint8_t, uint32_t>;
using UcSet = std::set<Uc>;

inline uint32_t ignoreEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

using pbbtest::keysOfType;
using pbbtest::sortList;

// A parameterised case's test name: its row's name.
inline auto byName = [](const auto& info) { return std::string(info.param.name); };

struct Name {
    char s[PBB_VSI_NAME_LEN];
};

// What a list of the daemon's holds, in its order (nothing without a head).
template <typename Node, typename Head, typename Get>
auto walk(Head* head, Get get)
{
    std::vector<decltype(get(head->pstNext))> out;
    for (Node* n = head ? head->pstNext : nullptr; n && n != head; n = n->pstNext) out.push_back(get(n));
    return out;
}
inline std::vector<uint32_t> uplinks(uint32_t v)
{
    return walk<PbbUplink>(PBB_vsi_GetUplinkList(v), [](PbbUplink* n) { return n->uiIfIndex; });
}
inline std::vector<uint32_t> runVsis(uint32_t i)
{
    return walk<PbbIfVsiNode>(PBB_ifcb_GetRunVsiList(i), [](PbbIfVsiNode* n) { return n->uiVsiIndex; });
}
inline std::vector<std::string> cfgNames(uint32_t i)
{
    return walk<PbbIfVsiCfgNode>(PBB_ifcb_GetCfgVsiList(i), [](PbbIfVsiCfgNode* n) { return std::string(n->szVsiName); });
}
// The VLANs of an interface's control block (none without one).
inline std::set<uint16_t> vlansOf(uint32_t ifIndex)
{
    std::set<uint16_t> out;
    const PbbIfCb* cb = PBB_ifcb_Get(ifIndex);
    for (uint32_t v = 0; cb != nullptr && v <= cb->pstVlanMap->uiSize; ++v)
        if (Bitmap_Check(cb->pstVlanMap, v) == 1) out.insert(static_cast<uint16_t>(v));
    return out;
}

class Ctl : public ::testing::Test {
protected:
    static constexpr uint16_t kVlan = 10;

    void SetUp() override
    {
        plat::testing::reset();
        sw = &plat::inproc::reset();
        sw->setSlotRange(1, 3);
        sw->addSlot(1, {.minm = true});
        sw->addSlot(2, {.minm = false});
        sw->setMaxVsiNum(64);
        for (auto* p : {&a, &b, &c}) {
            *p = sw->addPort("eth-1/0/" + std::to_string(p - &a + 1), 1);
            sw->setVlans(*p, {10, 20});
        }
        sw->addVsi(1, "vsi-a", 1001);
        sw->addVsi(2, "vsi-b", 1002);
        g_iL2vpnEvtFd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 0, PBB_L2VPN_CLIENT, ignoreEvent);
        ASSERT_GE(g_iL2vpnEvtFd, 0);
        ASSERT_EQ(PBB_vsi_Init() + PBB_ifcb_Init() + PBB_ucpw_Init() + PBB_mcpw_Init() + PBB_dbmrecover_Init(), 0u);
    }
    void TearDown() override
    {
        PBB_dbmrecover_Exit();
        PBB_mcpw_Exit();
        PBB_ucpw_Exit();
        PBB_ifcb_Exit();
        PBB_vsi_Exit();
        (void)L2VPN_Deregister(g_iL2vpnEvtFd);
        g_iL2vpnEvtFd = PBB_INVALID_FD;
        plat::testing::reset();
    }

    // A VSI of the module as the daemon knows it.
    PbbVsi* vsi(uint32_t index, const char* name, uint32_t isid, uint16_t bvlan = kVlan)
    {
        PbbVsi* v = PBB_vsi_CreateVsi(index);
        memcpy(v->szVsiName, name, strnlen(name, PBB_VSI_NAME_LEN - 1));
        PBB_vsi_SetISid(index, isid);
        v->usBVlan = bvlan;
        return v;
    }
    // ifIndex serves the VSI (the lists only; nothing is programmed).
    void attach(uint32_t vsiIndex, uint32_t ifIndex)
    {
        ASSERT_NE(PBB_ifcb_Create(ifIndex), nullptr);
        PBB_ifcb_AddRunVsiNode(ifIndex, vsiIndex);
        PBB_vsi_AddUplink(vsiIndex, ifIndex);
    }
    // Learned as the learning path does it: driver, table, database.
    void learn(const Uc& e)
    {
        auto [v, vlan, last, ifIndex] = e;
        const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, vlan == 20 ? uint8_t(0x20) : uint8_t(0), last};
        const uint8_t cmac[6] = {};
        ASSERT_EQ(PBB_l2vpn_AddUcPw(v, 1000 + v, vlan, ifIndex, mac, cmac), 0u);
        ASSERT_EQ(PBB_ucpw_Add(v, 1000 + v, vlan, mac, ifIndex), PBB_OK);
        PBB_dbmsave_AddUcPw(v, 1000 + v, vlan, mac, ifIndex);
    }

    static Uc ucOf(uint32_t v, uint32_t vlan, const uint8_t* mac, uint32_t ifIndex)
    {
        return {v, static_cast<uint16_t>(vlan), mac[5], ifIndex};
    }
    static UcSet tableUc()
    {
        UcSet out;
        for (PbbUcPw* e = PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr); e; e = PBB_ucpw_GetNext(PBB_UCPW_GET_ALL, e))
            out.insert(ucOf(e->uiVsiIndex, e->usBVlan, e->aucBMac, e->uiIfIndex));
        return out;
    }
    static UcSet dbUc()
    {
        UcSet out;
        for (const auto& key : keysOfType(g_hPbbLocalRunDB, PBB_DBM_VT_UCPW))
            for (const auto& r : sortList<PbbDbmUcPwRec>(g_hPbbLocalRunDB, key))
                out.insert(ucOf(r.uiVsiIndex, r.usBVlan, r.aucBMac, r.uiIfIndex));
        return out;
    }
    // The same entries in all three places.
    void expectUc(const UcSet& want)
    {
        UcSet driver;
        for (const auto& [key, e] : sw->fib().committed().uc) driver.insert(ucOf(e.vsi, e.bvlan, e.bmac.data(), e.port));
        EXPECT_EQ(driver, want) << "driver";
        EXPECT_EQ(tableUc(), want) << "table";
        EXPECT_EQ(dbUc(), want) << "database";
    }

    // Ports of the VSI's multicast entry in the driver and in the table
    // (empty: no entry; the table's "none" is told apart by mcExists).
    std::vector<uint32_t> driverMc(uint32_t v) const
    {
        const sim::McEntry* mc = sw->multicast(v);
        return mc ? mc->ports : std::vector<uint32_t>{};
    }
    static std::vector<uint32_t> tableMc(uint32_t v)
    {
        PbbMcPw* mc = PBB_mcpw_Get(v);
        auto out = walk<PbbMcPortLink>(mc ? &mc->stPortList : nullptr, [](PbbMcPortLink* l) { return PBB_mcpw_PortOf(l)->uiIfIndex; });
        EXPECT_EQ(mc != nullptr ? mc->uiPortNum : 0u, out.size());
        return out;
    }
    // Driver (sorted, as the table keeps them) and table agree on the ports.
    void expectMc(uint32_t v, std::vector<uint32_t> want)
    {
        auto drv = driverMc(v);
        std::sort(drv.begin(), drv.end());
        EXPECT_EQ(drv, want) << "driver";
        EXPECT_EQ(tableMc(v), want) << "table";
        EXPECT_EQ(sw->fib().working().mc.count(v), want.empty() ? 0u : 1u) << "nothing left staged";
    }

    static std::vector<Name> names(std::initializer_list<const char*> list)
    {
        std::vector<Name> out(list.size());
        for (size_t i = 0; i < list.size(); ++i) memcpy(out[i].s, list.begin()[i], strnlen(list.begin()[i], PBB_VSI_NAME_LEN - 1));
        return out;
    }
    static const char (*raw(const std::vector<Name>& v))[PBB_VSI_NAME_LEN]
    {
        return reinterpret_cast<const char(*)[PBB_VSI_NAME_LEN]>(v.data());
    }

    pbbtest::PlatformDirs dirs;
    sim::SwitchModel* sw = nullptr;
    uint32_t a = 0, b = 0, c = 0;
};

}  // namespace ctltest
