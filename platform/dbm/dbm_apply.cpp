#include "platform/dbm/dbm_apply.h"

#include "platform/dbm.h"

namespace plat::dbm {
namespace {

Image* imageOf(std::vector<Image>& images, const std::vector<uint32_t>& ids, uint32_t db)
{
    for (size_t i = 0; i < ids.size() && i < images.size(); ++i)
        if (ids[i] == db) return &images[i];
    return nullptr;
}

}  // namespace

bool applyChange(std::vector<Image>& images, const std::vector<uint32_t>& ids, const Op& op)
{
    Image* image = imageOf(images, ids, op.db);
    if (image == nullptr || op.key.empty() || op.key.size() >= DBM_MAX_KEY_LEN ||
        op.key.find('\0') != std::string_view::npos)
        return false;
    switch (op.kind) {
    case OpKind::PutBinary: {
        if (op.data.size() > DBM_MAX_VALUE_LEN) return false;
        KeyEntry e;
        e.valueType = op.valueType;
        e.value = std::string(op.data);
        image->put(op.key, std::move(e));
        return true;
    }
    case OpKind::PutList: {
        if (!validSortDesc(op.desc) || !fitsElement(op.desc, op.elemLen)) return false;
        KeyEntry* e = image->find(op.key);
        if (e != nullptr && e->kind == Kind::List) {
            // A new value type; the elements stay.
            if (e->desc != op.desc || e->elemLen != op.elemLen) return false;
            image->setValueType(*e, op.valueType);
            e->desc = op.desc;
            e->elemLen = op.elemLen;
            return true;
        }
        KeyEntry fresh;
        fresh.valueType = op.valueType;
        fresh.kind = Kind::List;
        fresh.desc = op.desc;
        fresh.elemLen = op.elemLen;
        image->put(op.key, std::move(fresh));
        return true;
    }
    case OpKind::DeleteKey:
        image->erase(op.key);
        return true;
    case OpKind::PutElem: {
        KeyEntry* e = image->find(op.key);
        if (e == nullptr || e->kind != Kind::List || op.data.size() != e->elemLen ||
            sortField(e->desc, reinterpret_cast<const uint8_t*>(op.data.data())) != op.field)
            return false;
        e->elems.put(op.field, op.data, fieldInElement(e->desc));
        return true;
    }
    case OpKind::DeleteElem: {
        KeyEntry* e = image->find(op.key);
        if (e != nullptr && e->kind == Kind::List) e->elems.erase(op.field);
        return true;
    }
    case OpKind::MoveKey: {
        Image* to = imageOf(images, ids, op.toDb);
        if (to == nullptr || to == image) return false;
        to->erase(op.key);
        KeyEntry moved;
        if (image->extract(op.key, moved)) to->put(op.key, std::move(moved));
        return true;
    }
    }
    return false;
}

}  // namespace plat::dbm
