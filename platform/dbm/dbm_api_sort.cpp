// Sort lists: description, insertion, removal and walks in sort order.
#include "platform/dbm/dbm_call.h"
#include "platform/dbm/dbm_iter.h"
#include "platform/dbm/dbm_log.h"
#include "platform/dbm/dbm_records.h"

#include <any>
#include <cstring>

using namespace plat::dbm;

namespace {

void recordElement(const char* name, uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiElemLen,
                   const void* pElem, const std::string& extra)
{
    std::string_view key;
    std::string_view bytes;
    if (pElem != nullptr && uiElemLen <= DBM_MAX_ELEM_LEN) bytes = std::string_view(static_cast<const char*>(pElem), uiElemLen);
    auto rec = keyOf(pcKey, uiKeyLen, key) ? decodeElement(key, bytes) : std::nullopt;
    plat::testing::record(name, baseArgs(hDb, pcKey, uiKeyLen) + " elemlen=" + std::to_string(uiElemLen) + extra,
                          rec ? std::any(*rec) : std::any(std::string(bytes)));
}

Op elementOp(OpKind kind, const Database& db, std::string_view key, std::string_view field)
{
    Op op;
    op.kind = kind;
    op.db = db.dbId;
    op.key = key;
    op.field = field;
    return op;
}

Op listOp(const Database& db, std::string_view key, const KeyEntry& e)
{
    Op op;
    op.kind = OpKind::PutList;
    op.db = db.dbId;
    op.key = key;
    op.valueType = e.valueType;
    op.desc = e.desc;
    op.elemLen = e.elemLen;
    return op;
}

// Copies up to uiMaxCount elements following the walk's cursor; the count,
// 0 at the end, -1 on error.
int32_t walkElements(const char* call, uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t* puiIterator,
                     uint32_t uiReserved1, uint32_t uiReserved2, uint32_t uiElemLen, uint32_t uiMaxCount,
                     void* pBuffer)
{
    Database* db = databaseOf(hDb);
    std::string_view key;
    if (db == nullptr || !keyOf(pcKey, uiKeyLen, key) || puiIterator == nullptr || uiReserved1 != 0 ||
        uiReserved2 != 0 || pBuffer == nullptr || uiMaxCount == 0)
        return -1;
    const KeyEntry* e = db->image().find(key);
    if (e != nullptr && e->kind != Kind::List) return -1;
    if (e != nullptr && e->elemLen != uiElemLen) return -1;
    Iterator* it;
    if (*puiIterator == 0) {
        if (e == nullptr) return 0;
        uint32_t id;
        it = newIterator(hDb, WalkKind::Elements, id);
        if (it == nullptr) {
            logError(std::string(call) + ": too many open iterators (walks that were never freed)");
            return -1;
        }
        it->key = std::string(key);
        *puiIterator = id;
    } else {
        it = findIterator(*puiIterator);
        if (it == nullptr || it->kind != WalkKind::Elements || it->handle != hDb || it->key != key) return -1;
    }
    if (e == nullptr) return 0;  // the key went away during the walk
    auto pos = it->started ? e->elems.upperBound(it->cursor) : e->elems.begin();
    auto* out = static_cast<uint8_t*>(pBuffer);
    uint32_t n = 0;
    for (; pos != e->elems.end() && n < uiMaxCount; ++pos, ++n) {
        auto [field, elem] = *pos;
        std::memcpy(out + static_cast<size_t>(n) * uiElemLen, elem.data(), uiElemLen);
        it->cursor = field;
        it->started = true;
    }
    return static_cast<int32_t>(n);
}

}  // namespace

uint32_t DBM_SetSortWord(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiKind, uint32_t uiOffset,
                         uint32_t uiLength, uint32_t uiCompare, uint32_t uiFlags) noexcept
{
    if (auto f = plat::testing::fault("DBM_SetSortWord")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording())
        plat::testing::record("DBM_SetSortWord", baseArgs(hDb, pcKey, uiKeyLen) + " kind=" + std::to_string(uiKind) +
                                                     " offset=" + std::to_string(uiOffset) +
                                                     " length=" + std::to_string(uiLength) +
                                                     " compare=" + std::to_string(uiCompare) +
                                                     " flags=" + std::to_string(uiFlags));
    Database* db = databaseOf(hDb);
    if (db == nullptr) return DBM_ERR_HANDLE;
    std::string_view key;
    SortDesc desc{uiKind, uiOffset, uiLength, uiCompare, uiFlags};
    if (!keyOf(pcKey, uiKeyLen, key) || !validSortDesc(desc)) return DBM_ERR_PARAM;
    if (!db->writable()) return DBM_ERR_READ_ONLY;
    const KeyEntry* e = db->image().find(key);
    if (e != nullptr) {
        if (e->kind != Kind::List) return DBM_ERR_TYPE;
        return e->desc == desc ? DBM_OK : DBM_ERR_EXIST;
    }
    db->image().declared().insert_or_assign(std::string(key), desc);
    return DBM_OK;
}

