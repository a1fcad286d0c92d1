// A fold's working set: each key the folded changes touch, as its row was
// read, with the changes made to it since. A list's elements are not taken
// apart: its element changes are kept in order, as views of the folded
// changes (which outlive the fold's keys), and merged with the row's
// elements once, when the row is written back, so that folding costs a
// sort of the changes plus one copy of each touched list.
#pragma once

#include "platform/dbm/dbm_image.h"
#include "platform/dbm/dbm_ops.h"

#include <string>
#include <string_view>
#include <vector>

namespace plat::dbm {

struct FoldKey {
    bool exists = false;
    KeyEntry head;     // kind, value type, binary value, description, element length; no elements
    std::string base;  // a list's elements as read, in sort order
    // A list's element changes, in order: the new element, or none (removed).
    struct Change {
        std::string_view field, elem;
    };
    std::vector<Change> changes;

    // The row's value: the binary value, or the list's elements.
    std::string value();
};

// Applies op to its key, and for a move to the key `to` of the other
// database; both were read before. False, like applyChange, for a change
// that no call makes.
bool foldChange(FoldKey& key, FoldKey* to, const Op& op);

}  // namespace plat::dbm
