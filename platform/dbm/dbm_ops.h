// Changes to a store file, in the order the calls made them. One call's
// changes form a group that is committed in one transaction, never split.
#pragma once

#include "platform/dbm/dbm_image.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
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

// One change. Its texts are views: of the caller's bytes while a call hands
// its changes over, of an OpList's buffer once they are queued.
struct Op {
    OpKind kind = OpKind::PutBinary;
    uint32_t db = 0;      // database number inside the store file
    uint32_t toDb = 0;    // MoveKey
    uint32_t valueType = 0;
    uint32_t elemLen = 0;
    SortDesc desc;
    std::string_view key;    // key text without its NUL
    std::string_view field;  // sort field
    std::string_view data;   // binary value or element
};

// Changes of one or more calls, in order, their bytes copied into one
// buffer: queueing a change allocates nothing once the list has grown to
// its working size, and clear() keeps that size for the next use.
class OpList {
public:
    void append(const Op& op);
    void append(std::span<const Op> ops)
    {
        for (const Op& op : ops) append(op);
    }
    size_t size() const { return m_ops.size(); }
    bool empty() const { return m_ops.empty(); }
    void clear()
    {
        m_ops.clear();
        m_bytes.clear();
    }
    void swap(OpList& other) noexcept
    {
        m_ops.swap(other.m_ops);
        m_bytes.swap(other.m_bytes);
    }
    // The i-th change, its texts viewing the buffer until the next append.
    Op operator[](size_t i) const;
    // Views of all changes, for handing them over as one call.
    std::vector<Op> views() const;

    // The changes as bytes for the store's change log, appended to out.
    void encode(std::string& out) const;

private:
    // An op without its texts, which lie in m_bytes from `at` on: key,
    // field, data.
    struct Stored {
        OpKind kind;
        uint32_t db, toDb, valueType, elemLen;
        SortDesc desc;
        size_t at;
        uint32_t keyLen, fieldLen, dataLen;
    };
    std::vector<Stored> m_ops;
    std::string m_bytes;
};

// Reads the first change of encoded changes into op, its texts viewing
// `bytes`, and moves `bytes` past it; false when it is malformed.
bool takeChange(std::string_view& bytes, Op& op);

}  // namespace plat::dbm