uint32_t DBM_InsertSortList(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiElemLen,
                            const void* pElem, uint32_t uiValueType) noexcept
{
    if (auto f = plat::testing::fault("DBM_InsertSortList")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording())
        recordElement("DBM_InsertSortList", hDb, pcKey, uiKeyLen, uiElemLen, pElem,
                      " type=" + std::to_string(uiValueType));
    Database* db = databaseOf(hDb);
    if (db == nullptr) return DBM_ERR_HANDLE;
    std::string_view key;
    if (!keyOf(pcKey, uiKeyLen, key) || pElem == nullptr || uiElemLen == 0 || uiElemLen > DBM_MAX_ELEM_LEN)
        return DBM_ERR_PARAM;
    if (!db->writable()) return DBM_ERR_READ_ONLY;
    Image& image = db->image();
    const auto* elem = static_cast<const uint8_t*>(pElem);
    Op ops[2];
    size_t n = 0;
    KeyEntry* e = image.find(key);
    if (e == nullptr) {
        auto& declared = image.declared();
        auto d = declared.find(key);
        if (d == declared.end()) return DBM_ERR_NOT_FOUND;  // no sort description
        if (!fitsElement(d->second, uiElemLen)) return DBM_ERR_PARAM;
        KeyEntry fresh;
        fresh.valueType = uiValueType;
        fresh.kind = Kind::List;
        fresh.desc = d->second;
        fresh.elemLen = uiElemLen;
        e = &image.put(key, std::move(fresh));
        ops[n++] = listOp(*db, key, *e);
    } else {
        if (e->kind != Kind::List) return DBM_ERR_TYPE;
        if (e->elemLen != uiElemLen) return DBM_ERR_PARAM;
        if (e->valueType != uiValueType) {
            image.setValueType(*e, uiValueType);
            ops[n++] = listOp(*db, key, *e);
        }
    }
    std::string_view data(reinterpret_cast<const char*>(elem), uiElemLen);
    const std::string field = sortField(e->desc, elem);
    e->elems.put(field, data, fieldInElement(e->desc));
    ops[n] = elementOp(OpKind::PutElem, *db, key, field);
    ops[n++].data = data;
    return write(*db->store, std::span<const Op>(ops, n));
}

uint32_t DBM_RemoveSortList(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiElemLen,
                            const void* pElem) noexcept
{
    if (auto f = plat::testing::fault("DBM_RemoveSortList")) return static_cast<uint32_t>(*f);
    if (plat::testing::recording()) recordElement("DBM_RemoveSortList", hDb, pcKey, uiKeyLen, uiElemLen, pElem, "");
    Database* db = databaseOf(hDb);
    if (db == nullptr) return DBM_ERR_HANDLE;
    std::string_view key;
    if (!keyOf(pcKey, uiKeyLen, key) || pElem == nullptr) return DBM_ERR_PARAM;
    if (!db->writable()) return DBM_ERR_READ_ONLY;
    KeyEntry* e = db->image().find(key);
    if (e == nullptr) return DBM_ERR_NOT_FOUND;
    if (e->kind != Kind::List) return DBM_ERR_TYPE;
    if (e->elemLen != uiElemLen) return DBM_ERR_PARAM;
    std::string field = sortField(e->desc, static_cast<const uint8_t*>(pElem));
    if (!e->elems.erase(field)) return DBM_ERR_NOT_FOUND;
    Op op = elementOp(OpKind::DeleteElem, *db, key, field);
    return write(*db->store, std::span<const Op>(&op, 1));
}

int32_t DBM_GetNextSortList(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t* puiIterator,
                            uint32_t uiReserved1, uint32_t uiReserved2, uint32_t uiElemLen, void* pBuffer) noexcept
{
    if (auto f = plat::testing::fault("DBM_GetNextSortList")) return static_cast<int32_t>(*f);
    if (plat::testing::recording())
        plat::testing::record("DBM_GetNextSortList",
                              baseArgs(hDb, pcKey, uiKeyLen) + " iter=" + (puiIterator ? std::to_string(*puiIterator) : "null") +
                                  " elemlen=" + std::to_string(uiElemLen));
    int32_t n = walkElements("DBM_GetNextSortList", hDb, pcKey, uiKeyLen, puiIterator, uiReserved1, uiReserved2,
                             uiElemLen, 1, pBuffer);
    return n > 0 ? static_cast<int32_t>(uiElemLen) : n;
}

int32_t DBM_BatchGetNextSortList(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t* puiIterator,
                                 uint32_t uiReserved1, uint32_t uiReserved2, uint32_t uiElemLen,
                                 uint32_t uiMaxCount, void* pBuffer) noexcept
{
    if (auto f = plat::testing::fault("DBM_BatchGetNextSortList")) return static_cast<int32_t>(*f);
    if (plat::testing::recording())
        plat::testing::record("DBM_BatchGetNextSortList",
                              baseArgs(hDb, pcKey, uiKeyLen) + " iter=" + (puiIterator ? std::to_string(*puiIterator) : "null") +
                                  " elemlen=" + std::to_string(uiElemLen) + " max=" + std::to_string(uiMaxCount));
    return walkElements("DBM_BatchGetNextSortList", hDb, pcKey, uiKeyLen, puiIterator, uiReserved1, uiReserved2,
                        uiElemLen, uiMaxCount, pBuffer);
}
