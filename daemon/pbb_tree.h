// Red-black trees whose nodes live inside the records they order.
//
// The tree only keeps the shape: the caller finds where a new node goes by
// walking down from the root with its own comparison, links it there with
// insert(), and takes a node out with erase(). A node is three words: the
// parent's address with the colour in its lowest bit, then the two
// children. An empty tree is a null root.
#pragma once

#include <cstdint>

struct PbbTreeNode {
    uintptr_t ulParentColor;  // parent's address; bit 0 set: black
    PbbTreeNode* pstLeft;
    PbbTreeNode* pstRight;
};
static_assert(alignof(PbbTreeNode) >= 2, "bit 0 of a node's address is free for the colour");

namespace pbb::tree {

inline PbbTreeNode* parent(const PbbTreeNode* pstNode)
{
    return reinterpret_cast<PbbTreeNode*>(pstNode->ulParentColor & ~uintptr_t{1});
}

// Links pstNode as a leaf at *ppstLink, a null child link of pstParent (or
// the root link itself when pstParent is null), and rebalances.
void insert(PbbTreeNode** ppstRoot, PbbTreeNode* pstParent, PbbTreeNode** ppstLink, PbbTreeNode* pstNode);

// Takes pstNode out of the tree and rebalances; the other nodes keep their
// in-order sequence.
void erase(PbbTreeNode** ppstRoot, PbbTreeNode* pstNode);

}  // namespace pbb::tree
