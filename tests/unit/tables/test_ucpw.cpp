// Unicast pseudo-wire table over the in-process switch: the five indexes
// and their walks, paging by B-MAC, lookups by key, every deletion with the
// interface list heads coming and going, age status, and start-up failures.
#include "daemon/pbb_common.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_ucpw.h"
#include "platform/model/inproc.h"
#include "platform/testing.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using Mac = std::array<uint8_t, 6>;

Mac mac(uint8_t last)
{
    return Mac{0, 0, 0, 0, 0, last};
}

// Last B-MAC byte of each entry of a walk.
std::vector<int> walk(uint32_t type, const PbbUcPwFilter* filter)
{
    std::vector<int> out;
    for (PbbUcPw* p = PBB_ucpw_GetFirst(type, filter); p != nullptr; p = PBB_ucpw_GetNext(type, p)) {
        out.push_back(p->aucBMac[5]);
        if (out.size() > 10000) break;  // a broken list must not loop forever
    }
    return out;
}

std::vector<int> byVsi(uint32_t vsi)
{
    PbbUcPwFilter f{vsi, 0, 0};
    return walk(PBB_UCPW_GET_BY_VSI, &f);
}
std::vector<int> byIf(uint32_t ifIndex)
{
    PbbUcPwFilter f{0, 0, ifIndex};
    return walk(PBB_UCPW_GET_BY_IF, &f);
}
std::vector<int> byVlan(uint16_t vlan)
{
    PbbUcPwFilter f{0, vlan, 0};
    return walk(PBB_UCPW_GET_BY_VLAN, &f);
}
std::vector<int> byVlanIf(uint16_t vlan, uint32_t ifIndex)
{
    PbbUcPwFilter f{0, vlan, ifIndex};
    return walk(PBB_UCPW_GET_BY_VLAN_IF, &f);
}
std::vector<int> byIfVsi(uint32_t ifIndex, uint32_t vsi)
{
    PbbUcPwFilter f{vsi, 0, ifIndex};
    return walk(PBB_UCPW_GET_BY_IF_VSI, &f);
}
std::vector<int> all()
{
    return walk(PBB_UCPW_GET_ALL, nullptr);
}

bool hasPrivateData(uint32_t ifIndex)
{
    void* p = nullptr;
    return IF_GetPrivateData(g_ulPbb_IfUcPwHandle, ifIndex, &p) == 0 && p != nullptr;
}

std::set<uint32_t> slotsOf(const BITMAP_S* bm)
{
    std::set<uint32_t> out;
    for (uint32_t i = 0; i <= bm->uiSize; ++i)
        if (Bitmap_Check(bm, i) == 1) out.insert(i);
    return out;
}

class UcPw : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::testing::reset();
        auto& sw = plat::inproc::reset();
        sw.setSlotRange(1, 6);
        sw.addSlot(1, {.minm = false});                               // cannot do PBB
        sw.addSlot(2, {.minm = true});
        sw.addSlot(3, {.minm = true});
        sw.addSlot(4, {.normal = false, .minm = true});               // faulty board
        sw.addSlot(5, {.present = false, .minm = true});              // empty slot
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
    void expectConsistent()
    {
        uint32_t n = 0;
        for (PbbUcPw* p = PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr); p != nullptr;
             p = PBB_ucpw_GetNext(PBB_UCPW_GET_ALL, p)) {
            ++n;
            PbbUcPwFilter fv{p->uiVsiIndex, p->usBVlan, p->uiIfIndex};
            int seenVsi = 0, seenIf = 0, seenVlan = 0;
            for (PbbUcPw* q = PBB_ucpw_GetFirst(0, &fv); q != nullptr; q = PBB_ucpw_GetNext(0, q)) seenVsi += q == p;
            for (PbbUcPw* q = PBB_ucpw_GetFirst(1, &fv); q != nullptr; q = PBB_ucpw_GetNext(1, q)) seenIf += q == p;
            for (PbbUcPw* q = PBB_ucpw_GetFirst(2, &fv); q != nullptr; q = PBB_ucpw_GetNext(2, q)) seenVlan += q == p;
            EXPECT_EQ(seenVsi, 1);
            EXPECT_EQ(seenIf, 1);
            EXPECT_EQ(seenVlan, 1);
            EXPECT_NE(PBB_ucpw_Get(p->uiVsiIndex, p->usBVlan, p->aucBMac), nullptr);
            EXPECT_EQ(PBB_ucpw_IsEmptyByIf(p->uiIfIndex), 0u);
        }
        EXPECT_EQ(n, PBB_ucpw_GetTotalNum());
        uint32_t sum = 0;
        for (uint32_t v = 0; v <= 16; ++v) sum += PBB_ucpw_GetNumByVsi(v);
        EXPECT_EQ(sum, n);
        EXPECT_EQ(PBB_ucpw_IsEmpty(), n == 0 ? 1u : 0u);
    }

    uint32_t p1 = 0, p2 = 0, p3 = 0;
};

