// The elements of one sort list in the order of their sort fields, each
// field once. A list holds records of one size (the field, then the
// element; or the element alone when the field is a run of its bytes)
// packed in blocks of a few KiB, and the blocks' first fields side by side:
// a search reads the first fields, then one block. A learned entry
// costs its record's bytes and a share of a block, where a tree node per
// element cost its node, two strings and an allocation of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plat::dbm {

class ElemList {
public:
    using Record = std::pair<std::string_view, std::string_view>;  // field, element

    class const_iterator {
    public:
        Record operator*() const { return m_list->record(m_block, m_pos); }
        const_iterator& operator++();
        bool operator==(const const_iterator&) const = default;

    private:
        friend class ElemList;
        const_iterator(const ElemList* list, size_t block, size_t pos) : m_list(list), m_block(block), m_pos(pos) {}
        const ElemList* m_list;
        size_t m_block;
        size_t m_pos;
    };

    ElemList() = default;
    ElemList(const ElemList&) = default;
    ElemList& operator=(const ElemList&) = default;
    // A list moved from is empty, as a map moved from is.
    ElemList(ElemList&& other) noexcept { *this = std::move(other); }
    ElemList& operator=(ElemList&& other) noexcept
    {
        m_blocks = std::exchange(other.m_blocks, {});
        m_firsts = std::exchange(other.m_firsts, {});
        m_size = std::exchange(other.m_size, 0);
        m_fieldLen = other.m_fieldLen;
        m_elemLen = other.m_elemLen;
        m_fieldAt = other.m_fieldAt;
        return *this;
    }

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const_iterator begin() const { return {this, 0, 0}; }
    const_iterator end() const { return {this, m_blocks.size(), 0}; }
    // The first record whose field is greater than `field`.
    const_iterator upperBound(std::string_view field) const;
    std::string_view lastField() const;
    // Elements stored in order fill their blocks.
    size_t blockCount() const { return m_blocks.size(); }

    static constexpr uint32_t kFieldApart = UINT32_MAX;

    // Stores the element under its field, replacing the one stored there.
    // Every record of a list has the sizes of its first: false for others.
    // `fieldAt`, the field's offset in the element when the field is those
    // bytes unchanged, lets an empty list keep its fields in its elements;
    // a list that does refuses (false) an element that does not hold its
    // field there.
    bool put(std::string_view field, std::string_view elem, uint32_t fieldAt = kFieldApart);
    bool erase(std::string_view field);

    // The same records in the same order, however they are split in blocks.
    bool operator==(const ElemList& other) const;

private:
    using Block = std::vector<char>;

    // Bytes of a record before its element: the field, unless the element
    // holds it.
    size_t ownField() const { return m_fieldAt == kFieldApart ? m_fieldLen : 0; }
    size_t recLen() const { return ownField() + m_elemLen; }
    const char* fieldOf(const char* rec) const { return m_fieldAt == kFieldApart ? rec : rec + m_fieldAt; }
    size_t count(size_t block) const { return m_blocks[block].size() / recLen(); }
    Record record(size_t block, size_t pos) const;
    // A stored field against `field`, and a record's field against it.
    int compareField(const char* stored, std::string_view field) const;
    int compare(const char* rec, std::string_view field) const { return compareField(fieldOf(rec), field); }
    // The block whose range holds `field` (0 when it is below them all).
    size_t blockFor(std::string_view field) const;
    // The first position in the block whose field is not below `field`.
    size_t lowerBound(size_t block, std::string_view field) const;
    void setFirst(size_t block);
    void insertAt(size_t block, size_t pos, std::string_view field, std::string_view elem);
    void eraseBlock(size_t block);

    std::vector<Block> m_blocks;  // none empty
    std::string m_firsts;         // each block's first field, m_fieldLen bytes each
    size_t m_size = 0;
    uint32_t m_fieldLen = 0;
    uint32_t m_elemLen = 0;
    uint32_t m_fieldAt = kFieldApart;  // the field's offset in the element, or kept apart
};

}  // namespace plat::dbm
