// Walk state behind the 32-bit iterator words. A walk keeps the last key
// or sort field it returned and continues after it in the live image, so
// that changes during the walk neither repeat nor skip what still exists;
// it also keeps the key texts it handed out, valid until it is freed.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace plat::dbm {

enum class WalkKind : uint8_t { Keys, Elements };

struct Iterator {
    uint32_t handle = 0;
    WalkKind kind = WalkKind::Keys;
    uint32_t valueType = 0;          // Keys: the type walked
    std::string key;                 // Elements: the key walked
    bool started = false;
    std::string cursor;              // last key or sort field returned
    std::deque<std::string> handed;  // key texts handed out (stable addresses)
};

// A new walk, or null when too many are open (a walk that is never freed).
Iterator* newIterator(uint32_t handle, WalkKind kind, uint32_t& id);
Iterator* findIterator(uint32_t id);
bool freeIterator(uint32_t id);
void freeIteratorsOf(uint32_t handle);
size_t openIterators();

constexpr size_t kMaxIterators = 4096;

}  // namespace plat::dbm
