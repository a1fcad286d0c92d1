// Reading the daemon's stores in tests. Keys are passed with their
// terminating NUL, as the daemon stores them.
#pragma once

#include "platform/dbm.h"

#include <string>
#include <vector>

namespace pbbtest {

inline bool keyExists(uint32_t hDb, const std::string& key)
{
    return DBM_IsKeyExist(hDb, key.c_str(), static_cast<uint32_t>(key.size() + 1)) == 1;
}

inline std::vector<std::string> keysOfType(uint32_t hDb, uint32_t type)
{
    std::vector<std::string> out;
    uint32_t iter = 0;
    DBM_KEY_DESC_S descs[64];
    for (uint32_t n; (n = DBM_GetKeysByValueType(hDb, 64, type, &iter, descs)) > 0;)
        for (uint32_t i = 0; i < n; ++i) out.emplace_back(descs[i].pcKey);
    DBM_FreeIterator(iter);
    return out;
}

// Every element of a sort list in stored order, each read into a zeroed T.
template <typename T>
std::vector<T> sortList(uint32_t hDb, const std::string& key)
{
    std::vector<T> out;
    uint32_t iter = 0;
    const auto len = static_cast<uint32_t>(key.size() + 1);
    for (T elem{}; DBM_GetNextSortList(hDb, key.c_str(), len, &iter, 0, 0, sizeof(T), &elem) > 0; elem = T{})
        out.push_back(elem);
    DBM_FreeIterator(iter);
    return out;
}

}  // namespace pbbtest
