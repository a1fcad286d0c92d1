// Keys by value type: counting, walking in chunks, freeing walks.
#include "platform/dbm/dbm_call.h"
#include "platform/dbm/dbm_iter.h"
#include "platform/dbm/dbm_log.h"

using namespace plat::dbm;

uint32_t DBM_GetKeyNumByValueType(uint32_t hDb, uint32_t uiValueType) noexcept
{
    if (auto f = plat::testing::fault("DBM_GetKeyNumByValueType")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording())
        plat::testing::record("DBM_GetKeyNumByValueType",
                              "h=" + std::to_string(hDb) + " type=" + std::to_string(uiValueType));
    Database* db = databaseOf(hDb);
    return db == nullptr ? 0 : db->image().countOfType(uiValueType);
}

uint32_t DBM_GetKeysByValueType(uint32_t hDb, uint32_t uiCount, uint32_t uiValueType, uint32_t* puiIterator,
                                DBM_KEY_DESC_S* pstKeys) noexcept
{
    if (auto f = plat::testing::fault("DBM_GetKeysByValueType")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording())
        plat::testing::record("DBM_GetKeysByValueType",
                              "h=" + std::to_string(hDb) + " count=" + std::to_string(uiCount) +
                                  " type=" + std::to_string(uiValueType) +
                                  " iter=" + (puiIterator ? std::to_string(*puiIterator) : "null"));
    Database* db = databaseOf(hDb);
    if (db == nullptr || puiIterator == nullptr || pstKeys == nullptr || uiCount == 0) return 0;
    Iterator* it;
    if (*puiIterator == 0) {
        uint32_t id;
        it = newIterator(hDb, WalkKind::Keys, id);
        if (it == nullptr) {
            logError("DBM_GetKeysByValueType: too many open iterators (walks that were never freed)");
            return 0;
        }
        it->valueType = uiValueType;
        *puiIterator = id;
    } else {
        it = findIterator(*puiIterator);
        if (it == nullptr || it->kind != WalkKind::Keys || it->handle != hDb || it->valueType != uiValueType) return 0;
    }
    const auto& keys = db->image().keys();
    auto pos = it->started ? keys.upper_bound(it->cursor) : keys.begin();
    uint32_t n = 0;
    for (; pos != keys.end() && n < uiCount; ++pos) {
        if (pos->second.valueType != uiValueType) continue;
        it->handed.push_back(pos->first);
        const std::string& text = it->handed.back();
        pstKeys[n++] = DBM_KEY_DESC_S{text.c_str(), static_cast<uint32_t>(text.size() + 1), uiValueType};
        it->cursor = pos->first;
        it->started = true;
    }
    return n;
}

uint32_t DBM_FreeIterator(uint32_t uiIterator) noexcept
{
    if (auto f = plat::testing::fault("DBM_FreeIterator")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording()) plat::testing::record("DBM_FreeIterator", "iter=" + std::to_string(uiIterator));
    if (uiIterator == 0) return DBM_OK;
    return freeIterator(uiIterator) ? DBM_OK : DBM_ERR_NOT_FOUND;
}
