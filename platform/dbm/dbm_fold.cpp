#include "platform/dbm/dbm_fold.h"

#include "platform/dbm.h"

#include <algorithm>

namespace plat::dbm {

std::string FoldKey::value()
{
    if (head.kind == Kind::Binary) return head.value;
    // The last change of each field counts.
    std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.field < b.field; });
    auto last = changes.begin();
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        if (last != changes.begin() && (last - 1)->field == it->field) *(last - 1) = *it;
        else *last++ = *it;
    }
    changes.erase(last, changes.end());
    std::string out;
    out.reserve(base.size() + changes.size() * head.elemLen);
    auto change = changes.begin();
    for (size_t at = 0; at < base.size(); at += head.elemLen) {
        const char* elem = base.data() + at;
        std::string field = sortField(head.desc, reinterpret_cast<const uint8_t*>(elem));
        for (; change != changes.end() && change->field < field; ++change) out += change->elem;
        if (change != changes.end() && change->field == field) {
            out += change->elem;  // replaced, or removed
            ++change;
        } else {
            out.append(elem, head.elemLen);
        }
    }
    for (; change != changes.end(); ++change) out += change->elem;
    return out;
}

bool foldChange(FoldKey& key, FoldKey* to, const Op& op)
{
    switch (op.kind) {
    case OpKind::PutBinary:
        if (op.data.size() > DBM_MAX_VALUE_LEN) return false;
        key = FoldKey{};
        key.exists = true;
        key.head.valueType = op.valueType;
        key.head.value = std::string(op.data);
        return true;
    case OpKind::PutList:
        if (!validSortDesc(op.desc) || !fitsElement(op.desc, op.elemLen)) return false;
        if (key.exists && key.head.kind == Kind::List) {
            // A new value type; the elements stay.
            if (key.head.desc != op.desc || key.head.elemLen != op.elemLen) return false;
            key.head.valueType = op.valueType;
            return true;
        }
        key = FoldKey{};
        key.exists = true;
        key.head.valueType = op.valueType;
        key.head.kind = Kind::List;
        key.head.desc = op.desc;
        key.head.elemLen = op.elemLen;
        return true;
    case OpKind::DeleteKey:
        key = FoldKey{};
        return true;
    case OpKind::PutElem:
        if (!key.exists || key.head.kind != Kind::List || op.data.size() != key.head.elemLen ||
            sortField(key.head.desc, reinterpret_cast<const uint8_t*>(op.data.data())) != op.field)
            return false;
        key.changes.push_back({op.field, op.data});
        return true;
    case OpKind::DeleteElem:
        if (key.exists && key.head.kind == Kind::List) key.changes.push_back({op.field, {}});
        return true;
    case OpKind::MoveKey:
        if (to == nullptr || to == &key) return false;
        *to = std::move(key);
        key = FoldKey{};
        return true;
    }
    return false;
}

}  // namespace plat::dbm
