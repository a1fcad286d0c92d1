// B+tree balance: every leaf is at the same depth; a node other than the
// root keeps at least a third of its room (a leaf left with fewer records
// joins a neighbour or takes some of its records), and an inner node other
// than the root at least two children. A node that overflows splits in
// halves, except at the right edge of the index, where keys added in
// ascending order leave full nodes behind them.
#include "daemon/pbb_tree.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_pool.h"

#include <cstring>

namespace pbb::tree {
namespace {

constexpr uint32_t PBB_TREE_LEAF_MIN = PBB_TREE_LEAF_MAX / 3;
constexpr uint32_t PBB_TREE_INNER_MIN = PBB_TREE_INNER_MAX / 3;
// Every inner node but the root has two children or more: an index of
// 2^32 records is at most 33 levels high.
constexpr uint32_t PBB_TREE_MAX_HEIGHT = 40;
static_assert(PBB_TREE_LEAF_MIN >= 1 && PBB_TREE_INNER_MIN >= 2);

PbbPool g_stPbb_TreePool = {sizeof(PbbTreeNode), PBB_POOL_SLAB_SIZE, 0, nullptr, nullptr, false};

// One inner node of a walk down and the child taken.
struct PbbTreeStep {
    PbbTreeNode* pstNode;
    uint32_t uiIndex;
};

inline PbbTreeNode* _pbb_tree_Child(const PbbTreeNode* pstNode, uint32_t uiIndex)
{
    return static_cast<PbbTreeNode*>(pstNode->apSlot[uiIndex]);
}

// A node's four lines, asked for at once.
inline void _pbb_tree_Prefetch(const PbbTreeNode* pstNode)
{
    const char* p = reinterpret_cast<const char*>(pstNode);
    for (uint32_t i = 0; i < sizeof(PbbTreeNode); i += 64) __builtin_prefetch(p + i);
}

// Keys of the first uiNum not greater than ulKey (the keys ascend). A key
// at or above the last, as a VSI's entries learned or restored in order
// bring, is answered by the last key alone.
inline uint32_t _pbb_tree_NotGreater(const uint64_t* pulKey, uint32_t uiNum, uint64_t ulKey)
{
    if (uiNum != 0 && pulKey[uiNum - 1] <= ulKey) return uiNum;
    uint32_t n = 0;
    for (uint32_t i = 0; i < uiNum; ++i) n += pulKey[i] <= ulKey ? 1u : 0u;
    return n;
}

// Keys of the first uiNum less than ulKey.
inline uint32_t _pbb_tree_Less(const uint64_t* pulKey, uint32_t uiNum, uint64_t ulKey)
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < uiNum; ++i) n += pulKey[i] < ulKey ? 1u : 0u;
    return n;
}

// Opens a gap at position uiAt of the first uiNum entries of an array.
template <typename T>
inline void _pbb_tree_OpenGap(T* pArray, uint32_t uiNum, uint32_t uiAt)
{
    std::memmove(pArray + uiAt + 1, pArray + uiAt, (uiNum - uiAt) * sizeof(T));
}

// Closes the gap left at position uiAt of the first uiNum entries.
template <typename T>
inline void _pbb_tree_CloseGap(T* pArray, uint32_t uiNum, uint32_t uiAt)
{
    std::memmove(pArray + uiAt, pArray + uiAt + 1, (uiNum - uiAt - 1) * sizeof(T));
}

// Splits a full leaf that takes one more record at uiAt: the leaf keeps
// the first uiLeft of the sixteen, pstRight gets the rest.
void _pbb_tree_SplitLeaf(PbbTreeNode* pstLeaf, PbbTreeNode* pstRight, uint32_t uiAt, uint64_t ulKey, void* pRec,
                         uint32_t uiLeft)
{
    constexpr uint32_t uiAll = PBB_TREE_LEAF_MAX + 1;
    uint64_t aulKey[uiAll];
    void* apRec[uiAll];
    std::memcpy(aulKey, pstLeaf->aulKey, uiAt * sizeof(uint64_t));
    std::memcpy(apRec, pstLeaf->apSlot, uiAt * sizeof(void*));
    aulKey[uiAt] = ulKey;
    apRec[uiAt] = pRec;
    std::memcpy(aulKey + uiAt + 1, pstLeaf->aulKey + uiAt, (PBB_TREE_LEAF_MAX - uiAt) * sizeof(uint64_t));
    std::memcpy(apRec + uiAt + 1, pstLeaf->apSlot + uiAt, (PBB_TREE_LEAF_MAX - uiAt) * sizeof(void*));
    std::memcpy(pstLeaf->aulKey, aulKey, uiLeft * sizeof(uint64_t));
    std::memcpy(pstLeaf->apSlot, apRec, uiLeft * sizeof(void*));
    pstLeaf->uiCount = uiLeft;
    std::memcpy(pstRight->aulKey, aulKey + uiLeft, (uiAll - uiLeft) * sizeof(uint64_t));
    std::memcpy(pstRight->apSlot, apRec + uiLeft, (uiAll - uiLeft) * sizeof(void*));
    pstRight->uiCount = uiAll - uiLeft;
}