TEST_F(UcPw, WalksOfEveryTypeInTheirOrder)
{
    init();
    EXPECT_TRUE(all().empty());
    add(1, 100, mac(3), p1);
    add(1, 100, mac(1), p1);
    add(1, 100, mac(2), p1);
    EXPECT_EQ(byVsi(1), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(all(), (std::vector<int>{2, 1, 3}));

    add(2, 100, mac(5), p2);
    add(1, 200, mac(4), p2);
    add(2, 200, mac(6), p1);
    EXPECT_EQ(byVsi(1), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(byVsi(2), (std::vector<int>{5, 6}));
    EXPECT_TRUE(byVsi(3).empty());
    EXPECT_EQ(byIf(p1), (std::vector<int>{6, 2, 1, 3}));
    EXPECT_EQ(byIf(p2), (std::vector<int>{4, 5}));
    EXPECT_TRUE(byIf(p3).empty());
    EXPECT_EQ(byVlan(100), (std::vector<int>{5, 2, 1, 3}));
    EXPECT_EQ(byVlan(200), (std::vector<int>{6, 4}));
    EXPECT_EQ(byVlanIf(100, p2), (std::vector<int>{5}));
    EXPECT_EQ(byVlanIf(100, p1), (std::vector<int>{2, 1, 3}));
    EXPECT_EQ(byVlanIf(200, p1), (std::vector<int>{6}));
    EXPECT_TRUE(byVlanIf(200, p3).empty());
    EXPECT_EQ(byIfVsi(p1, 1), (std::vector<int>{2, 1, 3}));
    EXPECT_EQ(byIfVsi(p1, 2), (std::vector<int>{6}));
    EXPECT_EQ(byIfVsi(p2, 1), (std::vector<int>{4}));
    EXPECT_TRUE(byIfVsi(p2, 3).empty());
    EXPECT_EQ(all(), (std::vector<int>{6, 4, 5, 2, 1, 3}));
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 6u);
    EXPECT_EQ(PBB_ucpw_GetNumByVsi(1), 4u);
    EXPECT_EQ(PBB_ucpw_GetNumByVsi(2), 2u);
    EXPECT_EQ(PBB_ucpw_IsEmptyByVsi(3), 1u);
    EXPECT_EQ(PBB_ucpw_IsEmptyByVsi(2), 0u);
    EXPECT_EQ(PBB_ucpw_IsEmptyByVlan(200), 0u);
    EXPECT_EQ(PBB_ucpw_IsEmptyByVlan(300), 1u);

    // Type 6 and beyond walk nothing.
    PbbUcPwFilter f{1, 100, p1};
    EXPECT_EQ(PBB_ucpw_GetFirst(6, &f), nullptr);
    EXPECT_EQ(PBB_ucpw_GetNext(6, PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr)), nullptr);
    EXPECT_EQ(PBB_ucpw_GetNext(0xFFFFFFFFu, PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr)), nullptr);

    // The entry's fields are the ones given.
    PbbUcPw* e = PBB_ucpw_Get(2, 200, mac(6).data());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->uiVsiIndex, 2u);
    EXPECT_EQ(e->uiISid, 1000u);
    EXPECT_EQ(e->usBVlan, 200);
    EXPECT_EQ(e->uiIfIndex, p1);
    expectConsistent();
}

