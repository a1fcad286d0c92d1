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
// Bucket of a linked node in a table of uiBuckets buckets: what the table's
// index function gives for the node's key once the table has that size.
using HASH_NODE_INDEX_FN = uint32_t (*)(const HASH_NODE_S* pstNode, uint32_t uiBuckets);

struct HASH_TABLE_S {
    uint32_t uiBuckets;
    HASH_INDEX_FN pfIndex;
    HASH_NODE_S** ppstBuckets;  // uiBuckets heads
};

HASH_TABLE_S* HASH_Create(uint32_t uiBuckets, HASH_INDEX_FN pfIndex);
HASH_NODE_S* HASH_Find(const HASH_TABLE_S* pstTable, const void* pKey, HASH_COMPARE_FN pfCompare);
void HASH_Destroy(HASH_TABLE_S* pstTable, HASH_FREE_FN pfFree);
// Gives the table uiBuckets buckets and moves every linked node to the
// bucket pfNodeIndex names; the nodes of one bucket keep their order
// relative to each other, so equal keys are found in the same order. 0 on
// success; on failure (no memory, no buckets) the table is left as it was.
uint32_t HASH_Resize(HASH_TABLE_S* pstTable, uint32_t uiBuckets, HASH_NODE_INDEX_FN pfNodeIndex);
