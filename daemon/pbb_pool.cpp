// Pool of records of one size: slabs mapped on their own and aligned to
// their size, a header at the start, then the records. A free record holds
// the address of the next free one of its slab; records past uiFresh were
// never handed out. Free records are poisoned for the address sanitizer,
// so that an entry used after its release is caught as with free().
#include "daemon/pbb_pool.h"

#include <sys/mman.h>

#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define PBB_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PBB_POOL_ASAN 1
#endif
#endif
// The leak checker scans the heap, not mappings of the process's own: a
// slab is registered with it as a region to scan, so that what only
// entries point at (an interface's list head) is not reported as lost.
#if defined(PBB_POOL_ASAN)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define PBB_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define PBB_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#define PBB_POOL_SCAN(p, n) __lsan_register_root_region((p), (n))
#define PBB_POOL_UNSCAN(p, n) __lsan_unregister_root_region((p), (n))
#else
#define PBB_POOL_POISON(p, n) ((void)(p), (void)(n))
#define PBB_POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#define PBB_POOL_SCAN(p, n) ((void)(p), (void)(n))
#define PBB_POOL_UNSCAN(p, n) ((void)(p), (void)(n))
#endif

struct PbbPoolSlab {
    PbbPoolSlab* pstPrev;
    PbbPoolSlab* pstNext;
    void* pFreeHead;       // first free record that was handed out before
    uint32_t uiUsed;       // records out
    uint32_t uiFresh;      // records ever handed out
    uint32_t uiCapacity;
};

namespace {

constexpr size_t PBB_POOL_HEADER = 64;
static_assert(sizeof(PbbPoolSlab) <= PBB_POOL_HEADER);

char* _pbb_pool_Rec(PbbPoolSlab* pstSlab, uint32_t uiRecSize, uint32_t uiIndex)
{
    return reinterpret_cast<char*>(pstSlab) + PBB_POOL_HEADER + static_cast<size_t>(uiIndex) * uiRecSize;
}

void _pbb_pool_Link(PbbPoolSlab** ppstHead, PbbPoolSlab* pstSlab)
{
    pstSlab->pstPrev = nullptr;
    pstSlab->pstNext = *ppstHead;
    if (*ppstHead != nullptr) (*ppstHead)->pstPrev = pstSlab;
    *ppstHead = pstSlab;
}

void _pbb_pool_Unlink(PbbPoolSlab** ppstHead, PbbPoolSlab* pstSlab)
{
    if (pstSlab->pstPrev != nullptr) pstSlab->pstPrev->pstNext = pstSlab->pstNext;
    else *ppstHead = pstSlab->pstNext;
    if (pstSlab->pstNext != nullptr) pstSlab->pstNext->pstPrev = pstSlab->pstPrev;
    pstSlab->pstPrev = pstSlab->pstNext = nullptr;
}

// Size of a huge page on the platforms the daemon runs on.
constexpr size_t PBB_POOL_HUGE_PAGE = 2u << 20;

// A slab aligned to its size: twice its size mapped, the rest around it
// unmapped again. In huge pages when asked and the slab is made of whole
// ones; a system without them, or with them turned off, keeps small pages
// (the advice failing changes nothing else).
PbbPoolSlab* _pbb_pool_MapSlab(uint32_t uiSlabSize, bool bHugePages)
{
    const size_t ulLen = 2 * static_cast<size_t>(uiSlabSize);
    void* pMap = mmap(nullptr, ulLen, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pMap == MAP_FAILED) return nullptr;
    const auto ulStart = reinterpret_cast<uintptr_t>(pMap);
    const uintptr_t ulSlab = (ulStart + uiSlabSize - 1) & ~static_cast<uintptr_t>(uiSlabSize - 1);
    if (ulSlab > ulStart) (void)munmap(pMap, ulSlab - ulStart);
    if (ulStart + ulLen > ulSlab + uiSlabSize)
        (void)munmap(reinterpret_cast<void*>(ulSlab + uiSlabSize), ulStart + ulLen - (ulSlab + uiSlabSize));
    if (bHugePages && uiSlabSize % PBB_POOL_HUGE_PAGE == 0)
        (void)madvise(reinterpret_cast<void*>(ulSlab), uiSlabSize, MADV_HUGEPAGE);
    PBB_POOL_SCAN(reinterpret_cast<void*>(ulSlab), uiSlabSize);
    return reinterpret_cast<PbbPoolSlab*>(ulSlab);
}

void _pbb_pool_UnmapSlab(PbbPoolSlab* pstSlab, uint32_t uiSlabSize)
{
    PBB_POOL_UNPOISON(pstSlab, uiSlabSize);
    PBB_POOL_UNSCAN(pstSlab, uiSlabSize);
    (void)munmap(pstSlab, uiSlabSize);
}

void _pbb_pool_FreeSlabs(PbbPoolSlab* pstSlab, uint32_t uiSlabSize)
{
    while (pstSlab != nullptr) {
        PbbPoolSlab* pstNext = pstSlab->pstNext;
        _pbb_pool_UnmapSlab(pstSlab, uiSlabSize);
        pstSlab = pstNext;
    }
}

}  // namespace

