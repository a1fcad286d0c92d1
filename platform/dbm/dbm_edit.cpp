#include "platform/dbm/dbm_edit.h"

#include "platform/dbm.h"

namespace plat::dbm {

uint32_t deleteKey(Database& db, std::string_view key)
{
    Image& image = db.image();
    if (!image.erase(key)) {
        auto& declared = image.declared();
        auto d = declared.find(key);
        if (d == declared.end()) return DBM_ERR_NOT_FOUND;
        declared.erase(d);  // a description only, never stored
        return DBM_OK;
    }
    Op op;
    op.kind = OpKind::DeleteKey;
    op.db = db.dbId;
    op.key = key;
    return write(*db.store, std::span<const Op>(&op, 1));
}

uint32_t moveKey(Database& src, Database& dst, std::string_view key)
{
    KeyEntry entry;
    if (!src.image().extract(key, entry)) return DBM_ERR_NOT_FOUND;
    dst.image().put(key, std::move(entry));
    Op op;
    op.kind = OpKind::MoveKey;
    op.db = src.dbId;
    op.toDb = dst.dbId;
    op.key = key;
    return write(*src.store, std::span<const Op>(&op, 1));
}

}  // namespace plat::dbm
