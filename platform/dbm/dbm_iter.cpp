#include "platform/dbm/dbm_iter.h"

#include <map>

namespace plat::dbm {
namespace {

std::map<uint32_t, Iterator> g_iterators;
uint32_t g_lastId = 0;

}  // namespace

Iterator* newIterator(uint32_t handle, WalkKind kind, uint32_t& id)
{
    if (g_iterators.size() >= kMaxIterators) return nullptr;
    do {
        ++g_lastId;
    } while (g_lastId == 0 || g_lastId == 0xFFFFFFFFu || g_iterators.count(g_lastId) != 0);
    id = g_lastId;
    Iterator& it = g_iterators[id];
    it.handle = handle;
    it.kind = kind;
    return &it;
}

Iterator* findIterator(uint32_t id)
{
    auto it = g_iterators.find(id);
    return it == g_iterators.end() ? nullptr : &it->second;
}

bool freeIterator(uint32_t id) { return g_iterators.erase(id) != 0; }

void freeIteratorsOf(uint32_t handle)
{
    for (auto it = g_iterators.begin(); it != g_iterators.end();)
        it = it->second.handle == handle ? g_iterators.erase(it) : std::next(it);
}

size_t openIterators() { return g_iterators.size(); }

}  // namespace plat::dbm
