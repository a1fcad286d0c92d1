// DBM_Batch_Proc: every key of each row's value type to the row's handler,
// and the verdicts carried out, all as one atomic step per store.
#include "platform/dbm/dbm_call.h"
#include "platform/dbm/dbm_edit.h"
#include "platform/dbm/dbm_log.h"

#include <set>
#include <vector>

using namespace plat::dbm;

namespace {

// Keys of a type in the database when the pass starts, less those to skip.
std::vector<std::string> keysOfType(Database& db, uint32_t valueType, const std::set<std::string>& skip)
{
    std::vector<std::string> out;
    for (const auto& [key, entry] : db.image().keys())
        if (entry.valueType == valueType && skip.count(key) == 0) out.push_back(key);
    return out;
}

// One pass: the handler over the database's keys of the type. Keys moved
// to `other` are added to movedOut, so the other pass leaves them alone.
void pass(Database& db, Database* other, uint32_t valueType, DBM_PROC_FN handler, const std::set<std::string>& skip,
          std::set<std::string>& movedOut)
{
    for (const auto& key : keysOfType(db, valueType, skip)) {
        // A handler may have deleted or retyped a key of this pass already.
        const KeyEntry* e = db.image().find(key);
        if (e == nullptr || e->valueType != valueType) continue;
        uint32_t verdict = handler(db.handle, key.c_str(), static_cast<uint32_t>(key.size() + 1));
        if (verdict == DBM_PROC_KEEP) continue;
        if (verdict == DBM_PROC_DELETE) {
            deleteKey(db, key);
        } else if (verdict == DBM_PROC_MOVE && other != nullptr && other->store == db.store) {
            if (moveKey(db, *other, key) == DBM_OK)
                movedOut.insert(key);
        } else {
            logWarning("DBM_Batch_Proc: verdict " + std::to_string(verdict) + " for key \"" + key + "\" of database \"" +
                       db.name + "\" cannot be carried out; the key is kept");
        }
    }
}

}  // namespace

uint32_t DBM_Batch_Proc(uint32_t hFirstDb, uint32_t hSecondDb, const DBM_PROC_KEY_S* pstTable, uint32_t uiRows) noexcept
{
    if (auto f = plat::testing::fault("DBM_Batch_Proc")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording())
        plat::testing::record("DBM_Batch_Proc", "first=" + std::to_string(hFirstDb) + " second=" +
                                                    std::to_string(hSecondDb) + " rows=" + std::to_string(uiRows));
    Database* first = databaseOf(hFirstDb);
    Database* second = hSecondDb == DBM_INVALID_HANDLE ? nullptr : databaseOf(hSecondDb);
    if (first == nullptr || (hSecondDb != DBM_INVALID_HANDLE && second == nullptr)) return DBM_ERR_HANDLE;
    if ((pstTable == nullptr && uiRows > 0) || first == second) return DBM_ERR_PARAM;
    if (!first->writable() || (second != nullptr && !second->writable())) return DBM_ERR_READ_ONLY;

    // Handles stay valid: DBM_Close refuses while a batch runs on the store.
    std::shared_ptr<Store> stores[2] = {first->store, second != nullptr ? second->store : nullptr};
    if (stores[1] == stores[0]) stores[1] = nullptr;
    for (auto& s : stores)
        if (s) ++s->batchDepth;

    for (uint32_t row = 0; row < uiRows; ++row) {
        const DBM_PROC_KEY_S& r = pstTable[row];
        std::set<std::string> intoSecond, intoFirst;
        if (r.pfFirstDbProc != nullptr) pass(*first, second, r.uiValueType, r.pfFirstDbProc, {}, intoSecond);
        if (second != nullptr && r.pfSecondDbProc != nullptr)
            pass(*second, first, r.uiValueType, r.pfSecondDbProc, intoSecond, intoFirst);
    }

    uint32_t rc = DBM_OK;
    for (auto& s : stores) {
        if (!s) continue;
        uint32_t one = endBatch(*s);
        if (rc == DBM_OK) rc = one;
    }
    return rc;
}