TEST_F(UcPw, LastVsiHeadAndHighestVlanAreUsable)
{
    init();
    // The VSI array has one head more than the VSI count; VLAN heads run to the highest VLAN ID.
    add(16, 4094, mac(1), p1);
    add(0, 0, mac(2), p2);
    EXPECT_EQ(byVsi(16), (std::vector<int>{1}));
    EXPECT_EQ(byVlan(4094), (std::vector<int>{1}));
    EXPECT_EQ(byVlan(0), (std::vector<int>{2}));
    PBB_ucpw_DeleteByVsi(16);
    PBB_ucpw_DeleteByVlan(0);
    EXPECT_EQ(PBB_ucpw_IsEmpty(), 1u);
}

TEST_F(UcPw, VsiListOrdersBytewiseAndKeepsEqualBMacsInArrivalOrder)
{
    init();
    const Mac hi{0x80, 0, 0, 0, 0, 0x10};
    const Mac mid{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x20};
    const Mac lo{0x00, 0, 0, 0, 0x01, 0x30};
    PbbUcPw* eHi = add(1, 10, hi, p1);
    PbbUcPw* eLo = add(1, 10, lo, p1);
    PbbUcPw* eMid = add(1, 10, mid, p1);
    // Same B-MAC on another B-VLAN: both stay, the later one behind.
    PbbUcPw* eMid2 = add(1, 20, mid, p2);
    PbbUcPw* eMid3 = add(1, 30, mid, p3);
    ASSERT_NE(eMid2, eMid);
    PbbUcPwFilter f{1, 0, 0};
    std::vector<PbbUcPw*> order;
    for (PbbUcPw* p = PBB_ucpw_GetFirst(0, &f); p != nullptr; p = PBB_ucpw_GetNext(0, p)) order.push_back(p);
    EXPECT_EQ(order, (std::vector<PbbUcPw*>{eLo, eMid, eMid2, eMid3, eHi}));
    EXPECT_EQ(PBB_ucpw_Get(1, 10, mid.data()), eMid);
    EXPECT_EQ(PBB_ucpw_Get(1, 20, mid.data()), eMid2);

    // Deleting the first of the equal ones keeps the others in order.
    PBB_ucpw_Delete(eMid);
    order.clear();
    for (PbbUcPw* p = PBB_ucpw_GetFirst(0, &f); p != nullptr; p = PBB_ucpw_GetNext(0, p)) order.push_back(p);
    EXPECT_EQ(order, (std::vector<PbbUcPw*>{eLo, eMid2, eMid3, eHi}));
    expectConsistent();
}

TEST_F(UcPw, GetNextByIndexPagesThroughAVsiInAscendingOrder)
{
    init();
    const Mac zero{0, 0, 0, 0, 0, 0};
    EXPECT_EQ(PBB_ucpw_GetNextByIndex(1, zero.data()), nullptr);
    add(1, 10, mac(0x30), p1);
    add(1, 10, mac(0x10), p1);
    add(1, 10, mac(0x20), p2);
    add(2, 10, mac(0x15), p2);  // another VSI is not paged

    std::vector<int> pages;
    Mac cursor = zero;
    for (PbbUcPw* p = PBB_ucpw_GetNextByIndex(1, cursor.data()); p != nullptr;
         p = PBB_ucpw_GetNextByIndex(1, cursor.data())) {
        pages.push_back(p->aucBMac[5]);
        std::copy(p->aucBMac, p->aucBMac + 6, cursor.begin());
        if (pages.size() > 10) break;
    }
    EXPECT_EQ(pages, (std::vector<int>{0x10, 0x20, 0x30}));
    // Strictly greater: a B-MAC between entries gives the next one, the greatest gives nothing.
    EXPECT_EQ(PBB_ucpw_GetNextByIndex(1, mac(0x15).data())->aucBMac[5], 0x20);
    EXPECT_EQ(PBB_ucpw_GetNextByIndex(1, mac(0x30).data()), nullptr);
    EXPECT_EQ(PBB_ucpw_GetNextByIndex(1, mac(0xFF).data()), nullptr);
    // A higher byte earlier in the address outranks the last byte.
    const Mac above{0, 0, 0, 0, 1, 0};
    EXPECT_EQ(PBB_ucpw_GetNextByIndex(1, above.data()), nullptr);

    // An all-zero B-MAC is first in the list but never after the zero cursor.
    PbbUcPw* eZero = add(1, 10, zero, p3);
    PbbUcPwFilter f{1, 0, 0};
    EXPECT_EQ(PBB_ucpw_GetFirst(0, &f), eZero);
    EXPECT_EQ(PBB_ucpw_GetNextByIndex(1, zero.data())->aucBMac[5], 0x10);
}