// Splits a full inner node that takes one more child, pstChild after child
// uiAt with the key ulKey between them: the node keeps the first uiLeft of
// the seventeen children, pstRight gets the rest; returns the key between
// the two nodes.
uint64_t _pbb_tree_SplitInner(PbbTreeNode* pstNode, PbbTreeNode* pstRight, uint32_t uiAt, uint64_t ulKey,
                              PbbTreeNode* pstChild, uint32_t uiLeft)
{
    constexpr uint32_t uiAll = PBB_TREE_INNER_MAX + 1;
    uint64_t aulKey[uiAll - 1];
    void* apChild[uiAll];
    std::memcpy(aulKey, pstNode->aulKey, uiAt * sizeof(uint64_t));
    aulKey[uiAt] = ulKey;
    std::memcpy(aulKey + uiAt + 1, pstNode->aulKey + uiAt, (PBB_TREE_INNER_MAX - 1 - uiAt) * sizeof(uint64_t));
    std::memcpy(apChild, pstNode->apSlot, (uiAt + 1) * sizeof(void*));
    apChild[uiAt + 1] = pstChild;
    std::memcpy(apChild + uiAt + 2, pstNode->apSlot + uiAt + 1, (PBB_TREE_INNER_MAX - 1 - uiAt) * sizeof(void*));
    std::memcpy(pstNode->aulKey, aulKey, (uiLeft - 1) * sizeof(uint64_t));
    std::memcpy(pstNode->apSlot, apChild, uiLeft * sizeof(void*));
    pstNode->uiCount = uiLeft;
    std::memcpy(pstRight->aulKey, aulKey + uiLeft, (uiAll - 1 - uiLeft) * sizeof(uint64_t));
    std::memcpy(pstRight->apSlot, apChild + uiLeft, (uiAll - uiLeft) * sizeof(void*));
    pstRight->uiCount = uiAll - uiLeft;
    return aulKey[uiLeft - 1];
}

// Moves the right node's content behind the left's (with the parent's key
// between them for inner nodes).
void _pbb_tree_Join(PbbTreeNode* pstLeft, PbbTreeNode* pstRight, uint64_t ulBetween, bool bLeaf)
{
    uint32_t l = pstLeft->uiCount;
    uint32_t r = pstRight->uiCount;
    if (bLeaf) {
        std::memcpy(pstLeft->aulKey + l, pstRight->aulKey, r * sizeof(uint64_t));
    } else {
        pstLeft->aulKey[l - 1] = ulBetween;
        std::memcpy(pstLeft->aulKey + l, pstRight->aulKey, (r - 1) * sizeof(uint64_t));
    }
    std::memcpy(pstLeft->apSlot + l, pstRight->apSlot, r * sizeof(void*));
    pstLeft->uiCount = l + r;
}