void PBB_pool_Init(PbbPool* pstPool, uint32_t uiRecSize, uint32_t uiSlabSize, bool bHugePages)
{
    pstPool->uiRecSize = (uiRecSize + 7) / 8 * 8;
    if (pstPool->uiRecSize == 0) pstPool->uiRecSize = 8;
    pstPool->uiSlabSize = uiSlabSize;
    pstPool->uiSlabNum = 0;
    pstPool->pstRoomy = nullptr;
    pstPool->pstFull = nullptr;
    pstPool->bHugePages = bHugePages;
}

void* PBB_pool_Alloc(PbbPool* pstPool)
{
    const uint32_t uiRecSize = pstPool->uiRecSize;
    const uint32_t uiSlabSize = pstPool->uiSlabSize;
    if (uiSlabSize <= PBB_POOL_HEADER || uiRecSize > uiSlabSize - PBB_POOL_HEADER) return nullptr;
    PbbPoolSlab* pstSlab = pstPool->pstRoomy;
    if (pstSlab == nullptr) {
        pstSlab = _pbb_pool_MapSlab(uiSlabSize, pstPool->bHugePages);
        if (pstSlab == nullptr) return nullptr;
        *pstSlab = PbbPoolSlab{nullptr, nullptr, nullptr, 0, 0,
                               static_cast<uint32_t>((uiSlabSize - PBB_POOL_HEADER) / uiRecSize)};
        PBB_POOL_POISON(_pbb_pool_Rec(pstSlab, uiRecSize, 0), uiSlabSize - PBB_POOL_HEADER);
        _pbb_pool_Link(&pstPool->pstRoomy, pstSlab);
        ++pstPool->uiSlabNum;
    }
    char* pcRec;
    if (pstSlab->pFreeHead != nullptr) {
        // A record handed out before is zeroed again; one never handed out
        // is still as the mapping gave it, zero.
        pcRec = static_cast<char*>(pstSlab->pFreeHead);
        PBB_POOL_UNPOISON(pcRec, uiRecSize);
        std::memcpy(&pstSlab->pFreeHead, pcRec, sizeof(void*));
        std::memset(pcRec, 0, uiRecSize);
    } else {
        pcRec = _pbb_pool_Rec(pstSlab, uiRecSize, pstSlab->uiFresh++);
        PBB_POOL_UNPOISON(pcRec, uiRecSize);
    }
    if (++pstSlab->uiUsed == pstSlab->uiCapacity) {
        _pbb_pool_Unlink(&pstPool->pstRoomy, pstSlab);
        _pbb_pool_Link(&pstPool->pstFull, pstSlab);
    }
    return pcRec;
}

void PBB_pool_Free(PbbPool* pstPool, void* pRec)
{
    if (pRec == nullptr) return;
    auto* pstSlab = reinterpret_cast<PbbPoolSlab*>(reinterpret_cast<uintptr_t>(pRec) &
                                                   ~static_cast<uintptr_t>(pstPool->uiSlabSize - 1));
    if (pstSlab->uiUsed-- == pstSlab->uiCapacity) {
        _pbb_pool_Unlink(&pstPool->pstFull, pstSlab);
        _pbb_pool_Link(&pstPool->pstRoomy, pstSlab);
    }
    std::memcpy(pRec, &pstSlab->pFreeHead, sizeof(void*));
    pstSlab->pFreeHead = pRec;
    PBB_POOL_POISON(pRec, pstPool->uiRecSize);
    // An empty slab goes back unless it is the only one with room.
    if (pstSlab->uiUsed == 0 && (pstSlab->pstPrev != nullptr || pstSlab->pstNext != nullptr)) {
        _pbb_pool_Unlink(&pstPool->pstRoomy, pstSlab);
        --pstPool->uiSlabNum;
        _pbb_pool_UnmapSlab(pstSlab, pstPool->uiSlabSize);
    }
}

void PBB_pool_Exit(PbbPool* pstPool)
{
    _pbb_pool_FreeSlabs(pstPool->pstRoomy, pstPool->uiSlabSize);
    _pbb_pool_FreeSlabs(pstPool->pstFull, pstPool->uiSlabSize);
    PBB_pool_Init(pstPool, pstPool->uiRecSize, pstPool->uiSlabSize, pstPool->bHugePages);
}