TEST_F(UcPw, LookupByKeyPerVsiAndInSharedVsiMode)
{
    init();
    const Mac m{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    PbbUcPw* e3 = add(3, 100, m, p1, 7);
    PbbUcPw* e7 = add(7, 100, m, p2, 9);
    ASSERT_NE(e3, nullptr);
    ASSERT_NE(e7, nullptr);
    EXPECT_NE(e3, e7);
    EXPECT_EQ(e3->uiISid, 7u);
    EXPECT_EQ(PBB_ucpw_Get(3, 100, m.data()), e3);
    EXPECT_EQ(PBB_ucpw_Get(7, 100, m.data()), e7);
    EXPECT_EQ(PBB_ucpw_Get(4, 100, m.data()), nullptr);
    EXPECT_EQ(PBB_ucpw_Get(3, 101, m.data()), nullptr);
    // One differing byte in each 16-bit half of the B-MAC misses.
    for (int i = 0; i < 6; ++i) {
        Mac other = m;
        other[i] ^= 0x01;
        EXPECT_EQ(PBB_ucpw_Get(3, 100, other.data()), nullptr) << "byte " << i;
    }
    PBB_ucpw_DeleteAll();
    PBB_ucpw_Exit();

    // Shared-VSI mode: the VSI index takes no part in the key.
    g_bIsVsiShare = 1;
    init();
    PbbUcPw* s = add(3, 100, m, p1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(PBB_ucpw_Get(0, 100, m.data()), s);
    EXPECT_EQ(PBB_ucpw_Get(15, 100, m.data()), s);
    EXPECT_EQ(PBB_ucpw_Get(15, 200, m.data()), nullptr);
    EXPECT_EQ(_pbb_ucpw_GetBmacHashIndex(s), (0x11 + 0x22 + 0x33 + 0x44 + 0x55 + 100u) & 0xFFF);
}

TEST_F(UcPw, HashChainSurvivesDeletionsAtHeadMiddleAndTail)
{
    init();
    // Permutations of the same bytes sum alike and share one bucket.
    std::vector<Mac> macs = {{1, 2, 3, 4, 5, 6}, {6, 5, 4, 3, 2, 1}, {2, 1, 3, 4, 5, 6},
                             {1, 2, 3, 4, 6, 5}, {3, 2, 1, 4, 5, 6}};
    std::vector<PbbUcPw*> entries;
    for (auto& m : macs) entries.push_back(add(1, 10, m, p1));
    uint32_t bucket = _pbb_ucpw_GetBmacHashIndex(entries[0]);
    for (auto* e : entries) EXPECT_EQ(_pbb_ucpw_GetBmacHashIndex(e), bucket);

    // Newest is the bucket head, oldest the tail. Delete a middle node, then
    // the node behind it (whose back pointer the first deletion moved), then
    // the head twice, leaving the tail alone.
    for (size_t victim : {size_t{2}, size_t{1}, size_t{4}, size_t{3}}) {
        PBB_ucpw_Delete(entries[victim]);
        entries[victim] = nullptr;
        for (size_t i = 0; i < macs.size(); ++i) {
            PbbUcPw* found = PBB_ucpw_Get(1, 10, macs[i].data());
            EXPECT_EQ(found, entries[i]) << "after deleting " << victim << ", entry " << i;
        }
    }
    expectConsistent();
}

TEST_F(UcPw, DuplicateKeyIsKeptAndTheNewestIsFoundFirst)
{
    init();
    PbbUcPw* older = add(1, 10, mac(9), p1, 1);
    PbbUcPw* newer = add(1, 10, mac(9), p2, 2);
    EXPECT_NE(older, newer);
    EXPECT_EQ(newer->uiISid, 2u);
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 2u);
    PBB_ucpw_Delete(newer);
    EXPECT_EQ(PBB_ucpw_Get(1, 10, mac(9).data()), older);
    PBB_ucpw_Delete(older);
    EXPECT_EQ(PBB_ucpw_Get(1, 10, mac(9).data()), nullptr);
    EXPECT_EQ(PBB_ucpw_IsEmpty(), 1u);
}

TEST_F(UcPw, InterfaceListHeadComesWithFirstEntryAndGoesWithLast)
{
    init();
    EXPECT_EQ(PBB_ucpw_IsEmptyByIf(p1), 1u);
    EXPECT_FALSE(hasPrivateData(p1));
    PbbUcPw* a = add(1, 10, mac(1), p1);
    EXPECT_EQ(PBB_ucpw_IsEmptyByIf(p1), 0u);
    EXPECT_TRUE(hasPrivateData(p1));
    PbbUcPw* b = add(2, 20, mac(2), p1);
    PBB_ucpw_Delete(a);
    EXPECT_EQ(PBB_ucpw_IsEmptyByIf(p1), 0u);
    EXPECT_TRUE(hasPrivateData(p1));
    EXPECT_EQ(byIf(p1), (std::vector<int>{2}));
    PBB_ucpw_Delete(b);
    EXPECT_EQ(PBB_ucpw_IsEmptyByIf(p1), 1u);
    EXPECT_FALSE(hasPrivateData(p1));
    // And back again with a new first entry.
    add(3, 30, mac(3), p1);
    EXPECT_TRUE(hasPrivateData(p1));
    EXPECT_EQ(PBB_ucpw_GetNumByVsi(1), 0u);
    EXPECT_EQ(PBB_ucpw_GetNumByVsi(2), 0u);
    expectConsistent();
}

// Every bulk deletion over one table: which entries stay, which interfaces
// keep their list head, and that every index and count agrees afterwards.
struct Learned {
    uint32_t vsi;
    uint16_t vlan;
    int port;  // 1 to 3
};
// Entry n (B-MAC ending in n) is kLearned[n - 1].
constexpr Learned kLearned[] = {{1, 10, 1}, {2, 10, 1}, {2, 20, 1}, {1, 10, 2}, {2, 20, 3}, {3, 30, 2}};

struct BulkDeletion {
    const char* name;
    std::function<void(const uint32_t* ports)> run;  // ports[1..3]
    std::set<int> left;
};

class UcPwBulkDeletion : public ::testing::WithParamInterface<BulkDeletion>, public UcPw {};

TEST_P(UcPwBulkDeletion, RemovesItsEntriesAndEmptyInterfaceHeads)
{
    init();
    const uint32_t ports[] = {0, p1, p2, p3};
    for (int n = 1; n <= 6; ++n) {
        const Learned& l = kLearned[n - 1];
        add(l.vsi, l.vlan, mac(static_cast<uint8_t>(n)), ports[l.port]);
    }
    GetParam().run(ports);

    auto remaining = all();
    EXPECT_EQ(std::set<int>(remaining.begin(), remaining.end()), GetParam().left);
    for (int port = 1; port <= 3; ++port) {
        bool used = false;
        for (int n : GetParam().left) used |= kLearned[n - 1].port == port;
        EXPECT_EQ(hasPrivateData(ports[port]), used) << "port " << port;
        EXPECT_EQ(PBB_ucpw_IsEmptyByIf(ports[port]), used ? 0u : 1u) << "port " << port;
    }
    for (uint32_t v : {1u, 2u, 3u}) {
        bool used = false;
        for (int n : GetParam().left) used |= kLearned[n - 1].vsi == v;
        EXPECT_EQ(PBB_ucpw_IsEmptyByVsi(v), used ? 0u : 1u) << "vsi " << v;
    }
    for (uint16_t vlan : {10, 20, 30}) {
        bool used = false;
        for (int n : GetParam().left) used |= kLearned[n - 1].vlan == vlan;
        EXPECT_EQ(PBB_ucpw_IsEmptyByVlan(vlan), used ? 0u : 1u) << "vlan " << vlan;
    }
    expectConsistent();

    // Every interface can learn again afterwards.
    for (int port = 1; port <= 3; ++port) add(1, 10, mac(static_cast<uint8_t>(10 + port)), ports[port]);
    EXPECT_EQ(byIf(p1).front(), 11);
    expectConsistent();
}

INSTANTIATE_TEST_SUITE_P(
    Deletions, UcPwBulkDeletion,
    ::testing::Values(
        BulkDeletion{"IfVsi", [](const uint32_t* p) { PBB_ucpw_DeleteByIfVsi(p[1], 2); }, {1, 4, 5, 6}},
        BulkDeletion{"IfVsiLastOfInterface",
                     [](const uint32_t* p) {
                         PBB_ucpw_DeleteByIfVsi(p[1], 1);
                         PBB_ucpw_DeleteByIfVsi(p[1], 2);
                     },
                     {4, 5, 6}},
        BulkDeletion{"If", [](const uint32_t* p) { PBB_ucpw_DeleteByIf(p[2]); }, {1, 2, 3, 5}},
        BulkDeletion{"VlanIf", [](const uint32_t* p) { PBB_ucpw_DeleteByVlanIf(10, p[1]); }, {3, 4, 5, 6}},
        BulkDeletion{"VlanIfLastOfInterface", [](const uint32_t* p) { PBB_ucpw_DeleteByVlanIf(20, p[3]); },
                     {1, 2, 3, 4, 6}},
        BulkDeletion{"Vlan", [](const uint32_t*) { PBB_ucpw_DeleteByVlan(20); }, {1, 2, 4, 6}},
        BulkDeletion{"Vsi", [](const uint32_t*) { PBB_ucpw_DeleteByVsi(2); }, {1, 4, 6}},
        BulkDeletion{"All", [](const uint32_t*) { PBB_ucpw_DeleteAll(); }, {}},
        // Nothing of the kind: nothing changes.
        BulkDeletion{"NothingOfTheKind",
                     [](const uint32_t* p) {
                         PBB_ucpw_DeleteByIfVsi(p[3], 1);
                         PBB_ucpw_DeleteByVlanIf(30, p[1]);
                         PBB_ucpw_DeleteByVsi(9);
                         PBB_ucpw_DeleteByVlan(40);
                         PBB_ucpw_DeleteByIf(4242);
                     },
                     {1, 2, 3, 4, 5, 6}}),
    [](const ::testing::TestParamInfo<BulkDeletion>& info) { return std::string(info.param.name); });

TEST_F(UcPw, WalkThatDeletesFetchesTheNextFirst)
{
    init();
    for (uint8_t i = 1; i <= 6; ++i) add(1, 10, mac(i), i <= 3 ? p1 : p2);
    // Delete every entry of p1 by walking type 4 with the next fetched first.
    PbbUcPwFilter f{1, 0, p1};
    for (PbbUcPw* p = PBB_ucpw_GetFirst(PBB_UCPW_GET_BY_IF_VSI, &f); p != nullptr;) {
        PbbUcPw* next = PBB_ucpw_GetNext(PBB_UCPW_GET_BY_IF_VSI, p);
        PBB_ucpw_Delete(p);
        p = next;
    }
    EXPECT_FALSE(hasPrivateData(p1));
    EXPECT_EQ(byVsi(1), (std::vector<int>{4, 5, 6}));
    expectConsistent();
}

TEST_F(UcPw, AgeStatusStartsFromTheTemplateOfCapableNormalSlots)
{
    init();
    ASSERT_NE(g_pstPbb_AgeStatusMap, nullptr);
    EXPECT_EQ(g_pstPbb_AgeStatusMap->uiSize, 6u);
    EXPECT_EQ(slotsOf(g_pstPbb_AgeStatusMap), (std::set<uint32_t>{2, 3}));

    PbbUcPw* e = add(1, 10, mac(1), p1);
    ASSERT_NE(e->pstAgeStatus, nullptr);
    EXPECT_NE(e->pstAgeStatus, g_pstPbb_AgeStatusMap);
    EXPECT_EQ(slotsOf(e->pstAgeStatus), (std::set<uint32_t>{2, 3}));
    PBB_ucpw_SetAgeStatus(1, 2, e);
    EXPECT_EQ(slotsOf(e->pstAgeStatus), (std::set<uint32_t>{3}));
    EXPECT_EQ(Bitmap_IsEmpty(e->pstAgeStatus), 0u);
    PBB_ucpw_SetAgeStatus(1, 3, e);
    EXPECT_EQ(Bitmap_IsEmpty(e->pstAgeStatus), 1u);
    PBB_ucpw_SetAgeStatus(0, 2, e);
    EXPECT_EQ(slotsOf(e->pstAgeStatus), (std::set<uint32_t>{2}));
    PBB_ucpw_SetAgeStatus(7, 3, e);  // any status but 1 sets
    EXPECT_EQ(slotsOf(e->pstAgeStatus), (std::set<uint32_t>{2, 3}));
    // The template is the entry's copy, not shared.
    EXPECT_EQ(slotsOf(g_pstPbb_AgeStatusMap), (std::set<uint32_t>{2, 3}));
    // An aged entry stays until a caller deletes it.
    PBB_ucpw_SetAgeStatus(1, 2, e);
    PBB_ucpw_SetAgeStatus(1, 3, e);
    EXPECT_EQ(PBB_ucpw_Get(1, 10, mac(1).data()), e);
}

TEST_F(UcPw, SetAgeStatusSlotChangesTheTemplateAndEveryEntry)
{
    init();
    PbbUcPw* a = add(1, 10, mac(1), p1);
    PbbUcPw* b = add(2, 20, mac(2), p3);
    PBB_ucpw_SetAgeStatus(1, 2, b);

    PBB_ucpw_SetAgeStatusSlot(1, 3);
    EXPECT_EQ(slotsOf(g_pstPbb_AgeStatusMap), (std::set<uint32_t>{2}));
    EXPECT_EQ(slotsOf(a->pstAgeStatus), (std::set<uint32_t>{2}));
    EXPECT_TRUE(slotsOf(b->pstAgeStatus).empty());
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 2u);  // never deletes

    // Learned now: starts without slot 3.
    PbbUcPw* c = add(3, 30, mac(3), p2);
    EXPECT_EQ(slotsOf(c->pstAgeStatus), (std::set<uint32_t>{2}));

    // A slot that comes in holds every entry, old and new.
    PBB_ucpw_SetAgeStatusSlot(0, 6);
    EXPECT_EQ(slotsOf(g_pstPbb_AgeStatusMap), (std::set<uint32_t>{2, 6}));
    EXPECT_EQ(slotsOf(a->pstAgeStatus), (std::set<uint32_t>{2, 6}));
    EXPECT_EQ(slotsOf(b->pstAgeStatus), (std::set<uint32_t>{6}));
    EXPECT_EQ(slotsOf(c->pstAgeStatus), (std::set<uint32_t>{2, 6}));
    PBB_ucpw_SetAgeStatusSlot(0, 3);
    PbbUcPw* d = add(4, 40, mac(4), p2);
    EXPECT_EQ(slotsOf(d->pstAgeStatus), (std::set<uint32_t>{2, 3, 6}));
}

