// In-memory image of one database: every key with its value type and its
// binary value or sorted elements. The DBM_ calls read only the image, so
// that a read sees every earlier write whether or not it is on disk yet;
// writes change the image and hand the matching store changes (Op) to the
// store's writer.
#pragma once

#include "platform/dbm.h"
#include "platform/dbm/dbm_elems.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

namespace plat::dbm {

struct SortDesc {
    uint32_t kind = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t compare = 0;
    uint32_t flags = 0;
    bool operator==(const SortDesc&) const = default;
};

// A description the service knows how to keep (see platform/dbm.h).
bool validSortDesc(const SortDesc& d);
// True when the description's field lies inside elements of elemLen bytes.
bool fitsElement(const SortDesc& d, uint32_t elemLen);
// The element's sort field as it is compared and stored: `length` bytes at
// `offset`; for text comparison the bytes after the first NUL are zeroed,
// so that byte order of the field is the text order.
std::string sortField(const SortDesc& d, const uint8_t* elem);
// Where a list of this description finds an element's sort field inside
// the element (ElemList::put): at its offset, unless text comparison
// changes the bytes.
inline uint32_t fieldInElement(const SortDesc& d)
{
    return d.compare == DBM_CMP_TEXT ? ElemList::kFieldApart : d.offset;
}

enum class Kind : uint8_t { Binary = 1, List = 2 };

struct KeyEntry {
    uint32_t valueType = 0;
    Kind kind = Kind::Binary;
    std::string value;                          // binary value
    SortDesc desc;                              // sort list: its description
    uint32_t elemLen = 0;                       // sort list: element length
    ElemList elems;                             // sort field -> element, in sort order

    uint32_t dataLength() const;
};

class Image {
public:
    using Keys = std::map<std::string, KeyEntry, std::less<>>;

    // Moved, never copied: the hash of the keys points into their nodes.
    Image() = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    Image(Image&& other) noexcept;
    Image& operator=(Image&& other) noexcept;

    const Keys& keys() const { return m_keys; }
    KeyEntry* find(std::string_view key);
    const KeyEntry* find(std::string_view key) const;
    // Creates or replaces the key (value type counted).
    KeyEntry& put(std::string_view key, KeyEntry entry);
    void setValueType(KeyEntry& e, uint32_t valueType);
    bool erase(std::string_view key);
    // Takes the key out, for a move.
    bool extract(std::string_view key, KeyEntry& out);
    uint32_t countOfType(uint32_t valueType) const;
    void clear();

    // Sort descriptions declared for keys that do not exist yet.
    std::map<std::string, SortDesc, std::less<>>& declared() { return m_declared; }

private:
    Keys m_keys;
    // The same keys by hash, for find: every learned entry looks its key
    // up. The views are of the keys in m_keys, whose nodes never move.
    std::unordered_map<std::string_view, KeyEntry*> m_byKey;
    // The key the last find() found, and its entry: a save asks whether
    // its key exists, then inserts under it. Forgotten by every removal.
    std::string_view m_lastKey;
    KeyEntry* m_lastEntry = nullptr;
    std::map<std::string, SortDesc, std::less<>> m_declared;
    std::unordered_map<uint32_t, uint32_t> m_typeCount;
};

}  // namespace plat::dbm
