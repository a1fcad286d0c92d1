// Changes to a store file, in the order the calls made them. One call's
// changes form a group that is committed in one transaction, never split.
#pragma once

#include "platform/dbm/dbm_image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace plat::dbm {

enum class OpKind : uint8_t {
    PutBinary,   // key row with a binary value (replaces the row)
    PutList,     // key row of a sort list: type, description, element length
    DeleteKey,   // key row and its elements
    PutElem,     // one element, by sort field (replaces an equal one)
    DeleteElem,  // one element, by sort field
    MoveKey,     // key row and elements to database toDb, replacing the key there
};

struct Op {
    OpKind kind;
    uint32_t db = 0;      // database number inside the store file
    uint32_t toDb = 0;    // MoveKey
    uint32_t valueType = 0;
    uint32_t elemLen = 0;
    SortDesc desc;
    std::string key;      // key text without its NUL
    std::string field;    // sort field
    std::string data;     // binary value or element
};

using OpGroup = std::vector<Op>;

}  // namespace plat::dbm
