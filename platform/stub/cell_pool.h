// Small records of a few fixed sizes, carved from 64 KiB slabs.
//
// The C allocator's smallest block is 32 bytes, while the bitmap service's
// commonest record, a slot bitmap, is 12 or 16: the unicast table keeps one
// for each of up to a million entries. Here a record of up to kMaxBytes
// takes a cell of its size rounded up to 4 bytes. Each size has its slabs;
// a slab's header sits at its start, and a record's slab is its address
// rounded down to the slab size. A slab whose records are all released goes
// back to the system, unless it is the only one of its size with room (so
// that one record made and released over and over does not make and free a
// slab each time).
//
// One thread: like the rest of the service, the pool is used by the thread
// that runs the daemon's (or a tool's) loop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_set>

namespace plat::stub {

class CellPool {
public:
    static constexpr size_t kSlabBytes = 64 * 1024;
    static constexpr size_t kMaxBytes = 32;

    CellPool() = default;
    CellPool(const CellPool&) = delete;
    CellPool& operator=(const CellPool&) = delete;
    ~CellPool();

    // A zeroed cell of at least `bytes` (1 to kMaxBytes) bytes, 4-byte
    // aligned; nullptr when no memory is left.
    void* allocate(size_t bytes);
    // Gives back a cell of this pool: false, and nothing done, for any
    // other address.
    bool release(void* p);
    // Slabs held, for the tests.
    size_t slabCount() const { return m_slabs.size(); }

private:
    struct Slab;
    static constexpr size_t kSizes = kMaxBytes / 4 + 1;

    Slab* newSlab(uint32_t cellBytes);
    void unlinkRoomy(Slab* s);
    void linkRoomy(Slab* s);

    // Per cell size (index: bytes / 4), the slabs with at least one free
    // cell, in a doubly linked list.
    std::array<Slab*, kSizes> m_roomy{};
    std::unordered_set<uintptr_t> m_slabs;
};

}  // namespace plat::stub