TEST_F(UcPw, TemplateStopsAtTheFirstFailingSlotQuery)
{
    // Slot 2 cannot be placed; the status of the next slot asked (3) cannot be read.
    plat::testing::failCall("DEV_GetPhysicalSlotByGlobalSlot", 2, 1);
    plat::testing::failCall("DEV_GetDeviceStatus", 2, 1);
    plat::testing::setRecording(true);
    init();
    EXPECT_TRUE(slotsOf(g_pstPbb_AgeStatusMap).empty());

    // Slot 1 (not capable) and slot 6 (no board configured) stop before the
    // position query; slot 2 stops before the status query.
    std::vector<std::string> placed, status;
    for (auto& c : plat::testing::callsNamed("DEV_GetPhysicalSlotByGlobalSlot")) placed.push_back(c.args);
    for (auto& c : plat::testing::callsNamed("DEV_GetDeviceStatus")) status.push_back(c.args);
    ASSERT_EQ(placed.size(), 4u);
    EXPECT_NE(placed[0].find("slot=2"), std::string::npos);
    EXPECT_NE(placed[3].find("slot=5"), std::string::npos);
    ASSERT_EQ(status.size(), 3u);
    EXPECT_NE(status[0].find("slot=3"), std::string::npos);
    EXPECT_NE(status[2].find("slot=5"), std::string::npos);
}

