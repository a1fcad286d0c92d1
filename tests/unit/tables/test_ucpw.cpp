// Unicast pseudo-wire table over the in-process switch: the five indexes
// and their walks, paging by B-MAC, lookups by key and the interfaces'
// list heads (under churn in the randomised test), and start-up failures. What each bulk
// deletion removes is checked by the control tests' resets, age status by
// the ageing and slot tests.
#include "daemon/pbb_common.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_ucpw.h"
#include "platform/ifm.h"
#include "platform/model/inproc.h"
#include "platform/testing.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Mac = std::array<uint8_t, 6>;

Mac mac(uint8_t last) { return Mac{0, 0, 0, 0, 0, last}; }

// The entries of a walk, in its order.
std::vector<PbbUcPw*> entries(uint32_t type, PbbUcPwFilter f = {})
{
    std::vector<PbbUcPw*> out;
    for (PbbUcPw* p = PBB_ucpw_GetFirst(type, &f); p != nullptr && out.size() < 10000; p = PBB_ucpw_GetNext(type, p))
        out.push_back(p);
    return out;
}

// Last B-MAC byte of each entry of a walk.
std::vector<int> walk(uint32_t type, uint32_t vsi = 0, uint16_t vlan = 0, uint32_t ifIndex = 0)
{
    std::vector<int> out;
    for (PbbUcPw* p : entries(type, {vsi, vlan, ifIndex})) out.push_back(p->aucBMac[5]);
    return out;
}

class UcPw : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::testing::reset();
        auto& sw = plat::inproc::reset();
        sw.setSlotRange(1, 6);
        sw.addSlot(1, {.minm = false});                   // cannot do PBB
        sw.addSlot(2, {.minm = true});
        sw.addSlot(3, {.minm = true});
        sw.addSlot(4, {.normal = false, .minm = true});   // faulty board
        sw.addSlot(5, {.present = false, .minm = true});  // empty slot
        sw.setMaxVsiNum(16);
        sw.setMaxVlanId(4094);
        p1 = sw.addPort("eth-2/0/1", 2);
        p2 = sw.addPort("eth-2/0/2", 2);
        p3 = sw.addPort("eth-3/0/1", 3);
    }
    void TearDown() override
    {
        PBB_ucpw_Exit();
        g_bIsVsiShare = 0;
    }
    void init() { ASSERT_EQ(PBB_ucpw_Init(), PBB_OK); }
    PbbUcPw* add(uint32_t vsi, uint16_t vlan, const Mac& m, uint32_t ifIndex, uint32_t isid = 1000)
    {
        EXPECT_EQ(PBB_ucpw_Add(vsi, isid, vlan, m.data(), ifIndex), PBB_OK);
        return PBB_ucpw_Get(vsi, vlan, m.data());
    }
    // Every entry is in each of its indexes exactly once, and the counts agree.
    static void expectConsistent()
    {
        const auto all = entries(PBB_UCPW_GET_ALL);
        for (PbbUcPw* p : all) {
            for (uint32_t type : {PBB_UCPW_GET_BY_VSI, PBB_UCPW_GET_BY_IF, PBB_UCPW_GET_BY_VLAN}) {
                const auto list = entries(type, {p->uiVsiIndex, p->usBVlan, p->uiIfIndex});
                EXPECT_EQ(std::count(list.begin(), list.end(), p), 1) << "walk type " << type;
            }
            EXPECT_NE(PBB_ucpw_Get(p->uiVsiIndex, p->usBVlan, p->aucBMac), nullptr);
        }
        const auto n = static_cast<uint32_t>(all.size());
        EXPECT_EQ(n, PBB_ucpw_GetTotalNum());
        uint32_t sum = 0;
        for (uint32_t v = 0; v <= 16; ++v) sum += PBB_ucpw_GetNumByVsi(v);
        EXPECT_EQ(sum, n);
        EXPECT_EQ(PBB_ucpw_IsEmpty(), n == 0 ? 1u : 0u);
    }

    uint32_t p1 = 0, p2 = 0, p3 = 0;
};

