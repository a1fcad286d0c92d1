// Ordered index of records by 64-bit keys: a B+tree of 256-byte nodes.
//
// Keys need not be unique: a record added goes behind every record whose
// key is not greater, so that records of equal keys keep the order they
// were added in. Leaves hold up to 15 keys with their records, inner nodes
// up to 16 children; a walk down reads a few nodes, each a few adjacent
// cache lines, where a binary tree would read a record per level.
//
// The index does not link leaves to each other: its user keeps the same
// records in a list in the same order, and steps along that list from the
// neighbours the index reports.
#pragma once

#include <cstdint>

constexpr uint32_t PBB_TREE_LEAF_MAX = 15;   // keys and records of a leaf
constexpr uint32_t PBB_TREE_INNER_MAX = 16;  // children of an inner node

struct PbbTreeNode {
    uint32_t uiCount;  // leaf: records; inner node: children
    uint32_t uiSpare;
    // Leaf: the records' keys, ascending. Inner node: aulKey[i] is not
    // less than any key under child i and not greater than any under
    // child i + 1.
    uint64_t aulKey[PBB_TREE_LEAF_MAX];
    // Leaf: the records. Inner node: the children.
    void* apSlot[PBB_TREE_INNER_MAX];
};
static_assert(sizeof(PbbTreeNode) == 256, "a node is four cache lines");

struct PbbTree {
    PbbTreeNode* pstRoot;  // a leaf when uiHeight is 1
    uint32_t uiHeight;     // levels of nodes; 0: empty
};

namespace pbb::tree {

// Adds pRec under ulKey behind every record whose key is not greater.
// *ppNext is the record the new one now precedes when that is in the same
// leaf, else null; *ppPrev the one it follows when that is in the same
// leaf, else null. At least one is set unless the index was empty.
// PBB_OK, or PBB_ERR when no memory was left for a node (nothing changed).
uint32_t insert(PbbTree* pstTree, uint64_t ulKey, void* pRec, void** ppPrev, void** ppNext);

// Takes out the record pRec filed under ulKey; false when it is not there.
bool erase(PbbTree* pstTree, uint64_t ulKey, const void* pRec);

// The first record whose key is greater than ulKey, looked for in the one
// leaf where it would be: that record; or, when no key of that leaf is
// greater, the leaf's last record with *pbLast set (the answer is the
// record after it, if any); null when the index is empty.
void* upperBound(const PbbTree* pstTree, uint64_t ulKey, bool* pbLast);

// Frees every node: the index is empty.
void clear(PbbTree* pstTree);

// Gives the node pool's memory back to the system; every index must be
// empty.
void releaseNodes();

}  // namespace pbb::tree