TEST_F(UcPw, InitFailuresLeaveNothingAllocated)
{
    pbbtest::PlatformDirs dirs;
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
        plat::testing::clearFaults();
        plat::testing::failCall(c.call, c.result, 1);
        EXPECT_EQ(PBB_ucpw_Init(), PBB_ERR);
        EXPECT_EQ(g_pstPbb_VsiUcPwList, nullptr);
        EXPECT_EQ(g_pstPbb_VlanUcPwList, nullptr);
        EXPECT_EQ(g_ulPbb_IfUcPwHandle, PBB_INVALID_HANDLE);
        EXPECT_EQ(g_pstPbb_BmacHashTbl, nullptr);
        EXPECT_EQ(g_pstPbb_AgeStatusMap, nullptr);
        EXPECT_EQ(PBB_ucpw_IsEmpty(), 1u);
        // Nothing can be added to a table that is not there.
        EXPECT_EQ(PBB_ucpw_Add(1, 1, 10, mac(1).data(), p1), PBB_ERR);
        if (c.message != nullptr) {
            EXPECT_EQ(pbbtest::grepLines(dirs.logFile(), {"PBB_TRACE", c.message}).size(), 1u);
        }
    }
    // A good start after the failures, and exits that are safe twice.
    plat::testing::clearFaults();
    init();
    add(1, 10, mac(1), p1);
    PBB_ucpw_Exit();
    PBB_ucpw_Exit();
    EXPECT_EQ(g_ulPbb_IfUcPwHandle, PBB_INVALID_HANDLE);
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 0u);
}

