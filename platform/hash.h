// Hash-table service: chained tables whose nodes the caller links and
// unlinks itself. A node begins with HASH_NODE_S; the rest is the caller's.
#pragma once

#include <cstdint>

struct HASH_NODE_S {
    HASH_NODE_S* pstNext;      // next node in the bucket
    HASH_NODE_S** ppstPrev;    // the pointer that points at this node
};

using HASH_INDEX_FN = uint32_t (*)(const void* pKey);
using HASH_COMPARE_FN = int (*)(const HASH_NODE_S* pstNode, const void* pKey);
using HASH_FREE_FN = void (*)(HASH_NODE_S* pstNode);

struct HASH_TABLE_S {
    uint32_t uiBuckets;
    HASH_INDEX_FN pfIndex;
    HASH_NODE_S** ppstBuckets;  // uiBuckets heads
};

HASH_TABLE_S* HASH_Create(uint32_t uiBuckets, HASH_INDEX_FN pfIndex);
HASH_NODE_S* HASH_Find(const HASH_TABLE_S* pstTable, const void* pKey, HASH_COMPARE_FN pfCompare);
void HASH_Destroy(HASH_TABLE_S* pstTable, HASH_FREE_FN pfFree);