TEST_F(UcPw, WalksOfEveryTypeInTheirOrderUpToTheLastVsiAndVlan)
{
    init();
    EXPECT_TRUE(walk(PBB_UCPW_GET_ALL).empty());
    add(1, 100, mac(3), p1);
    add(1, 100, mac(1), p1);
    add(1, 100, mac(2), p1);
    add(2, 100, mac(5), p2);
    add(1, 200, mac(4), p2);
    add(2, 200, mac(6), p1);
    // The VSI array has one head more than the VSI count; VLAN heads run to the highest VLAN ID.
    add(16, 4094, mac(7), p3);
    add(0, 0, mac(8), p3);
    EXPECT_EQ(walk(PBB_UCPW_GET_BY_VSI, 1), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(walk(PBB_UCPW_GET_BY_IF, 0, 0, p1), (std::vector<int>{6, 2, 1, 3}));
    EXPECT_EQ(walk(PBB_UCPW_GET_BY_VLAN, 0, 100), (std::vector<int>{5, 2, 1, 3}));
    EXPECT_EQ(walk(PBB_UCPW_GET_BY_VLAN, 0, 0), (std::vector<int>{8}));
    EXPECT_EQ(walk(PBB_UCPW_GET_BY_VLAN_IF, 0, 100, p1), (std::vector<int>{2, 1, 3}));
    EXPECT_EQ(walk(PBB_UCPW_GET_BY_IF_VSI, 1, 0, p1), (std::vector<int>{2, 1, 3}));
    EXPECT_EQ(walk(PBB_UCPW_GET_BY_IF_VSI, 2, 0, p1), (std::vector<int>{6}));
    EXPECT_EQ(walk(PBB_UCPW_GET_ALL), (std::vector<int>{8, 7, 6, 4, 5, 2, 1, 3}));
    // One index beyond either array: refused, and nothing is found or
    // deleted there.
    EXPECT_EQ(PBB_ucpw_Add(17, 1000, 10, mac(9).data(), p1), PBB_ERR);
    EXPECT_EQ(PBB_ucpw_Add(1, 1000, 4095, mac(9).data(), p1), PBB_ERR);
    EXPECT_TRUE(walk(PBB_UCPW_GET_BY_VSI, 17).empty());
    EXPECT_TRUE(walk(PBB_UCPW_GET_BY_VLAN_IF, 0, 4095, p1).empty());
    EXPECT_EQ(PBB_ucpw_GetNumByVsi(17) + PBB_ucpw_IsEmptyByVlan(4095), 1u);
    PBB_ucpw_DeleteByVsi(17);
    PBB_ucpw_DeleteByVlan(0xFFFF);
    expectConsistent();
}

TEST_F(UcPw, VsiListOrdersBytewiseKeepsEqualBMacsInArrivalOrderAndPagesAscending)
{
    init();
    const Mac zero{}, hi{0x80, 0, 0, 0, 0, 0x10}, mid{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x20}, lo{0, 0, 0, 0, 1, 0x30};
    PbbUcPw* eHi = add(1, 10, hi, p1);
    PbbUcPw* eLo = add(1, 10, lo, p1);
    PbbUcPw* eMid = add(1, 10, mid, p1);
    // Same B-MAC on other B-VLANs: all stay, the later ones behind.
    PbbUcPw* eMid2 = add(1, 20, mid, p2);
    PbbUcPw* eMid3 = add(1, 30, mid, p3);
    add(2, 10, mac(0x15), p2);  // another VSI is not paged
    EXPECT_EQ(entries(PBB_UCPW_GET_BY_VSI, {1, 0, 0}), (std::vector<PbbUcPw*>{eLo, eMid, eMid2, eMid3, eHi}));
    PBB_ucpw_Delete(eMid);
    EXPECT_EQ(entries(PBB_UCPW_GET_BY_VSI, {1, 0, 0}), (std::vector<PbbUcPw*>{eLo, eMid2, eMid3, eHi}));

    // Pages are strictly greater, over the whole address.
    EXPECT_EQ(PBB_ucpw_GetNextByIndex(1, zero.data()), eLo);
    EXPECT_EQ(PBB_ucpw_GetNextByIndex(1, lo.data()), eMid2);
    EXPECT_EQ(PBB_ucpw_GetNextByIndex(1, Mac{0x7F, 0xFF, 0, 0, 0, 0}.data()), eHi);
    EXPECT_EQ(PBB_ucpw_GetNextByIndex(1, hi.data()), nullptr);
    // An all-zero B-MAC is first in the list but never after the zero cursor.
    PbbUcPw* eZero = add(1, 10, zero, p3);
    EXPECT_EQ(entries(PBB_UCPW_GET_BY_VSI, {1, 0, 0}).front(), eZero);
    EXPECT_EQ(PBB_ucpw_GetNextByIndex(1, zero.data()), eLo);
    expectConsistent();
}

// Lookups of other VSIs and B-VLANs, and in shared-VSI mode, are compared
// with plain walks by the randomised test.
TEST_F(UcPw, LookupMissesOnEveryByteOfTheBMacAndFindsTheNewestDuplicate)
{
    init();
    const Mac m{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    PbbUcPw* e3 = add(3, 100, m, p1, 7);
    add(7, 100, m, p2, 9);
    // One differing byte in each 16-bit half of the B-MAC misses.
    for (int i = 0; i < 6; ++i) {
        Mac other = m;
        other[i] ^= 0x01;
        EXPECT_EQ(PBB_ucpw_Get(3, 100, other.data()), nullptr) << "byte " << i;
    }
    // A duplicate key is kept; the newest is found first.
    PbbUcPw* newer = add(3, 100, m, p2, 8);
    EXPECT_EQ(newer->uiISid, 8u);
    PBB_ucpw_Delete(newer);
    EXPECT_EQ(PBB_ucpw_Get(3, 100, m.data()), e3);
}

// Seeded random adds and deletions, by every deletion path, over five VSIs
// and four B-VLANs with few distinct B-MACs (one B-MAC on several B-VLANs,
// exact duplicate keys), past the size at which the hash grows. After each
// step a page and a lookup are compared with plain walks of the lists, and
// a VSI's list must ascend with equal B-MACs in the order they were added.
TEST_F(UcPw, RandomisedPagesAndLookupsAnswerAsPlainWalks)
{
    const uint32_t ports[] = {p1, p2, p3};
    const uint16_t vlans[] = {10, 20, 30, 4094};
    const uint32_t vsis[] = {0, 1, 2, 3, 16};
    for (uint16_t share : {0, 1}) {
        SCOPED_TRACE(share);
        g_bIsVsiShare = share;
        init();
        std::mt19937 rng(1206u + share);
        auto pick = [&rng](size_t n) { return static_cast<uint32_t>(rng() % n); };
        std::vector<PbbUcPw*> live;
        uint32_t added = 0;  // each entry's I-SID is its place in the order of adding
        auto less = [](const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, 6) < 0; };
        auto dropIf = [&](auto pred) { live.erase(std::remove_if(live.begin(), live.end(), pred), live.end()); };
        auto someMac = [&] {
            if (!live.empty() && pick(3) != 0) {
                Mac m;
                std::copy_n(live[pick(live.size())]->aucBMac, 6, m.begin());
                m[5] = static_cast<uint8_t>(m[5] + pick(3) - 1);
                return m;
            }
            return Mac{0x02, static_cast<uint8_t>(pick(2)), 0, 0, static_cast<uint8_t>(pick(16)),
                       static_cast<uint8_t>(pick(256))};
        };
        const std::pair<uint32_t, void (*)(const PbbUcPw&)> bulk[] = {
            {1, [](const PbbUcPw& e) { PBB_ucpw_DeleteByVsi(e.uiVsiIndex); }},
            {2, [](const PbbUcPw& e) { PBB_ucpw_DeleteByVlan(e.usBVlan); }},
            {6, [](const PbbUcPw& e) { PBB_ucpw_DeleteByVlanIf(e.usBVlan, e.uiIfIndex); }},
            {4, [](const PbbUcPw& e) { PBB_ucpw_DeleteByIf(e.uiIfIndex); }},
            {5, [](const PbbUcPw& e) { PBB_ucpw_DeleteByIfVsi(e.uiIfIndex, e.uiVsiIndex); }},
            {0, [](const PbbUcPw&) { PBB_ucpw_DeleteAll(); }},
        };
        for (uint32_t step = 0; step < 9000; ++step) {
            // First mostly adds (the hash grows at 4,097 entries), then churn.
            uint32_t r = step < 6000 ? pick(97) : pick(100);
            if (step < 6000 ? r < 87 : r < 50) {
                Mac m = someMac();
                uint32_t vsi = vsis[pick(5)];
                ASSERT_EQ(PBB_ucpw_Add(vsi, ++added, vlans[pick(4)], m.data(), ports[pick(3)]), PBB_OK);
                live.push_back(PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr));
            } else if (r < 97 && !live.empty()) {
                PbbUcPw* victim = live[pick(live.size())];
                dropIf([victim](const PbbUcPw* e) { return e == victim; });
                PBB_ucpw_Delete(victim);
            } else if (!live.empty()) {
                // Of the entries that share one entry's fields in the bits
                // of `same` (1 VSI, 2 B-VLAN, 4 interface); a whole-table
                // deletion (no bit) only once in four draws.
                const PbbUcPw e = *live[pick(live.size())];
                const auto& kind = bulk[pick(6)];
                const uint32_t same = kind.first;
                if (same != 0 || pick(4) == 0) {
                    dropIf([&](const PbbUcPw* x) {
                        return (!(same & 1) || x->uiVsiIndex == e.uiVsiIndex) &&
                               (!(same & 2) || x->usBVlan == e.usBVlan) && (!(same & 4) || x->uiIfIndex == e.uiIfIndex);
                    });
                    kind.second(e);
                }
            }
            ASSERT_EQ(PBB_ucpw_GetTotalNum(), live.size()) << "step " << step;
            // An interface keeps its list head exactly while it has entries.
            for (uint32_t port : ports) {
                void* head = nullptr;
                bool held = IF_GetPrivateData(g_ulPbb_IfUcPwHandle, port, &head) == 0 && head != nullptr;
                bool used = std::any_of(live.begin(), live.end(), [port](const PbbUcPw* e) { return e->uiIfIndex == port; });
                ASSERT_EQ(held, used) << "step " << step << ", interface " << port;
            }

            // The VSI's list: ascending, equal B-MACs in the order added.
            uint32_t vsi = vsis[pick(5)];
            auto list = entries(PBB_UCPW_GET_BY_VSI, {vsi, 0, 0});
            ASSERT_EQ(list.size(), PBB_ucpw_GetNumByVsi(vsi));
            for (size_t i = 1; i < list.size(); ++i) {
                ASSERT_FALSE(less(list[i]->aucBMac, list[i - 1]->aucBMac)) << "step " << step;
                if (std::memcmp(list[i]->aucBMac, list[i - 1]->aucBMac, 6) == 0) {
                    ASSERT_LT(list[i - 1]->uiISid, list[i]->uiISid) << "step " << step;
                }
            }
            // A page: the first entry of that list greater than the B-MAC.
            Mac probe = someMac();
            auto next = std::find_if(list.begin(), list.end(),
                                     [&](const PbbUcPw* e) { return less(probe.data(), e->aucBMac); });
            ASSERT_EQ(PBB_ucpw_GetNextByIndex(vsi, probe.data()), next == list.end() ? nullptr : *next)
                << "step " << step;
            // A lookup: the newest entry of the key, found first in its B-VLAN's list.
            uint16_t vlan = vlans[pick(4)];
            PbbUcPw* newest = nullptr;
            for (PbbUcPw* e : entries(PBB_UCPW_GET_BY_VLAN, {0, vlan, 0})) {
                if (std::memcmp(e->aucBMac, probe.data(), 6) == 0 && (share == 1 || e->uiVsiIndex == vsi)) {
                    newest = e;
                    break;
                }
            }
            ASSERT_EQ(PBB_ucpw_Get(vsi, vlan, probe.data()), newest) << "step " << step;
        }
        EXPECT_GT(g_pstPbb_BmacHashTbl->uiBuckets, PBB_UCPW_HASH_BUCKETS);
        expectConsistent();
        PBB_ucpw_Exit();
    }
}

