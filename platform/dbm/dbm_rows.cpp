#include "platform/dbm/dbm_rows.h"

#include "platform/dbm.h"

namespace plat::dbm {

bool validKeyText(std::string_view k)
{
    return !k.empty() && k.size() < DBM_MAX_KEY_LEN && k.find('\0') == std::string_view::npos;
}

bool headFromRow(const sql::Statement& st, int first, std::string_view key, KeyEntry& e, std::string_view& elems,
                 std::string& why)
{
    const std::string name = "key \"" + std::string(key) + "\"";
    elems = {};
    if (!validKeyText(key)) {
        why = "a key of " + std::to_string(key.size()) + " characters";
        return false;
    }
    int64_t vt = st.integer(first);
    if (vt < 0 || vt > 0xFFFFFFFFLL) {
        why = name + " has value type " + std::to_string(vt);
        return false;
    }
    e = KeyEntry{};
    e.valueType = static_cast<uint32_t>(vt);
    int64_t kind = st.integer(first + 1);
    std::string_view value = st.blob(first + 2);
    if (kind == static_cast<int64_t>(Kind::Binary)) {
        e.kind = Kind::Binary;
        e.value = std::string(value);
        if (e.value.size() > DBM_MAX_VALUE_LEN) {
            why = name + " has an oversized value";
            return false;
        }
        return true;
    }
    if (kind != static_cast<int64_t>(Kind::List)) {
        why = name + " is of kind " + std::to_string(kind);
        return false;
    }
    e.kind = Kind::List;
    auto u32 = [&](int col) { return static_cast<uint32_t>(st.integer(first + col)); };
    e.desc = SortDesc{u32(3), u32(4), u32(5), u32(6), u32(7)};
    e.elemLen = u32(8);
    if (!validSortDesc(e.desc) || !fitsElement(e.desc, e.elemLen)) {
        why = name + " has a bad sort description";
        return false;
    }
    if (value.size() % e.elemLen != 0) {
        why = name + " holds a partial element";
        return false;
    }
    elems = value;
    return true;
}

bool entryFromRow(const sql::Statement& st, int first, std::string_view key, KeyEntry& e, std::string& why)
{
    std::string_view value;
    if (!headFromRow(st, first, key, e, value, why)) return false;
    for (size_t at = 0; at < value.size(); at += e.elemLen) {
        std::string_view elem = value.substr(at, e.elemLen);
        std::string field = sortField(e.desc, reinterpret_cast<const uint8_t*>(elem.data()));
        if (!e.elems.empty() && !(e.elems.lastField() < field)) {
            why = "key \"" + std::string(key) + "\" holds elements out of order";
            return false;
        }
        e.elems.put(field, elem, fieldInElement(e.desc));
    }
    return true;
}

std::string rowValue(const KeyEntry& e)
{
    if (e.kind == Kind::Binary) return e.value;
    std::string out;
    out.reserve(e.elems.size() * e.elemLen);
    for (const auto& [field, elem] : e.elems) out += elem;
    return out;
}

void bindRow(sql::Statement& st, uint32_t db, std::string_view key, const KeyEntry& e, const std::string& value)
{
    st.bind(1, static_cast<int64_t>(db));
    st.bind(2, key);
    st.bind(3, static_cast<int64_t>(e.valueType));
    st.bind(4, static_cast<int64_t>(e.kind));
    st.bindBlob(5, value);
    const bool list = e.kind == Kind::List;
    const uint32_t words[6] = {e.desc.kind, e.desc.offset, e.desc.length, e.desc.compare, e.desc.flags, e.elemLen};
    for (int i = 0; i < 6; ++i) st.bind(6 + i, static_cast<int64_t>(list ? words[i] : 0));
}

}  // namespace plat::dbm
