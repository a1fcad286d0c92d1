#include "platform/dbm/dbm_image.h"

#include "platform/dbm.h"

#include <cstring>
#include <utility>

namespace plat::dbm {

bool validSortDesc(const SortDesc& d)
{
    return d.kind == DBM_SORT_ASCENDING && (d.compare == DBM_CMP_BYTES || d.compare == DBM_CMP_TEXT) &&
           d.flags == DBM_SORT_UNIQUE && d.length >= 1 && d.length <= DBM_MAX_ELEM_LEN &&
           d.offset < DBM_MAX_ELEM_LEN && d.offset + d.length <= DBM_MAX_ELEM_LEN;
}

bool fitsElement(const SortDesc& d, uint32_t elemLen)
{
    return elemLen >= 1 && elemLen <= DBM_MAX_ELEM_LEN && d.offset + d.length <= elemLen;
}

std::string sortField(const SortDesc& d, const uint8_t* elem)
{
    std::string f(reinterpret_cast<const char*>(elem) + d.offset, d.length);
    if (d.compare == DBM_CMP_TEXT) {
        size_t nul = f.find('\0');
        if (nul != std::string::npos) std::memset(f.data() + nul, 0, f.size() - nul);
    }
    return f;
}

uint32_t KeyEntry::dataLength() const
{
    if (kind == Kind::Binary) return static_cast<uint32_t>(value.size());
    return static_cast<uint32_t>(elems.size()) * elemLen;
}

Image::Image(Image&& other) noexcept
    : m_keys(std::move(other.m_keys)),
      m_byKey(std::move(other.m_byKey)),
      m_lastKey(std::exchange(other.m_lastKey, {})),
      m_lastEntry(std::exchange(other.m_lastEntry, nullptr)),
      m_declared(std::move(other.m_declared)),
      m_typeCount(std::move(other.m_typeCount))
{
}

Image& Image::operator=(Image&& other) noexcept
{
    m_keys = std::move(other.m_keys);
    m_byKey = std::move(other.m_byKey);
    m_lastKey = std::exchange(other.m_lastKey, {});
    m_lastEntry = std::exchange(other.m_lastEntry, nullptr);
    m_declared = std::move(other.m_declared);
    m_typeCount = std::move(other.m_typeCount);
    return *this;
}

KeyEntry* Image::find(std::string_view key)
{
    if (m_lastEntry != nullptr && key == m_lastKey) return m_lastEntry;
    auto it = m_byKey.find(key);
    if (it == m_byKey.end()) return nullptr;
    m_lastKey = it->first;
    m_lastEntry = it->second;
    return it->second;
}

const KeyEntry* Image::find(std::string_view key) const
{
    auto it = m_byKey.find(key);
    return it == m_byKey.end() ? nullptr : it->second;
}

KeyEntry& Image::put(std::string_view key, KeyEntry entry)
{
    auto it = m_keys.find(key);
    if (it == m_keys.end()) {
        it = m_keys.emplace(std::string(key), KeyEntry{}).first;
        m_byKey.emplace(std::string_view(it->first), &it->second);
    } else {
        --m_typeCount[it->second.valueType];
    }
    ++m_typeCount[entry.valueType];
    it->second = std::move(entry);
    if (!m_declared.empty()) {
        auto d = m_declared.find(key);
        if (d != m_declared.end()) m_declared.erase(d);
    }
    return it->second;
}

void Image::setValueType(KeyEntry& e, uint32_t valueType)
{
    if (e.valueType == valueType) return;
    --m_typeCount[e.valueType];
    ++m_typeCount[valueType];
    e.valueType = valueType;
}

bool Image::erase(std::string_view key)
{
    auto it = m_keys.find(key);
    if (it == m_keys.end()) return false;
    --m_typeCount[it->second.valueType];
    m_byKey.erase(std::string_view(it->first));
    m_keys.erase(it);
    m_lastEntry = nullptr;
    return true;
}

bool Image::extract(std::string_view key, KeyEntry& out)
{
    auto it = m_keys.find(key);
    if (it == m_keys.end()) return false;
    --m_typeCount[it->second.valueType];
    out = std::move(it->second);
    m_byKey.erase(std::string_view(it->first));
    m_keys.erase(it);
    m_lastEntry = nullptr;
    return true;
}

uint32_t Image::countOfType(uint32_t valueType) const
{
    auto it = m_typeCount.find(valueType);
    return it == m_typeCount.end() ? 0 : it->second;
}

void Image::clear()
{
    m_lastEntry = nullptr;
    m_byKey.clear();
    m_keys.clear();
    m_declared.clear();
    m_typeCount.clear();
}

}  // namespace plat::dbm
