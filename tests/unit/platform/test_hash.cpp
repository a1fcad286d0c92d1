#include "platform/hash.h"
#include "platform/testing.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace {

struct Node {
    HASH_NODE_S stLink;  // first, as the table expects
    uint32_t uiKey;
};

constexpr uint32_t BUCKETS = 8;
uint32_t indexOf(const void* key) { return *static_cast<const uint32_t*>(key) % BUCKETS; }
uint32_t strayIndex(const void*) { return BUCKETS; }
int compare(const HASH_NODE_S* n, const void* key)
{
    return reinterpret_cast<const Node*>(n)->uiKey == *static_cast<const uint32_t*>(key) ? 0 : 1;
}

// The caller's side of the protocol: head insertion with back pointers.
void link(HASH_TABLE_S* t, Node* n)
{
    HASH_NODE_S** head = &t->ppstBuckets[t->pfIndex(&n->uiKey)];
    n->stLink.pstNext = *head;
    n->stLink.ppstPrev = head;
    if (*head != nullptr) (*head)->ppstPrev = &n->stLink.pstNext;
    *head = &n->stLink;
}

void unlink(Node* n)
{
    *n->stLink.ppstPrev = n->stLink.pstNext;
    if (n->stLink.pstNext != nullptr) n->stLink.pstNext->ppstPrev = n->stLink.ppstPrev;
}

Node* find(const HASH_TABLE_S* t, uint32_t key) { return reinterpret_cast<Node*>(HASH_Find(t, &key, compare)); }

int g_freed = 0;
void freeNode(HASH_NODE_S* n)
{
    ++g_freed;
    delete reinterpret_cast<Node*>(n);
}

TEST(Hash, CallerLinkedNodesAreFoundUntilUnlinked)
{
    HASH_TABLE_S* t = HASH_Create(BUCKETS, indexOf);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->uiBuckets, BUCKETS);
    // Keys 1, 9 and 17 share a bucket; 4 is alone.
    Node a{{}, 1}, b{{}, 9}, c{{}, 17}, d{{}, 4};
    for (Node* n : {&a, &b, &c, &d}) link(t, n);
    for (Node* n : {&a, &b, &c, &d}) EXPECT_EQ(find(t, n->uiKey), n);
    EXPECT_EQ(find(t, 25), nullptr) << "same bucket, no such key";

    unlink(&b);  // middle of the chain
    EXPECT_EQ(find(t, 9), nullptr);
    EXPECT_EQ(find(t, 1), &a);
    EXPECT_EQ(find(t, 17), &c);
    unlink(&c);  // head of the chain
    EXPECT_EQ(find(t, 1), &a);
    unlink(&a);
    EXPECT_EQ(t->ppstBuckets[1], nullptr);
    HASH_Destroy(t, nullptr);  // no free function: the remaining node d is left alone
    EXPECT_EQ(d.uiKey, 4u);
}

TEST(Hash, DestroyHandsBackEveryLinkedNode)
{
    HASH_TABLE_S* t = HASH_Create(BUCKETS, indexOf);
    ASSERT_NE(t, nullptr);
    for (uint32_t k = 0; k < 20; ++k) link(t, new Node{{}, k});
    g_freed = 0;
    HASH_Destroy(t, freeNode);  // ASan reports any node left or touched after its release
    EXPECT_EQ(g_freed, 20);
}

TEST(Hash, RefusalsAndStrayIndexes)
{
    EXPECT_EQ(HASH_Create(0, indexOf), nullptr);
    EXPECT_EQ(HASH_Create(4, nullptr), nullptr);
    plat::testing::failCall("HASH_Create", 0);
    EXPECT_EQ(HASH_Create(4, indexOf), nullptr);
    plat::testing::reset();

    HASH_TABLE_S* t = HASH_Create(BUCKETS, strayIndex);
    ASSERT_NE(t, nullptr);
    uint32_t key = 3;
    EXPECT_EQ(HASH_Find(t, &key, compare), nullptr) << "an index beyond the buckets finds nothing";
    HASH_Destroy(t, freeNode);
}

}  // namespace
