// The multicast table's lookups through its slots by VSI index, against
// plain walks of its list: seeded random additions (an index twice now
// and then, indexes beyond the slots) and removals, each followed by the
// lookups a walk and a frame make. With slots for indexes 0 to 63 and
// without slots (no VSI table when the module started).
#include "daemon/pbb_common.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_vsi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr uint32_t kSlots = 64;
constexpr uint32_t kIndexes = 80;  // 64 to 79: beyond the slots

std::vector<PbbMcPw*> listed()
{
    std::vector<PbbMcPw*> out;
    for (PbbMcNode* n = g_stPbbMcList.pstNext; n != &g_stPbbMcList; n = n->pstNext)
        out.push_back(reinterpret_cast<PbbMcPw*>(n));
    return out;
}

class McPwIndex : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        // The module sizes its slots from the VSI table it finds at start.
        if (GetParam()) {
            g_ppstVsi = vsiTable_.data();
            g_uiPbbMaxVsiIndex = kSlots - 1;
        }
        ASSERT_EQ(PBB_mcpw_Init(), PBB_OK);
        ASSERT_EQ(g_uiPbbMcByVsiNum, GetParam() ? kSlots : 0u);
    }
    void TearDown() override
    {
        PBB_mcpw_Exit();
        g_ppstVsi = nullptr;
        g_uiPbbMaxVsiIndex = 0;
    }

private:
    std::vector<PbbVsi*> vsiTable_ = std::vector<PbbVsi*>(kSlots, nullptr);
};

TEST_P(McPwIndex, LookupsAnswerAsWalksOfTheList)
{
    for (uint32_t seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
        uint32_t added = 0;  // the I-SID tells the order of additions
        for (int step = 0; step < 1500; ++step) {
            std::vector<PbbMcPw*> before = listed();
            // Added ascending for a while (the list's back), then anywhere;
            // removed a third of the time.
            if (!before.empty() && pick(3) == 0) {
                PBB_mcpw_Destroy(before[pick(static_cast<uint32_t>(before.size()))]);
            } else {
                uint32_t index = step < 40 ? static_cast<uint32_t>(step) : pick(kIndexes);
                ASSERT_NE(PBB_mcpw_Create(index, ++added, 100), nullptr);
            }
            std::vector<PbbMcPw*> list = listed();
            // Ascending; entries of one index in the order they were added.
            for (size_t i = 1; i < list.size(); ++i) {
                ASSERT_LE(list[i - 1]->uiVsiIndex, list[i]->uiVsiIndex) << "seed " << seed << " step " << step;
                if (list[i - 1]->uiVsiIndex == list[i]->uiVsiIndex) {
                    ASSERT_LT(list[i - 1]->uiISid, list[i]->uiISid) << "seed " << seed << " step " << step;
                }
            }
            // Each index's entry and the entry after it: the first of the
            // list with that index, and the first with a greater one.
            for (uint32_t probe : {pick(kIndexes + 2), pick(kSlots), UINT32_MAX - pick(2)}) {
                PbbMcPw* first = nullptr;
                PbbMcPw* above = nullptr;
                for (PbbMcPw* e : list) {
                    if (first == nullptr && e->uiVsiIndex == probe) first = e;
                    if (above == nullptr && e->uiVsiIndex > probe) above = e;
                }
                ASSERT_EQ(PBB_mcpw_Get(probe), first) << "seed " << seed << " step " << step << " index " << probe;
                ASSERT_EQ(PBB_mcpw_GetNextByIndex(probe), above)
                    << "seed " << seed << " step " << step << " index " << probe;
            }
        }
        PBB_mcpw_Exit();
        ASSERT_EQ(PBB_mcpw_Init(), PBB_OK);
    }
}

INSTANTIATE_TEST_SUITE_P(Slots, McPwIndex, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "WithSlots" : "WithoutSlots"; });

}  // namespace
