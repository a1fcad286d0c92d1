// Unicast resets over several VSIs: each selection takes exactly its
// entries out of the driver, the database and the table, and keeps every
// other entry. Resets by interface and B-VLAN are checked by the
// topology-change flushes, the batch resets over a list of interfaces by
// the management tests' reset requests.
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

constexpr uint8_t kMac1[6] = {0, 0x11, 0x22, 0x33, 0, 1};  // learned in B-VLAN 10 as station 1

const ResetCase kResets[] = {
    {"ByVsi", [](uint32_t) { PBB_ctl_ResetUcPwByVsi(1); },
     [](const Uc& e, uint32_t) { return std::get<0>(e) == 1; }},
    {"WithVsiEmptyListIsEveryInterface", [](uint32_t) { PBB_ctl_ResetUcPwBatchWithVsi(2, 0, nullptr); },
     [](const Uc& e, uint32_t) { return std::get<0>(e) == 2; }},
    {"OneKeyAndAKeyNotInTheTable", [](uint32_t) { for (uint16_t vlan : {30, 10}) PBB_ctl_ResetUcPw(1, vlan, kMac1); },
     [](const Uc& e, uint32_t a) { return e == Uc{1, 10, 1, a}; }},
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

    GetParam().reset(a);

    UcSet kept;
    for (const auto& e : all)
        if (!GetParam().removed(e, a)) kept.insert(e);
    expectUc(kept);
    EXPECT_EQ(PBB_ucpw_GetTotalNum(), kept.size());
}

INSTANTIATE_TEST_SUITE_P(Ctl, Resets, ::testing::ValuesIn(kResets), byName);

}  // namespace
}  // namespace ctltest
