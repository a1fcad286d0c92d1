// Hash-table service: a bucket array of chain heads. The caller links and
// unlinks nodes itself (head insertion with back pointers); the table only
// finds nodes, moves them to a bucket array of another size, and, when
// destroyed, hands the still linked ones back.

#include "platform/hash.h"

#include "platform/testing.h"

#include <cstdlib>
#include <string>

HASH_TABLE_S* HASH_Create(uint32_t uiBuckets, HASH_INDEX_FN pfIndex)
{
    if (plat::testing::fault("HASH_Create")) {
        plat::testing::record("HASH_Create", "buckets=" + std::to_string(uiBuckets) + " result=fault");
        return nullptr;
    }
    HASH_TABLE_S* t = nullptr;
    if (uiBuckets != 0 && pfIndex != nullptr) {
        t = static_cast<HASH_TABLE_S*>(std::calloc(1, sizeof(HASH_TABLE_S)));
        if (t != nullptr) {
            t->ppstBuckets = static_cast<HASH_NODE_S**>(std::calloc(uiBuckets, sizeof(HASH_NODE_S*)));
            if (t->ppstBuckets == nullptr) {
                std::free(t);
                t = nullptr;
            } else {
                t->uiBuckets = uiBuckets;
                t->pfIndex = pfIndex;
            }
        }
    }
    if (plat::testing::recording())
        plat::testing::record("HASH_Create",
                              "buckets=" + std::to_string(uiBuckets) + (t != nullptr ? " result=ok" : " result=null"));
    return t;
}

HASH_NODE_S* HASH_Find(const HASH_TABLE_S* pstTable, const void* pKey, HASH_COMPARE_FN pfCompare)
{
    if (pstTable == nullptr || pfCompare == nullptr) return nullptr;
    uint32_t uiBucket = pstTable->pfIndex(pKey);
    // An index function that strays beyond the table finds nothing rather
    // than reading past the bucket array.
    if (uiBucket >= pstTable->uiBuckets) return nullptr;
    for (HASH_NODE_S* n = pstTable->ppstBuckets[uiBucket]; n != nullptr; n = n->pstNext)
        if (pfCompare(n, pKey) == 0) return n;
    return nullptr;
}

void HASH_Destroy(HASH_TABLE_S* pstTable, HASH_FREE_FN pfFree)
{
    if (pstTable == nullptr) return;
    if (pfFree != nullptr) {
        for (uint32_t b = 0; b < pstTable->uiBuckets; ++b) {
            HASH_NODE_S* n = pstTable->ppstBuckets[b];
            pstTable->ppstBuckets[b] = nullptr;
            while (n != nullptr) {
                HASH_NODE_S* next = n->pstNext;  // the free function may release n
                n->pstNext = nullptr;
                n->ppstPrev = nullptr;
                pfFree(n);
                n = next;
            }
        }
    }
    std::free(static_cast<void*>(pstTable->ppstBuckets));
    std::free(pstTable);
}

uint32_t HASH_Resize(HASH_TABLE_S* pstTable, uint32_t uiBuckets, HASH_NODE_INDEX_FN pfNodeIndex)
{
    if (plat::testing::fault("HASH_Resize")) {
        plat::testing::record("HASH_Resize", "buckets=" + std::to_string(uiBuckets) + " result=fault");
        return 1;
    }
    HASH_NODE_S** ppstNew = nullptr;
    if (pstTable != nullptr && pfNodeIndex != nullptr && uiBuckets != 0)
        ppstNew = static_cast<HASH_NODE_S**>(std::calloc(uiBuckets, sizeof(HASH_NODE_S*)));
    if (plat::testing::recording())
        plat::testing::record("HASH_Resize",
                              "buckets=" + std::to_string(uiBuckets) + (ppstNew != nullptr ? " result=ok" : " result=null"));
    if (ppstNew == nullptr) return 1;

    // Buckets are read in order, their nodes wherever they are: the first
    // node of a bucket some way ahead is asked for early, so that its read
    // overlaps with the work on the buckets before it.
    constexpr uint32_t kAhead = 8;
    for (uint32_t b = 0; b < pstTable->uiBuckets; ++b) {
        if (b + kAhead < pstTable->uiBuckets && pstTable->ppstBuckets[b + kAhead] != nullptr)
            __builtin_prefetch(pstTable->ppstBuckets[b + kAhead]);
        // The chain reversed first, then each node pushed at the head of its
        // new bucket: nodes that share a new bucket keep their old order.
        HASH_NODE_S* pstReversed = nullptr;
        for (HASH_NODE_S* n = pstTable->ppstBuckets[b]; n != nullptr;) {
            HASH_NODE_S* pstNext = n->pstNext;
            n->pstNext = pstReversed;
            pstReversed = n;
            n = pstNext;
        }
        while (pstReversed != nullptr) {
            HASH_NODE_S* n = pstReversed;
            pstReversed = n->pstNext;
            uint32_t uiBucket = pfNodeIndex(n, uiBuckets);
            if (uiBucket >= uiBuckets) uiBucket = 0;  // a stray index: still linked, so that HASH_Destroy finds it
            HASH_NODE_S** ppstHead = &ppstNew[uiBucket];
            n->pstNext = *ppstHead;
            n->ppstPrev = ppstHead;
            if (*ppstHead != nullptr) (*ppstHead)->ppstPrev = &n->pstNext;
            *ppstHead = n;
        }
    }
    std::free(static_cast<void*>(pstTable->ppstBuckets));
    pstTable->ppstBuckets = ppstNew;
    pstTable->uiBuckets = uiBuckets;
    return 0;
}