// Shares two neighbours' content evenly; returns the new key between them.
uint64_t _pbb_tree_Share(PbbTreeNode* pstLeft, PbbTreeNode* pstRight, uint64_t ulBetween, bool bLeaf)
{
    uint32_t uiAll = pstLeft->uiCount + pstRight->uiCount;
    uint64_t aulKey[2 * PBB_TREE_INNER_MAX];
    void* apSlot[2 * PBB_TREE_INNER_MAX];
    uint32_t l = pstLeft->uiCount;
    uint32_t uiLeftKeys = bLeaf ? l : l - 1;
    std::memcpy(aulKey, pstLeft->aulKey, uiLeftKeys * sizeof(uint64_t));
    uint32_t uiKeys = uiLeftKeys;
    if (!bLeaf) aulKey[uiKeys++] = ulBetween;
    uint32_t uiRightKeys = bLeaf ? pstRight->uiCount : pstRight->uiCount - 1;
    std::memcpy(aulKey + uiKeys, pstRight->aulKey, uiRightKeys * sizeof(uint64_t));
    std::memcpy(apSlot, pstLeft->apSlot, l * sizeof(void*));
    std::memcpy(apSlot + l, pstRight->apSlot, pstRight->uiCount * sizeof(void*));

    uint32_t uiLeft = uiAll / 2;
    std::memcpy(pstLeft->apSlot, apSlot, uiLeft * sizeof(void*));
    std::memcpy(pstRight->apSlot, apSlot + uiLeft, (uiAll - uiLeft) * sizeof(void*));
    pstLeft->uiCount = uiLeft;
    pstRight->uiCount = uiAll - uiLeft;
    if (bLeaf) {
        std::memcpy(pstLeft->aulKey, aulKey, uiLeft * sizeof(uint64_t));
        std::memcpy(pstRight->aulKey, aulKey + uiLeft, (uiAll - uiLeft) * sizeof(uint64_t));
        return pstRight->aulKey[0];
    }
    std::memcpy(pstLeft->aulKey, aulKey, (uiLeft - 1) * sizeof(uint64_t));
    std::memcpy(pstRight->aulKey, aulKey + uiLeft, (uiAll - uiLeft - 1) * sizeof(uint64_t));
    return aulKey[uiLeft - 1];
}

// After a removal from the node at depth uiDepth of the walk pstPath: while
// a node is short, it joins a neighbour or takes a share of its content;
// a root left with one child gives way to it.
void _pbb_tree_Rebalance(PbbTree* pstTree, PbbTreeStep* pstPath, uint32_t uiDepth, PbbTreeNode* pstNode)
{
    for (;;) {
        bool bLeaf = uiDepth + 1 == pstTree->uiHeight;
        if (uiDepth == 0) {
            if (bLeaf && pstNode->uiCount == 0) {
                PBB_pool_Free(&g_stPbb_TreePool, pstNode);
                pstTree->pstRoot = nullptr;
                pstTree->uiHeight = 0;
            } else if (!bLeaf && pstNode->uiCount == 1) {
                pstTree->pstRoot = _pbb_tree_Child(pstNode, 0);
                pstTree->uiHeight--;
                PBB_pool_Free(&g_stPbb_TreePool, pstNode);
            }
            return;
        }
        if (pstNode->uiCount >= (bLeaf ? PBB_TREE_LEAF_MIN : PBB_TREE_INNER_MIN)) return;
        PbbTreeNode* pstParent = pstPath[uiDepth - 1].pstNode;
        uint32_t uiAt = pstPath[uiDepth - 1].uiIndex;
        uint32_t uiBetween = uiAt > 0 ? uiAt - 1 : 0;  // the parent's key between the pair
        PbbTreeNode* pstLeft = _pbb_tree_Child(pstParent, uiBetween);
        PbbTreeNode* pstRight = _pbb_tree_Child(pstParent, uiBetween + 1);
        if (pstLeft->uiCount + pstRight->uiCount > (bLeaf ? PBB_TREE_LEAF_MAX : PBB_TREE_INNER_MAX)) {
            pstParent->aulKey[uiBetween] = _pbb_tree_Share(pstLeft, pstRight, pstParent->aulKey[uiBetween], bLeaf);
            return;
        }
        _pbb_tree_Join(pstLeft, pstRight, pstParent->aulKey[uiBetween], bLeaf);
        PBB_pool_Free(&g_stPbb_TreePool, pstRight);
        _pbb_tree_CloseGap(pstParent->aulKey, pstParent->uiCount - 1, uiBetween);
        _pbb_tree_CloseGap(pstParent->apSlot, pstParent->uiCount, uiBetween + 1);
        pstParent->uiCount--;
        pstNode = pstParent;
        --uiDepth;
    }
}

// Moves the walk on to the next leaf; false after the last.
bool _pbb_tree_NextLeaf(const PbbTree* pstTree, PbbTreeStep* pstPath, PbbTreeNode** ppstLeaf)
{
    uint32_t uiInner = pstTree->uiHeight - 1;
    uint32_t uiDepth = uiInner;
    while (uiDepth > 0 && pstPath[uiDepth - 1].uiIndex + 1 == pstPath[uiDepth - 1].pstNode->uiCount) --uiDepth;
    if (uiDepth == 0) return false;
    --uiDepth;
    PbbTreeNode* pstNode = _pbb_tree_Child(pstPath[uiDepth].pstNode, ++pstPath[uiDepth].uiIndex);
    for (++uiDepth; uiDepth < uiInner; ++uiDepth) {
        pstPath[uiDepth] = {pstNode, 0};
        pstNode = _pbb_tree_Child(pstNode, 0);
    }
    *ppstLeaf = pstNode;
    return true;
}