TEST_F(UcPw, InitAndAddFailuresLeaveNothingAllocated)
{
    pbbtest::PlatformDirs dirs;
    PBB_ucpw_Exit();  // before Init
    struct Case {
        const char* call;
        int64_t result;
        const char* message;
    };
    const Case cases[] = {
        {"L2VPN_GetMaxVsiNum", 2, nullptr},
        {"IF_CreatePDInstance", 0xFFFFFFFF, "Failed to create Unicast Pseudo Wire PdInstance."},
        {"HASH_Create", 0, "Failed to create Unicast Pseudo Wire hash table."},
        {"Bitmap_Create", 0, "Failed to allocate memory for Unicast Pseudo Wire age status map."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        plat::testing::failCall(c.call, c.result, 1);
        EXPECT_EQ(PBB_ucpw_Init(), PBB_ERR);
        EXPECT_TRUE(!g_pstPbb_VsiUcPwList && !g_pstPbb_VlanUcPwList && !g_pstPbb_BmacHashTbl && !g_pstPbb_AgeStatusMap);
        EXPECT_EQ(g_ulPbb_IfUcPwHandle, PBB_INVALID_HANDLE);
        EXPECT_EQ(PBB_ucpw_Add(1, 1, 10, mac(1).data(), p1), PBB_ERR);
        if (c.message != nullptr) {
            EXPECT_EQ(pbbtest::grepLines(dirs.logFile(), {"PBB_TRACE", c.message}).size(), 1u);
        }
    }
    init();
    add(1, 10, mac(1), p1);
    plat::testing::failCall("Bitmap_Create", 0, 1);
    EXPECT_EQ(PBB_ucpw_Add(1, 1, 10, mac(2).data(), p2), PBB_ERR);
    plat::testing::failCall("IF_SetPrivateData", 2, 1);
    EXPECT_EQ(PBB_ucpw_Add(1, 1, 10, mac(3).data(), p2), PBB_ERR);
    void* head = nullptr;
    EXPECT_TRUE(IF_GetPrivateData(g_ulPbb_IfUcPwHandle, p2, &head) != 0 || head == nullptr);
    // An interface the manager does not know cannot carry a head; one that
    // already has a head does not need one.
    EXPECT_EQ(PBB_ucpw_Add(1, 1, 10, mac(4).data(), 9999), PBB_ERR);
    plat::testing::failCall("IF_SetPrivateData", 2, 1);
    EXPECT_EQ(PBB_ucpw_Add(1, 1, 10, mac(5).data(), p1), PBB_OK);
    EXPECT_EQ(walk(PBB_UCPW_GET_BY_VSI, 1), (std::vector<int>{1, 5}));
    plat::testing::clearFaults();
    expectConsistent();

    // Exit releases the entries and the private-data instance with its heads
    // (the leak check sees any left), and is safe twice.
    PBB_ucpw_Exit();
    PBB_ucpw_Exit();
    EXPECT_EQ(PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr), nullptr);
}

}  // namespace
