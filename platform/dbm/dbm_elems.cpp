#include "platform/dbm/dbm_elems.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace plat::dbm {
namespace {

// A block holds up to this many bytes of records (at least eight records):
// inserting moves at most a block's bytes, a search reads the first fields
// and then about a dozen of the block's records.
constexpr size_t kBlockBytes = 4096;
constexpr size_t kMinPerBlock = 8;

size_t perBlock(size_t recLen)
{
    return std::max(kMinPerBlock, kBlockBytes / recLen);
}

// memcmp's order of two 8-byte fields: as numbers whose first byte is the
// highest.
int compareEightBytes(const char* a, const char* b)
{
    uint64_t x = 0, y = 0;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    if constexpr (std::endian::native == std::endian::little) {
        x = __builtin_bswap64(x);
        y = __builtin_bswap64(y);
    }
    return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace

ElemList::const_iterator& ElemList::const_iterator::operator++()
{
    if (++m_pos == m_list->count(m_block)) {
        ++m_block;
        m_pos = 0;
    }
    return *this;
}

ElemList::Record ElemList::record(size_t block, size_t pos) const
{
    const char* rec = m_blocks[block].data() + pos * recLen();
    return {std::string_view(fieldOf(rec), m_fieldLen), std::string_view(rec + ownField(), m_elemLen)};
}

int ElemList::compareField(const char* stored, std::string_view field) const
{
    // The order of the fields as strings: a walk's cursor may come from a
    // list of the same key that was deleted and made again with fields of
    // another length.
    if (field.size() == m_fieldLen) {
        // Eight bytes (the unicast record's sort field) without a call at
        // each step of a search.
        if (m_fieldLen == sizeof(uint64_t)) return compareEightBytes(stored, field.data());
        return std::memcmp(stored, field.data(), m_fieldLen);
    }
    int c = std::memcmp(stored, field.data(), std::min<size_t>(m_fieldLen, field.size()));
    return c != 0 ? c : (m_fieldLen < field.size() ? -1 : 1);
}

size_t ElemList::blockFor(std::string_view field) const
{
    // The first block whose first field is above `field`; the one before it.
    size_t lo = 0, hi = m_blocks.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (compareField(m_firsts.data() + mid * m_fieldLen, field) > 0) hi = mid;
        else lo = mid + 1;
    }
    return lo == 0 ? 0 : lo - 1;
}

size_t ElemList::lowerBound(size_t block, std::string_view field) const
{
    const char* base = m_blocks[block].data();
    size_t lo = 0, hi = count(block);
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (compare(base + mid * recLen(), field) < 0) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

ElemList::const_iterator ElemList::upperBound(std::string_view field) const
{
    if (m_blocks.empty()) return end();
    size_t b = blockFor(field);
    size_t pos = lowerBound(b, field);
    if (pos < count(b) && compare(m_blocks[b].data() + pos * recLen(), field) == 0) ++pos;
    if (pos == count(b)) return {this, b + 1, 0};
    return {this, b, pos};
}

std::string_view ElemList::lastField() const
{
    if (m_blocks.empty()) return {};
    return record(m_blocks.size() - 1, count(m_blocks.size() - 1) - 1).first;
}

void ElemList::setFirst(size_t block)
{
    std::memcpy(m_firsts.data() + block * m_fieldLen, fieldOf(m_blocks[block].data()), m_fieldLen);
}

bool ElemList::put(std::string_view field, std::string_view elem, uint32_t fieldAt)
{
    if (!m_blocks.empty() && (field.size() != m_fieldLen || elem.size() != m_elemLen)) return false;
    if (!m_blocks.empty() && m_fieldAt != kFieldApart &&
        std::memcmp(elem.data() + m_fieldAt, field.data(), m_fieldLen) != 0)
        return false;
    if (m_blocks.empty()) {
        m_fieldLen = static_cast<uint32_t>(field.size());
        m_elemLen = static_cast<uint32_t>(elem.size());
        bool inElem = fieldAt != kFieldApart && fieldAt <= elem.size() && field.size() <= elem.size() - fieldAt &&
                      std::memcmp(elem.data() + fieldAt, field.data(), field.size()) == 0;
        m_fieldAt = inElem ? fieldAt : kFieldApart;
        m_firsts.assign(m_fieldLen, '\0');  // filled by the insert at position 0
        m_blocks.emplace_back();
        insertAt(0, 0, field, elem);
        return true;
    }
    // Fields most often come in order (a VSI's entries learned one after
    // another): one above the last goes after it, found without a search.
    size_t b = m_blocks.size() - 1, pos = count(b);
    if (compare(m_blocks[b].data() + (pos - 1) * recLen(), field) >= 0) {
        b = blockFor(field);
        pos = lowerBound(b, field);
    }
    char* at = m_blocks[b].data() + pos * recLen();
    if (pos < count(b) && compare(at, field) == 0) {
        std::memcpy(at + ownField(), elem.data(), m_elemLen);
        return true;
    }
    insertAt(b, pos, field, elem);
    return true;
}

void ElemList::insertAt(size_t block, size_t pos, std::string_view field, std::string_view elem)
{
    const size_t rec = recLen(), full = perBlock(rec);
    if (count(block) == full) {
        if (block + 1 == m_blocks.size() && pos == full) {
            // Appending past the last full block: a new block, so that
            // elements stored in order fill their blocks.
            m_blocks.emplace_back().reserve(full * rec);
            m_firsts.append(m_fieldLen, '\0');
            ++block;
            pos = 0;
        } else {
            // Split in halves; the record goes into the half that holds its place.
            const size_t half = full / 2;
            Block& left = m_blocks[block];
            Block right(left.begin() + static_cast<std::ptrdiff_t>(half * rec), left.end());
            left.resize(half * rec);
            m_blocks.insert(m_blocks.begin() + static_cast<std::ptrdiff_t>(block) + 1, std::move(right));
            m_firsts.insert((block + 1) * m_fieldLen, m_fieldLen, '\0');
            setFirst(block + 1);
            if (pos > half) {
                ++block;
                pos -= half;
            }
        }
    }
    Block& b = m_blocks[block];
    const size_t old = b.size(), at = pos * rec;
    if (old + rec > b.capacity()) b.reserve(std::min(full * rec, std::max(2 * b.capacity(), rec)));
    if (ownField() == 0) {
        // The record is the element: put in its place in one step.
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), elem.begin(), elem.end());
    } else {
        b.resize(old + rec);
        std::memmove(b.data() + at + rec, b.data() + at, old - at);
        std::memcpy(b.data() + at, field.data(), m_fieldLen);
        std::memcpy(b.data() + at + m_fieldLen, elem.data(), m_elemLen);
    }
    if (pos == 0) setFirst(block);
    ++m_size;
}

