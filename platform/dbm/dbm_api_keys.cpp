// Keys and binary values: set, read, delete, test, length, move.
#include "platform/dbm/dbm_call.h"
#include "platform/dbm/dbm_edit.h"
#include "platform/dbm/dbm_records.h"

#include <algorithm>
#include <any>
#include <cstring>

using namespace plat::dbm;

uint32_t DBM_SetBinary(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiOffset, uint32_t uiValueLen,
                       const void* pValue, uint32_t uiValueType) noexcept
{
    if (auto f = plat::testing::fault("DBM_SetBinary")) return static_cast<uint32_t>(*f);
    std::string_view key;
    bool keyOk = keyOf(pcKey, uiKeyLen, key);
    bool valueOk = uiValueLen <= DBM_MAX_VALUE_LEN && (uiValueLen == 0 || pValue != nullptr);
    if (plat::testing::recording()) {
        std::string_view bytes = valueOk ? std::string_view(static_cast<const char*>(pValue), uiValueLen) : "";
        auto rec = keyOk ? decodeValue(key, bytes) : std::nullopt;
        plat::testing::record("DBM_SetBinary",
                              baseArgs(hDb, pcKey, uiKeyLen) + " offset=" + std::to_string(uiOffset) +
                                  " len=" + std::to_string(uiValueLen) + " type=" + std::to_string(uiValueType),
                              rec ? std::any(*rec) : std::any(std::string(bytes)));
    }
    Database* db = databaseOf(hDb);
    if (db == nullptr) return DBM_ERR_HANDLE;
    if (!keyOk || !valueOk || uiOffset != 0) return DBM_ERR_PARAM;
    if (!db->writable()) return DBM_ERR_READ_ONLY;
    Image& image = db->image();
    const KeyEntry* old = image.find(key);
    Op ops[2];
    size_t n = 0;
    if (old != nullptr && old->kind == Kind::List) {
        ops[n].kind = OpKind::DeleteKey;
        ops[n].db = db->dbId;
        ops[n++].key = key;
    }
    KeyEntry entry;
    entry.valueType = uiValueType;
    entry.kind = Kind::Binary;
    entry.value.assign(static_cast<const char*>(pValue), uiValueLen);
    ops[n].kind = OpKind::PutBinary;
    ops[n].db = db->dbId;
    ops[n].valueType = uiValueType;
    ops[n].key = key;
    ops[n++].data = std::string_view(static_cast<const char*>(pValue), uiValueLen);
    image.put(key, std::move(entry));
    return write(*db->store, std::span<const Op>(ops, n));
}

int32_t DBM_GetBinary(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiOffset, uint32_t uiValueLen,
                      void* pBuffer) noexcept
{
    if (auto f = plat::testing::fault("DBM_GetBinary")) return static_cast<int32_t>(*f);
    if (plat::testing::recording())
        plat::testing::record("DBM_GetBinary", baseArgs(hDb, pcKey, uiKeyLen) + " offset=" + std::to_string(uiOffset) +
                                                   " len=" + std::to_string(uiValueLen));
    Database* db = databaseOf(hDb);
    std::string_view key;
    if (db == nullptr || !keyOf(pcKey, uiKeyLen, key) || (uiValueLen > 0 && pBuffer == nullptr)) return -1;
    const KeyEntry* e = db->image().find(key);
    if (e == nullptr || e->kind != Kind::Binary) return -1;
    if (uiOffset >= e->value.size()) return 0;
    size_t n = std::min<size_t>(uiValueLen, e->value.size() - uiOffset);
    if (n > 0) std::memcpy(pBuffer, e->value.data() + uiOffset, n);
    return static_cast<int32_t>(n);
}

uint32_t DBM_DeleteKey(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen) noexcept
{
    if (auto f = plat::testing::fault("DBM_DeleteKey")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording()) plat::testing::record("DBM_DeleteKey", baseArgs(hDb, pcKey, uiKeyLen));
    Database* db = databaseOf(hDb);
    if (db == nullptr) return DBM_ERR_HANDLE;
    std::string_view key;
    if (!keyOf(pcKey, uiKeyLen, key)) return DBM_ERR_PARAM;
    if (!db->writable()) return DBM_ERR_READ_ONLY;
    return deleteKey(*db, key);
}

uint32_t DBM_IsKeyExist(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen) noexcept
{
    if (auto f = plat::testing::fault("DBM_IsKeyExist")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording()) plat::testing::record("DBM_IsKeyExist", baseArgs(hDb, pcKey, uiKeyLen));
    Database* db = databaseOf(hDb);
    std::string_view key;
    if (db == nullptr || !keyOf(pcKey, uiKeyLen, key)) return 0;
    return db->image().find(key) != nullptr ? 1 : 0;
}

uint32_t DBM_Len(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen) noexcept
{
    if (auto f = plat::testing::fault("DBM_Len")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording()) plat::testing::record("DBM_Len", baseArgs(hDb, pcKey, uiKeyLen));
    Database* db = databaseOf(hDb);
    std::string_view key;
    if (db == nullptr || !keyOf(pcKey, uiKeyLen, key)) return 0;
    const KeyEntry* e = db->image().find(key);
    return e == nullptr ? 0 : e->dataLength();
}

uint32_t DBM_Move(uint32_t hSrcDb, const char* pcKey, uint32_t uiKeyLen, uint32_t hDstDb) noexcept
{
    if (auto f = plat::testing::fault("DBM_Move")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording())
        plat::testing::record("DBM_Move", baseArgs(hSrcDb, pcKey, uiKeyLen) + " to=" + std::to_string(hDstDb));
    Database* src = databaseOf(hSrcDb);
    Database* dst = databaseOf(hDstDb);
    if (src == nullptr || dst == nullptr) return DBM_ERR_HANDLE;
    std::string_view key;
    // Only the two databases of one store move keys in one transaction.
    if (!keyOf(pcKey, uiKeyLen, key) || src == dst || src->store != dst->store) return DBM_ERR_PARAM;
    if (!src->writable()) return DBM_ERR_READ_ONLY;
    return moveKey(*src, *dst, key);
}
