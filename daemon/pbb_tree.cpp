// Red-black tree balance: a red node has black children, and every path
// from a node down to a null link passes the same number of black nodes.
// Both keep the height under twice the logarithm of the node count.
#include "daemon/pbb_tree.h"

namespace pbb::tree {
namespace {

constexpr uintptr_t PBB_TREE_BLACK = 1;

bool _pbb_tree_IsRed(const PbbTreeNode* pstNode)
{
    return pstNode != nullptr && (pstNode->ulParentColor & PBB_TREE_BLACK) == 0;
}

void _pbb_tree_SetParent(PbbTreeNode* pstNode, PbbTreeNode* pstParent)
{
    pstNode->ulParentColor = reinterpret_cast<uintptr_t>(pstParent) | (pstNode->ulParentColor & PBB_TREE_BLACK);
}

void _pbb_tree_SetBlack(PbbTreeNode* pstNode)
{
    pstNode->ulParentColor |= PBB_TREE_BLACK;
}

void _pbb_tree_SetRed(PbbTreeNode* pstNode)
{
    pstNode->ulParentColor &= ~PBB_TREE_BLACK;
}

// pstNew takes pstOld's place under pstOld's parent (or as the root).
void _pbb_tree_Replace(PbbTreeNode** ppstRoot, PbbTreeNode* pstOld, PbbTreeNode* pstNew)
{
    PbbTreeNode* pstParent = parent(pstOld);
    if (pstParent == nullptr)
        *ppstRoot = pstNew;
    else if (pstParent->pstLeft == pstOld)
        pstParent->pstLeft = pstNew;
    else
        pstParent->pstRight = pstNew;
    if (pstNew != nullptr) _pbb_tree_SetParent(pstNew, pstParent);
}

// pstNode's right child rises into its place; pstNode becomes its left child.
void _pbb_tree_RotateLeft(PbbTreeNode** ppstRoot, PbbTreeNode* pstNode)
{
    PbbTreeNode* pstUp = pstNode->pstRight;
    pstNode->pstRight = pstUp->pstLeft;
    if (pstUp->pstLeft != nullptr) _pbb_tree_SetParent(pstUp->pstLeft, pstNode);
    _pbb_tree_Replace(ppstRoot, pstNode, pstUp);
    pstUp->pstLeft = pstNode;
    _pbb_tree_SetParent(pstNode, pstUp);
}

void _pbb_tree_RotateRight(PbbTreeNode** ppstRoot, PbbTreeNode* pstNode)
{
    PbbTreeNode* pstUp = pstNode->pstLeft;
    pstNode->pstLeft = pstUp->pstRight;
    if (pstUp->pstRight != nullptr) _pbb_tree_SetParent(pstUp->pstRight, pstNode);
    _pbb_tree_Replace(ppstRoot, pstNode, pstUp);
    pstUp->pstRight = pstNode;
    _pbb_tree_SetParent(pstNode, pstUp);
}

// pstNode is red; its parent may be red too. Recolouring moves the clash
// up; at most two rotations end it.
void _pbb_tree_InsertFixup(PbbTreeNode** ppstRoot, PbbTreeNode* pstNode)
{
    for (;;) {
        PbbTreeNode* pstParent = parent(pstNode);
        if (pstParent == nullptr) {
            _pbb_tree_SetBlack(pstNode);
            return;
        }
        if (!_pbb_tree_IsRed(pstParent)) return;
        PbbTreeNode* pstGrand = parent(pstParent);  // a red parent is never the root
        bool bLeft = pstParent == pstGrand->pstLeft;
        PbbTreeNode* pstUncle = bLeft ? pstGrand->pstRight : pstGrand->pstLeft;
        if (_pbb_tree_IsRed(pstUncle)) {
            _pbb_tree_SetBlack(pstParent);
            _pbb_tree_SetBlack(pstUncle);
            _pbb_tree_SetRed(pstGrand);
            pstNode = pstGrand;
            continue;
        }
        if (bLeft) {
            if (pstNode == pstParent->pstRight) {
                _pbb_tree_RotateLeft(ppstRoot, pstParent);
                pstParent = pstNode;
            }
            _pbb_tree_SetBlack(pstParent);
            _pbb_tree_SetRed(pstGrand);
            _pbb_tree_RotateRight(ppstRoot, pstGrand);
        } else {
            if (pstNode == pstParent->pstLeft) {
                _pbb_tree_RotateRight(ppstRoot, pstParent);
                pstParent = pstNode;
            }
            _pbb_tree_SetBlack(pstParent);
            _pbb_tree_SetRed(pstGrand);
            _pbb_tree_RotateLeft(ppstRoot, pstGrand);
        }
        return;
    }
}

// A black node left the paths through pstNode (null or black), the child
// of pstParent: they are one black short of their neighbours'.
void _pbb_tree_EraseFixup(PbbTreeNode** ppstRoot, PbbTreeNode* pstNode, PbbTreeNode* pstParent)
{
    while (pstNode != *ppstRoot && !_pbb_tree_IsRed(pstNode)) {
        // The short side has a sibling: its paths hold at least one black.
        if (pstNode == pstParent->pstLeft) {
            PbbTreeNode* pstSib = pstParent->pstRight;
            if (_pbb_tree_IsRed(pstSib)) {
                _pbb_tree_SetBlack(pstSib);
                _pbb_tree_SetRed(pstParent);
                _pbb_tree_RotateLeft(ppstRoot, pstParent);
                pstSib = pstParent->pstRight;
            }
            if (!_pbb_tree_IsRed(pstSib->pstLeft) && !_pbb_tree_IsRed(pstSib->pstRight)) {
                _pbb_tree_SetRed(pstSib);
                pstNode = pstParent;
                pstParent = parent(pstNode);
                continue;
            }
            if (!_pbb_tree_IsRed(pstSib->pstRight)) {
                _pbb_tree_SetBlack(pstSib->pstLeft);
                _pbb_tree_SetRed(pstSib);
                _pbb_tree_RotateRight(ppstRoot, pstSib);
                pstSib = pstParent->pstRight;
            }
            pstSib->ulParentColor = (pstSib->ulParentColor & ~PBB_TREE_BLACK) | (pstParent->ulParentColor & PBB_TREE_BLACK);
            _pbb_tree_SetBlack(pstParent);
            _pbb_tree_SetBlack(pstSib->pstRight);
            _pbb_tree_RotateLeft(ppstRoot, pstParent);
        } else {
            PbbTreeNode* pstSib = pstParent->pstLeft;
            if (_pbb_tree_IsRed(pstSib)) {
                _pbb_tree_SetBlack(pstSib);
                _pbb_tree_SetRed(pstParent);
                _pbb_tree_RotateRight(ppstRoot, pstParent);
                pstSib = pstParent->pstLeft;
            }
            if (!_pbb_tree_IsRed(pstSib->pstLeft) && !_pbb_tree_IsRed(pstSib->pstRight)) {
                _pbb_tree_SetRed(pstSib);
                pstNode = pstParent;
                pstParent = parent(pstNode);
                continue;
            }
            if (!_pbb_tree_IsRed(pstSib->pstLeft)) {
                _pbb_tree_SetBlack(pstSib->pstRight);
                _pbb_tree_SetRed(pstSib);
                _pbb_tree_RotateLeft(ppstRoot, pstSib);
                pstSib = pstParent->pstLeft;
            }
            pstSib->ulParentColor = (pstSib->ulParentColor & ~PBB_TREE_BLACK) | (pstParent->ulParentColor & PBB_TREE_BLACK);
            _pbb_tree_SetBlack(pstParent);
            _pbb_tree_SetBlack(pstSib->pstLeft);
            _pbb_tree_RotateRight(ppstRoot, pstParent);
        }
        pstNode = *ppstRoot;
    }
    if (pstNode != nullptr) _pbb_tree_SetBlack(pstNode);
}

}  // namespace

void insert(PbbTreeNode** ppstRoot, PbbTreeNode* pstParent, PbbTreeNode** ppstLink, PbbTreeNode* pstNode)
{
    pstNode->ulParentColor = reinterpret_cast<uintptr_t>(pstParent);  // red
    pstNode->pstLeft = nullptr;
    pstNode->pstRight = nullptr;
    *ppstLink = pstNode;
    _pbb_tree_InsertFixup(ppstRoot, pstNode);
}

void erase(PbbTreeNode** ppstRoot, PbbTreeNode* pstNode)
{
    PbbTreeNode* pstChild = nullptr;       // what moves up into the removed place
    PbbTreeNode* pstChildParent = nullptr;  // its parent afterwards
    bool bBlackGone = false;
    if (pstNode->pstLeft == nullptr || pstNode->pstRight == nullptr) {
        pstChild = pstNode->pstLeft != nullptr ? pstNode->pstLeft : pstNode->pstRight;
        pstChildParent = parent(pstNode);
        bBlackGone = !_pbb_tree_IsRed(pstNode);
        _pbb_tree_Replace(ppstRoot, pstNode, pstChild);
    } else {
        // Two children: the in-order successor (leftmost of the right
        // subtree, which has no left child) takes the node's place and
        // colour; the successor's own place is what loses a node.
        PbbTreeNode* pstNext = pstNode->pstRight;
        while (pstNext->pstLeft != nullptr) pstNext = pstNext->pstLeft;
        bBlackGone = !_pbb_tree_IsRed(pstNext);
        pstChild = pstNext->pstRight;
        if (parent(pstNext) == pstNode) {
            pstChildParent = pstNext;
        } else {
            pstChildParent = parent(pstNext);
            _pbb_tree_Replace(ppstRoot, pstNext, pstChild);
            pstNext->pstRight = pstNode->pstRight;
            _pbb_tree_SetParent(pstNext->pstRight, pstNext);
        }
        _pbb_tree_Replace(ppstRoot, pstNode, pstNext);
        pstNext->pstLeft = pstNode->pstLeft;
        _pbb_tree_SetParent(pstNext->pstLeft, pstNext);
        pstNext->ulParentColor = (pstNext->ulParentColor & ~PBB_TREE_BLACK) | (pstNode->ulParentColor & PBB_TREE_BLACK);
    }
    pstNode->ulParentColor = 0;
    pstNode->pstLeft = nullptr;
    pstNode->pstRight = nullptr;
    if (bBlackGone) _pbb_tree_EraseFixup(ppstRoot, pstChild, pstChildParent);
}

}  // namespace pbb::tree