void _pbb_tree_Free(PbbTreeNode* pstNode, uint32_t uiHeight)
{
    if (uiHeight > 1)
        for (uint32_t i = 0; i < pstNode->uiCount; ++i) _pbb_tree_Free(_pbb_tree_Child(pstNode, i), uiHeight - 1);
    PBB_pool_Free(&g_stPbb_TreePool, pstNode);
}

}  // namespace

uint32_t insert(PbbTree* pstTree, uint64_t ulKey, void* pRec, void** ppPrev, void** ppNext)
{
    *ppPrev = nullptr;
    *ppNext = nullptr;
    if (pstTree->uiHeight == 0) {
        auto* pstLeaf = static_cast<PbbTreeNode*>(PBB_pool_Alloc(&g_stPbb_TreePool));
        if (pstLeaf == nullptr) return PBB_ERR;
        pstLeaf->uiCount = 1;
        pstLeaf->aulKey[0] = ulKey;
        pstLeaf->apSlot[0] = pRec;
        pstTree->pstRoot = pstLeaf;
        pstTree->uiHeight = 1;
        return PBB_OK;
    }

    // Down to the leaf, behind every key not greater. bEdge[d]: the node
    // at depth d is on the right edge of the index.
    PbbTreeStep astPath[PBB_TREE_MAX_HEIGHT];
    bool abEdge[PBB_TREE_MAX_HEIGHT + 1];
    uint32_t uiInner = pstTree->uiHeight - 1;
    PbbTreeNode* pstNode = pstTree->pstRoot;
    abEdge[0] = true;
    for (uint32_t d = 0; d < uiInner; ++d) {
        uint32_t i = _pbb_tree_NotGreater(pstNode->aulKey, pstNode->uiCount - 1, ulKey);
        astPath[d] = {pstNode, i};
        abEdge[d + 1] = abEdge[d] && i + 1 == pstNode->uiCount;
        pstNode = _pbb_tree_Child(pstNode, i);
        _pbb_tree_Prefetch(pstNode);
    }
    PbbTreeNode* pstLeaf = pstNode;
    uint32_t uiAt = _pbb_tree_NotGreater(pstLeaf->aulKey, pstLeaf->uiCount, ulKey);
    if (uiAt > 0) *ppPrev = pstLeaf->apSlot[uiAt - 1];
    if (uiAt < pstLeaf->uiCount) *ppNext = pstLeaf->apSlot[uiAt];

    if (pstLeaf->uiCount < PBB_TREE_LEAF_MAX) {
        _pbb_tree_OpenGap(pstLeaf->aulKey, pstLeaf->uiCount, uiAt);
        _pbb_tree_OpenGap(pstLeaf->apSlot, pstLeaf->uiCount, uiAt);
        pstLeaf->aulKey[uiAt] = ulKey;
        pstLeaf->apSlot[uiAt] = pRec;
        pstLeaf->uiCount++;
        return PBB_OK;
    }

    // The leaf splits, and each full node above it; a new root when all
    // do. Every node needed is taken before anything changes.
    uint32_t uiSplits = 1;
    uint32_t uiTop = uiInner;  // depth of the lowest node that does not split
    while (uiTop > 0 && astPath[uiTop - 1].pstNode->uiCount == PBB_TREE_INNER_MAX) {
        ++uiSplits;
        --uiTop;
    }
    uint32_t uiNeed = uiSplits + (uiTop == 0 ? 1 : 0);
    PbbTreeNode* apstFresh[PBB_TREE_MAX_HEIGHT + 1];
    for (uint32_t i = 0; i < uiNeed; ++i) {
        apstFresh[i] = static_cast<PbbTreeNode*>(PBB_pool_Alloc(&g_stPbb_TreePool));
        if (apstFresh[i] == nullptr) {
            while (i > 0) PBB_pool_Free(&g_stPbb_TreePool, apstFresh[--i]);
            return PBB_ERR;
        }
    }

    // At the right edge a full node keeps its content and the new one
    // starts the next (an inner node passes on two children).
    bool bEnd = abEdge[uiInner] && uiAt == PBB_TREE_LEAF_MAX;
    PbbTreeNode* pstNew = apstFresh[0];
    _pbb_tree_SplitLeaf(pstLeaf, pstNew, uiAt, ulKey, pRec, bEnd ? PBB_TREE_LEAF_MAX : (PBB_TREE_LEAF_MAX + 1) / 2);
    uint64_t ulBetween = pstNew->aulKey[0];
    uint32_t uiFresh = 1;
    for (uint32_t d = uiInner; d > 0; --d) {
        PbbTreeNode* pstParent = astPath[d - 1].pstNode;
        uint32_t i = astPath[d - 1].uiIndex;
        if (pstParent->uiCount < PBB_TREE_INNER_MAX) {
            _pbb_tree_OpenGap(pstParent->aulKey, pstParent->uiCount - 1, i);
            _pbb_tree_OpenGap(pstParent->apSlot, pstParent->uiCount, i + 1);
            pstParent->aulKey[i] = ulBetween;
            pstParent->apSlot[i + 1] = pstNew;
            pstParent->uiCount++;
            return PBB_OK;
        }
        bool bParentEnd = abEdge[d - 1] && i + 1 == PBB_TREE_INNER_MAX;
        PbbTreeNode* pstRight = apstFresh[uiFresh++];
        ulBetween = _pbb_tree_SplitInner(pstParent, pstRight, i, ulBetween, pstNew,
                                         bParentEnd ? PBB_TREE_INNER_MAX - 1 : (PBB_TREE_INNER_MAX + 1) / 2);
        pstNew = pstRight;
    }
    PbbTreeNode* pstRoot = apstFresh[uiFresh];
    pstRoot->uiCount = 2;
    pstRoot->aulKey[0] = ulBetween;
    pstRoot->apSlot[0] = pstTree->pstRoot;
    pstRoot->apSlot[1] = pstNew;
    pstTree->pstRoot = pstRoot;
    pstTree->uiHeight++;
    return PBB_OK;
}

