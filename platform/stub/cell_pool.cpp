#include "platform/stub/cell_pool.h"

#include <cstdlib>
#include <cstring>
#include <new>

// Whether the address sanitizer is on: g++ says so with a macro, clang
// through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define PBB_CELL_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PBB_CELL_POOL_ASAN 1
#endif
#endif
#if defined(PBB_CELL_POOL_ASAN)
#include <sanitizer/asan_interface.h>
#define PBB_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define PBB_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define PBB_POISON(p, n) ((void)(p), (void)(n))
#define PBB_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace plat::stub {

namespace {
constexpr uint32_t kNoCell = UINT32_MAX;
constexpr size_t kHeaderBytes = 64;
}  // namespace

// A free cell holds the number of the next free cell in its first word;
// cells past `fresh` were never handed out. Free cells are poisoned for the
// address sanitizer, so that a record used after its release is caught.
struct CellPool::Slab {
    uint32_t cellBytes;
    uint32_t capacity;
    uint32_t used;
    uint32_t fresh;
    uint32_t freeHead;
    Slab* prev;
    Slab* next;

    char* cell(uint32_t i) { return reinterpret_cast<char*>(this) + kHeaderBytes + size_t{i} * cellBytes; }
};

CellPool::~CellPool()
{
    for (uintptr_t base : m_slabs) {
        PBB_UNPOISON(reinterpret_cast<void*>(base), kSlabBytes);
        std::free(reinterpret_cast<void*>(base));
    }
}

CellPool::Slab* CellPool::newSlab(uint32_t cellBytes)
{
    static_assert(sizeof(Slab) <= kHeaderBytes && kHeaderBytes % 4 == 0);
    void* mem = std::aligned_alloc(kSlabBytes, kSlabBytes);
    if (mem == nullptr) return nullptr;
    try {
        m_slabs.insert(reinterpret_cast<uintptr_t>(mem));
    } catch (const std::bad_alloc&) {
        std::free(mem);
        return nullptr;
    }
    auto* s = new (mem) Slab{cellBytes, static_cast<uint32_t>((kSlabBytes - kHeaderBytes) / cellBytes), 0, 0,
                             kNoCell, nullptr, nullptr};
    PBB_POISON(s->cell(0), size_t{s->capacity} * cellBytes);
    linkRoomy(s);
    return s;
}

void CellPool::linkRoomy(Slab* s)
{
    Slab*& head = m_roomy[s->cellBytes / 4];
    s->prev = nullptr;
    s->next = head;
    if (head != nullptr) head->prev = s;
    head = s;
}

void CellPool::unlinkRoomy(Slab* s)
{
    Slab*& head = m_roomy[s->cellBytes / 4];
    if (s->prev != nullptr) s->prev->next = s->next;
    else head = s->next;
    if (s->next != nullptr) s->next->prev = s->prev;
    s->prev = s->next = nullptr;
}

void* CellPool::allocate(size_t bytes)
{
    if (bytes == 0 || bytes > kMaxBytes) return nullptr;
    auto cellBytes = static_cast<uint32_t>((bytes + 3) / 4 * 4);
    Slab* s = m_roomy[cellBytes / 4];
    if (s == nullptr && (s = newSlab(cellBytes)) == nullptr) return nullptr;
    uint32_t i;
    if (s->freeHead != kNoCell) {
        i = s->freeHead;
        PBB_UNPOISON(s->cell(i), cellBytes);
        std::memcpy(&s->freeHead, s->cell(i), sizeof(uint32_t));
    } else {
        i = s->fresh++;
        PBB_UNPOISON(s->cell(i), cellBytes);
    }
    if (++s->used == s->capacity) unlinkRoomy(s);
    std::memset(s->cell(i), 0, cellBytes);
    return s->cell(i);
}

bool CellPool::release(void* p)
{
    uintptr_t base = reinterpret_cast<uintptr_t>(p) & ~uintptr_t{kSlabBytes - 1};
    if (p == nullptr || m_slabs.count(base) == 0) return false;
    auto* s = reinterpret_cast<Slab*>(base);
    auto i = static_cast<uint32_t>((static_cast<char*>(p) - s->cell(0)) / s->cellBytes);
    if (s->used-- == s->capacity) linkRoomy(s);
    std::memcpy(s->cell(i), &s->freeHead, sizeof(uint32_t));
    s->freeHead = i;
    PBB_POISON(s->cell(i), s->cellBytes);
    // An empty slab goes back unless it is its size's only slab with room.
    if (s->used == 0 && (s->prev != nullptr || s->next != nullptr)) {
        unlinkRoomy(s);
        m_slabs.erase(base);
        PBB_UNPOISON(s, kSlabBytes);
        std::free(s);
    }
    return true;
}

}  // namespace plat::stub
