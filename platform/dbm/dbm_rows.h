// A key row of a store file and the image entry it stands for. Columns, in
// order: value_type, kind, value, sort_kind, sort_offset, sort_length,
// sort_compare, sort_flags, elem_len. A sort list's value holds its
// elements in sort order (format 2; in format 1 they are rows of their own
// and the value is empty).
#pragma once

#include "platform/dbm/dbm_image.h"
#include "platform/dbm/dbm_sqlite.h"

#include <string>
#include <string_view>

namespace plat::dbm {

constexpr const char* kLogTable = "CREATE TABLE dbm_log(seq INTEGER PRIMARY KEY, changes BLOB NOT NULL);";
constexpr const char* kKeyColumns =
    "value_type, kind, value, sort_kind, sort_offset, sort_length, sort_compare, sort_flags, elem_len";

bool validKeyText(std::string_view key);
// The entry of the row whose value_type column is `first`; false, with the
// reason, when the row is no entry a call could have stored.
bool entryFromRow(const sql::Statement& st, int first, std::string_view key, KeyEntry& e, std::string& why);
// The same without a list's elements: `elems` views them as the row holds
// them, whole elements in sort order (not checked), valid until the
// statement moves on.
bool headFromRow(const sql::Statement& st, int first, std::string_view key, KeyEntry& e, std::string_view& elems,
                 std::string& why);
// The value column of an entry.
std::string rowValue(const KeyEntry& e);
// Binds the entry's row (db, key, then the columns above) to ?1 .. ?11;
// `value` is rowValue(e), kept alive until the statement has run.
void bindRow(sql::Statement& st, uint32_t db, std::string_view key, const KeyEntry& e, const std::string& value);

}  // namespace plat::dbm
