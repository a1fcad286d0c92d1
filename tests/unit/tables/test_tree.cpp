// The ordered index beside each VSI's list, against a plain sorted vector:
// seeded adds and removals in the orders the table meets (arbitrary,
// ascending, descending, few distinct keys), grown past several levels and
// emptied again. After every change the index's records in order, its
// neighbours and its answers to a page must be the vector's; and its shape
// must hold what the walks down rely on.
#include "daemon/pbb_common.h"
#include "daemon/pbb_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

struct TreeRec {
    uint64_t key;
    uint32_t id;
};

enum class TreeOrder { Random, Ascending, Descending, FewKeys };

struct TreeShape {
    TreeOrder order;
    uint32_t seed;
};

// The records in order, with a check of every node on the way: keys
// ascending, each inside the bounds its parents' keys give, every record
// under its own key, no empty node, inner nodes with two children or more.
void collectTree(const PbbTreeNode* n, uint32_t height, uint32_t depth, const uint64_t* lo, const uint64_t* hi,
             std::vector<const TreeRec*>& out, std::string& fault)
{
    bool leaf = depth + 1 == height;
    uint32_t keys = leaf ? n->uiCount : n->uiCount - 1;
    if (n->uiCount == 0 || (!leaf && n->uiCount < 2)) fault += "an empty node; ";
    for (uint32_t i = 0; i < keys; ++i) {
        if ((lo != nullptr && n->aulKey[i] < *lo) || (hi != nullptr && n->aulKey[i] > *hi)) fault += "key out of bounds; ";
        if (i > 0 && n->aulKey[i] < n->aulKey[i - 1]) fault += "keys descend; ";
    }
    if (leaf) {
        for (uint32_t i = 0; i < n->uiCount; ++i) {
            auto* r = static_cast<const TreeRec*>(n->apSlot[i]);
            if (r->key != n->aulKey[i]) fault += "a record under another key; ";
            out.push_back(r);
        }
        return;
    }
    for (uint32_t i = 0; i < n->uiCount; ++i)
        collectTree(static_cast<const PbbTreeNode*>(n->apSlot[i]), height, depth + 1, i == 0 ? lo : &n->aulKey[i - 1],
                i + 1 == n->uiCount ? hi : &n->aulKey[i], out, fault);
}

class TreeSeeded : public ::testing::TestWithParam<TreeShape> {};

