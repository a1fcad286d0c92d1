// Unicast resets: each selection takes exactly its entries out of the
// driver, the database and the table, and keeps every other entry. The
// batch resets over a list of interfaces are checked by the management
// tests' reset requests.
#include "ctl_test.h"

#include <functional>

namespace ctltest {
namespace {

struct ResetCase {
    const char* name;
    // Runs the reset; a is the first of the two ports the entries were learned on.
    std::function<void(uint32_t a)> reset;
    // Whether the reset is to remove the entry.
    std::function<bool(const Uc&, uint32_t a)> removed;
};

const ResetCase kResets[] = {
    {"One", [](uint32_t) {
         const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, 0, 2};
         PBB_ctl_ResetUcPw(1, 10, mac);
     },
     [](const Uc& e, uint32_t a) { return e == Uc{1, 10, 2, a}; }},
    {"OneMissing", [](uint32_t) {
         const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, 0, 9};
         PBB_ctl_ResetUcPw(1, 10, mac);
     },
     [](const Uc&, uint32_t) { return false; }},
    {"ByVsi", [](uint32_t) { PBB_ctl_ResetUcPwByVsi(1); },
     [](const Uc& e, uint32_t) { return std::get<0>(e) == 1; }},
    {"ByIf", [](uint32_t a) { PBB_ctl_ResetUcPwByIf(a); },
     [](const Uc& e, uint32_t a) { return std::get<3>(e) == a; }},
    {"ByVlan", [](uint32_t) { PBB_ctl_ResetUcPwByVlan(10); },
     [](const Uc& e, uint32_t) { return std::get<1>(e) == 10; }},
    {"ByVlanIf", [](uint32_t a) { PBB_ctl_ResetUcPwByVlanIf(10, a); },
     [](const Uc& e, uint32_t a) { return std::get<1>(e) == 10 && std::get<3>(e) == a; }},
    {"All", [](uint32_t) { PBB_ctl_ResetUcPwAll(); }, [](const Uc&, uint32_t) { return true; }},
    {"WithVsiEmptyListIsEveryInterface", [](uint32_t) { PBB_ctl_ResetUcPwBatchWithVsi(2, 0, nullptr); },
     [](const Uc& e, uint32_t) { return std::get<0>(e) == 2; }},
    {"WithoutVsiEmptyListIsEveryInterface", [](uint32_t) {
         BITMAP_S* map = Bitmap_Create(4094);
         Bitmap_Set(map, 20);
         PBB_ctl_ResetUcPwBatchWithoutVsi(map, 0, nullptr);
         Bitmap_Destroy(map);
     },
     [](const Uc& e, uint32_t) { return std::get<1>(e) == 20; }},
};

class Resets : public Ctl, public ::testing::WithParamInterface<ResetCase> {};

// Two VSIs, two B-VLANs, two ports, two B-MACs: 16 entries, every
// selection removes some and keeps others.
TEST_P(Resets, RemoveExactlyTheSelectionEverywhere)
{
    UcSet all;
    for (uint32_t v : {1u, 2u})
        for (uint16_t vlan : {10, 20})
            for (uint32_t port : {a, b})
                for (uint8_t last : {1, 2}) all.insert({v, vlan, static_cast<uint8_t>(last + (port == b ? 4 : 0)), port});
    for (const auto& e : all) learn(e);
    expectUc(all);

    GetParam().reset(a);

    UcSet kept;
    for (const auto& e : all)
        if (!GetParam().removed(e, a)) kept.insert(e);
    if (std::string(GetParam().name) != "OneMissing") {
        ASSERT_LT(kept.size(), all.size());
    }
    expectUc(kept);
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), kept.size());
}

INSTANTIATE_TEST_SUITE_P(Ctl, Resets, ::testing::ValuesIn(kResets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ctltest