bool ElemList::erase(std::string_view field)
{
    if (m_blocks.empty()) return false;
    size_t b = blockFor(field);
    size_t pos = lowerBound(b, field);
    const size_t rec = recLen();
    if (pos == count(b) || compare(m_blocks[b].data() + pos * rec, field) != 0) return false;
    Block& blk = m_blocks[b];
    blk.erase(blk.begin() + static_cast<std::ptrdiff_t>(pos * rec),
              blk.begin() + static_cast<std::ptrdiff_t>((pos + 1) * rec));
    --m_size;
    if (blk.empty()) {
        eraseBlock(b);
        return true;
    }
    if (pos == 0) setFirst(b);
    // A block left a quarter full joins a neighbour when both fit in half
    // a block, so that deletions give back their blocks.
    const size_t quarter = perBlock(rec) / 4, half = perBlock(rec) / 2;
    if (count(b) < quarter) {
        if (b + 1 < m_blocks.size() && count(b) + count(b + 1) <= half) {
            blk.insert(blk.end(), m_blocks[b + 1].begin(), m_blocks[b + 1].end());
            eraseBlock(b + 1);
        } else if (b > 0 && count(b - 1) + count(b) <= half) {
            m_blocks[b - 1].insert(m_blocks[b - 1].end(), blk.begin(), blk.end());
            eraseBlock(b);
        }
    }
    return true;
}

void ElemList::eraseBlock(size_t block)
{
    m_blocks.erase(m_blocks.begin() + static_cast<std::ptrdiff_t>(block));
    m_firsts.erase(block * m_fieldLen, m_fieldLen);
}

bool ElemList::operator==(const ElemList& other) const
{
    if (m_size != other.m_size) return false;
    for (auto a = begin(), b = other.begin(); a != end(); ++a, ++b)
        if (*a != *b) return false;
    return true;
}

}  // namespace plat::dbm