bool erase(PbbTree* pstTree, uint64_t ulKey, const void* pRec)
{
    if (pstTree->uiHeight == 0) return false;
    // Down to the first key not less, then along the equal keys.
    PbbTreeStep astPath[PBB_TREE_MAX_HEIGHT];
    uint32_t uiInner = pstTree->uiHeight - 1;
    PbbTreeNode* pstNode = pstTree->pstRoot;
    for (uint32_t d = 0; d < uiInner; ++d) {
        uint32_t i = _pbb_tree_Less(pstNode->aulKey, pstNode->uiCount - 1, ulKey);
        astPath[d] = {pstNode, i};
        pstNode = _pbb_tree_Child(pstNode, i);
        _pbb_tree_Prefetch(pstNode);
    }
    uint32_t uiAt = _pbb_tree_Less(pstNode->aulKey, pstNode->uiCount, ulKey);
    for (;;) {
        while (uiAt < pstNode->uiCount && pstNode->aulKey[uiAt] == ulKey && pstNode->apSlot[uiAt] != pRec) ++uiAt;
        if (uiAt < pstNode->uiCount) break;
        if (!_pbb_tree_NextLeaf(pstTree, astPath, &pstNode)) return false;
        uiAt = 0;
    }
    if (pstNode->aulKey[uiAt] != ulKey) return false;
    _pbb_tree_CloseGap(pstNode->aulKey, pstNode->uiCount, uiAt);
    _pbb_tree_CloseGap(pstNode->apSlot, pstNode->uiCount, uiAt);
    pstNode->uiCount--;
    _pbb_tree_Rebalance(pstTree, astPath, uiInner, pstNode);
    return true;
}

void* upperBound(const PbbTree* pstTree, uint64_t ulKey, bool* pbLast)
{
    *pbLast = false;
    if (pstTree->uiHeight == 0) return nullptr;
    const PbbTreeNode* pstNode = pstTree->pstRoot;
    for (uint32_t d = 1; d < pstTree->uiHeight; ++d) {
        pstNode = _pbb_tree_Child(pstNode, _pbb_tree_NotGreater(pstNode->aulKey, pstNode->uiCount - 1, ulKey));
        _pbb_tree_Prefetch(pstNode);
    }
    uint32_t uiAt = _pbb_tree_NotGreater(pstNode->aulKey, pstNode->uiCount, ulKey);
    if (uiAt < pstNode->uiCount) return pstNode->apSlot[uiAt];
    *pbLast = true;
    return pstNode->apSlot[pstNode->uiCount - 1];
}

void clear(PbbTree* pstTree)
{
    if (pstTree->uiHeight != 0) _pbb_tree_Free(pstTree->pstRoot, pstTree->uiHeight);
    pstTree->pstRoot = nullptr;
    pstTree->uiHeight = 0;
}

void releaseNodes()
{
    PBB_pool_Exit(&g_stPbb_TreePool);
}

}  // namespace pbb::tree