TEST_F(UcPw, ExitWithoutInitIsSafe)
{
    PBB_ucpw_Exit();
    PBB_ucpw_Exit();
    EXPECT_EQ(PBB_ucpw_IsEmpty(), 1u);
    EXPECT_EQ(g_ulPbb_IfUcPwHandle, PBB_INVALID_HANDLE);
    EXPECT_EQ(PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr), nullptr);
}

TEST_F(UcPw, ExitReleasesEntriesAndInterfaceHeads)
{
    init();
    for (uint8_t i = 1; i <= 9; ++i) add(i % 3, 10 + i % 2, mac(i), i % 2 ? p1 : p2);
    uint32_t handle = g_ulPbb_IfUcPwHandle;
    PBB_ucpw_Exit();
    EXPECT_EQ(g_ulPbb_IfUcPwHandle, PBB_INVALID_HANDLE);
    // The private-data instance is gone with its heads (ASan reports any leak).
    void* p = nullptr;
    EXPECT_NE(IF_GetPrivateData(handle, p1, &p), 0u);
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 0u);
}

TEST_F(UcPw, AddFailuresLeaveTheTableAsItWas)
{
    init();
    add(1, 10, mac(1), p1);
    plat::testing::failCall("Bitmap_Create", 0, 1);
    EXPECT_EQ(PBB_ucpw_Add(1, 1, 10, mac(2).data(), p2), PBB_ERR);
    plat::testing::failCall("IF_SetPrivateData", 2, 1);
    EXPECT_EQ(PBB_ucpw_Add(1, 1, 10, mac(3).data(), p2), PBB_ERR);
    EXPECT_FALSE(hasPrivateData(p2));
    // An interface the manager does not know cannot carry a head.
    EXPECT_EQ(PBB_ucpw_Add(1, 1, 10, mac(4).data(), 9999), PBB_ERR);
    // An interface that already has a head does not need one.
    plat::testing::failCall("IF_SetPrivateData", 2, 1);
    EXPECT_EQ(PBB_ucpw_Add(1, 1, 10, mac(5).data(), p1), PBB_OK);
    EXPECT_EQ(byVsi(1), (std::vector<int>{1, 5}));
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), 2u);
    plat::testing::clearFaults();
    expectConsistent();
}

}  // namespace
