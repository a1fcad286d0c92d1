// Records of one size carved from slabs of 2 MiB.
//
// The unicast table holds up to millions of 112-byte entries; the C
// allocator puts each in a 128-byte block. A pool puts 18,724 of them in a
// slab, the slab's header in front. Slabs are mapped from the system on
// their own, aligned to their size, so that a slab is found from a
// record's address rounded down, and costs the pages its records touched
// (a heap block aligned that way would cost a page more for the
// allocator's header). Every record released must come from the pool it
// goes back to. A slab
// whose records are all released goes back to the system, unless it is the
// only one of the pool with room (a record made and released over and over
// does not make and free a slab each time). Records are handed out zeroed.
//
// A pool may ask for its slabs in huge pages (2 MiB, one per slab) where the
// system offers them on request. Each read from the packet socket is a
// system call, after which the processor may have forgotten its page
// translations; learning an entry then looks at entries anywhere in the
// table (the B-MAC hash's chain, the lists' neighbours), and every 4 KiB page
// it touches costs a walk of the page tables. In huge pages the whole pool
// takes one translation per 2 MiB. The price: a slab is resident whole from
// its first record, at most one slab more than the records need.
#pragma once

#include <cstddef>
#include <cstdint>

struct PbbPoolSlab;

struct PbbPool {
    uint32_t uiRecSize;     // bytes of a record, a multiple of 8
    uint32_t uiSlabSize;    // bytes of a slab, a power of two and of the page size
    uint32_t uiSlabNum;     // slabs held
    PbbPoolSlab* pstRoomy;  // slabs with a free record, doubly linked
    PbbPoolSlab* pstFull;   // slabs without, doubly linked
    bool bHugePages;        // slabs asked for in huge pages
};

constexpr uint32_t PBB_POOL_SLAB_SIZE = 2u << 20;

// An empty pool of records of uiRecSize bytes (rounded up to 8; at most a
// slab's room) in slabs of uiSlabSize bytes.
void PBB_pool_Init(PbbPool* pstPool, uint32_t uiRecSize, uint32_t uiSlabSize = PBB_POOL_SLAB_SIZE,
                   bool bHugePages = false);
// A zeroed record; nullptr when no memory is left.
void* PBB_pool_Alloc(PbbPool* pstPool);
// Gives back a record of this pool; ignores null.
void PBB_pool_Free(PbbPool* pstPool, void* pRec);
// Frees every slab, records still out included.
void PBB_pool_Exit(PbbPool* pstPool);