TEST_P(TreeSeeded, AnswersAsASortedVectorThroughGrowthAndShrinking)
{
    const TreeShape s = GetParam();
    std::mt19937 rng(s.seed);
    std::vector<TreeRec> store(6000);
    std::vector<const TreeRec*> ref;  // by key, equal keys in the order added
    PbbTree tree{};
    uint32_t next = 0;
    uint64_t ascending = 1000, descending = 1u << 30;
    auto keyFor = [&]() -> uint64_t {
        switch (s.order) {
        case TreeOrder::Ascending: return ascending += rng() % 3;  // repeats too
        case TreeOrder::Descending: return descending -= rng() % 3;
        case TreeOrder::FewKeys: return rng() % 40;
        default: return rng() % 100000;
        }
    };
    auto check = [&](uint32_t step) {
        std::vector<const TreeRec*> seen;
        std::string fault;
        if (tree.uiHeight != 0) collectTree(tree.pstRoot, tree.uiHeight, 0, nullptr, nullptr, seen, fault);
        ASSERT_EQ(fault, "") << "step " << step;
        ASSERT_EQ(seen, ref) << "step " << step;
        // A page: the first record of a greater key, or the one after the
        // index's last-not-greater.
        uint64_t probe = ref.empty() || rng() % 2 ? keyFor() : ref[rng() % ref.size()]->key;
        auto want = std::upper_bound(ref.begin(), ref.end(), probe,
                                     [](uint64_t k, const TreeRec* r) { return k < r->key; });
        bool last = false;
        auto* got = static_cast<const TreeRec*>(pbb::tree::upperBound(&tree, probe, &last));
        if (got != nullptr && last) {
            ASSERT_LE(got->key, probe);
            auto at = std::find(ref.begin(), ref.end(), got);
            ASSERT_NE(at, ref.end());
            got = at + 1 == ref.end() ? nullptr : *(at + 1);
        }
        ASSERT_EQ(got, want == ref.end() ? nullptr : *want) << "step " << step << " probe " << probe;
    };

    // Grow to 5,000 (mostly adds), shrink to nothing, grow to 2,000 again.
    const uint32_t phases[][2] = {{5000, 85}, {0, 10}, {2000, 90}};
    uint32_t step = 0;
    for (const auto& phase : phases) {
        while (phase[0] > 0 ? ref.size() < phase[0] : !ref.empty()) {
            ++step;
            if (rng() % 100 < phase[1] || ref.empty()) {
                TreeRec* r = &store[next++ % store.size()];
                if (std::find(ref.begin(), ref.end(), r) != ref.end()) continue;
                *r = TreeRec{keyFor(), next};
                auto at = std::upper_bound(ref.begin(), ref.end(), r->key,
                                           [](uint64_t k, const TreeRec* x) { return k < x->key; });
                void* prev = nullptr;
                void* after = nullptr;
                ASSERT_EQ(pbb::tree::insert(&tree, r->key, r, &prev, &after), PBB_OK);
                // Neighbours reported from the leaf: the true ones, at
                // least one of them unless the index was empty.
                if (prev != nullptr) {
                    ASSERT_EQ(prev, *(at - 1)) << "step " << step;
                }
                if (after != nullptr) {
                    ASSERT_EQ(after, *at) << "step " << step;
                }
                ASSERT_TRUE(prev != nullptr || after != nullptr || ref.empty()) << "step " << step;
                ref.insert(at, r);
            } else {
                size_t i = rng() % ref.size();
                ASSERT_TRUE(pbb::tree::erase(&tree, ref[i]->key, ref[i])) << "step " << step;
                ref.erase(ref.begin() + static_cast<std::ptrdiff_t>(i));
            }
            if (step % 7 == 0 || ref.size() < 64) check(step);
            if (HasFatalFailure()) return;
        }
        check(step);
        if (phase[0] == 0) {
            EXPECT_EQ(tree.uiHeight, 0u);
        }
    }
    EXPECT_GE(tree.uiHeight, 3u);
    // A record not filed, or filed under another key, is not taken out.
    TreeRec stranger{ref.front()->key, 0};
    EXPECT_FALSE(pbb::tree::erase(&tree, stranger.key, &stranger));
    EXPECT_FALSE(pbb::tree::erase(&tree, ref.front()->key + 1, ref.front()));
    pbb::tree::clear(&tree);
    EXPECT_EQ(tree.uiHeight, 0u);
    pbb::tree::releaseNodes();
}

INSTANTIATE_TEST_SUITE_P(Orders, TreeSeeded,
                         ::testing::Values(TreeShape{TreeOrder::Random, 1}, TreeShape{TreeOrder::Random, 2},
                                           TreeShape{TreeOrder::Ascending, 3}, TreeShape{TreeOrder::Descending, 4},
                                           TreeShape{TreeOrder::FewKeys, 5}));

// Keys added in ascending order fill the nodes they leave behind: a
// thousand records take 67 leaves, not the 125 that halves would, under
// five inner nodes (15 children each but the last), not eight.
TEST(Tree, AscendingAddsLeaveFullNodes)
{
    std::vector<TreeRec> recs(1000);
    PbbTree tree{};
    for (uint32_t i = 0; i < recs.size(); ++i) {
        recs[i] = TreeRec{i, i};
        void* prev = nullptr;
        void* after = nullptr;
        ASSERT_EQ(pbb::tree::insert(&tree, i, &recs[i], &prev, &after), PBB_OK);
    }
    std::vector<const TreeRec*> seen;
    std::string fault;
    collectTree(tree.pstRoot, tree.uiHeight, 0, nullptr, nullptr, seen, fault);
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_EQ(tree.uiHeight, 3u);
    EXPECT_EQ(tree.pstRoot->uiCount, 5u);
    uint32_t leaves = 0;
    for (uint32_t i = 0; i < tree.pstRoot->uiCount; ++i)
        leaves += static_cast<const PbbTreeNode*>(tree.pstRoot->apSlot[i])->uiCount;
    EXPECT_EQ(leaves, 67u);
    pbb::tree::clear(&tree);
    pbb::tree::releaseNodes();
}

}  // namespace
