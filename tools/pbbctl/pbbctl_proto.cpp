#include "tools/pbbctl/pbbctl_proto.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/bitmap.h"
#include "platform/stlv.h"

namespace pbbctl::proto {

namespace {

// Big-endian writers and readers over a byte vector at a fixed offset.
void put16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

void put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void putName(Bytes& b, size_t at, const std::string& name)
{
    std::memcpy(b.data() + at, name.data(), std::min(name.size(), kNameMax));
}

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

uint32_t get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

std::string getName(const uint8_t* p)
{
    const auto* end = static_cast<const uint8_t*>(std::memchr(p, 0, kNameLen));
    return std::string(reinterpret_cast<const char*>(p), end ? static_cast<size_t>(end - p) : kNameLen);
}

// op in the first 16 bits, two unused bytes, then a 32-bit word.
Bytes opWord(uint16_t op, uint32_t value)
{
    Bytes b(8, 0);
    put16(b, 0, op);
    put32(b, 4, value);
    return b;
}

}  // namespace

bool nameFits(const std::string& name) { return !name.empty() && name.size() <= kNameMax; }

Bytes debugReq(uint16_t op, uint32_t mask) { return opWord(op, mask); }

Bytes uplinkAllReq(uint16_t op, uint32_t ifIndex) { return opWord(op, ifIndex); }

Bytes setReq(uint16_t op, uint32_t value, uint32_t isid, const std::string& vsiName)
{
    Bytes b(kSetReqLen, 0);
    put16(b, 0, op);
    put32(b, 4, value);
    put32(b, 8, isid);
    putName(b, 12, vsiName);
    return b;
}

Bytes uplinkReq(uint16_t op, uint32_t ifIndex, const std::vector<std::string>& vsiNames)
{
    Bytes b(kUplinkReqHeadLen + kNameLen * vsiNames.size(), 0);
    put16(b, 0, op);
    put32(b, 4, ifIndex);
    put32(b, 8, static_cast<uint32_t>(vsiNames.size()));
    for (size_t i = 0; i < vsiNames.size(); ++i) putName(b, kUplinkReqHeadLen + kNameLen * i, vsiNames[i]);
    return b;
}

Bytes resetReq(const std::set<uint16_t>& bvlans, const std::vector<uint32_t>& ifIndexes, const std::string& vsiName)
{
    Bytes b(kResetReqLen, 0);
    BITMAP_S* map = Bitmap_Create(kVlanMax);
    if (map != nullptr) {
        for (uint16_t v : bvlans)
            if (v >= 1 && v <= kVlanMax) Bitmap_Set(map, v);
        size_t size = std::min(Bitmap_RecordSize(kVlanMax), kResetBitmapLen);
        Bitmap_H2N(map);
        std::memcpy(b.data(), map, size);
        Bitmap_Destroy(map);
    }
    size_t n = std::min(ifIndexes.size(), kResetIfMax);
    put32(b, kResetBitmapLen, static_cast<uint32_t>(n));
    for (size_t i = 0; i < n; ++i) put32(b, kResetBitmapLen + 4 + 4 * i, ifIndexes[i]);
    putName(b, kResetBitmapLen + 4 + 4 * kResetIfMax, vsiName);
    return b;
}

Bytes nameValue(const std::string& vsiName)
{
    Bytes b(kNameLen, 0);
    putName(b, 0, vsiName);
    return b;
}

Bytes indexValue(uint32_t vsiIndex)
{
    Bytes b(4, 0);
    put32(b, 0, vsiIndex);
    return b;
}

Bytes ucMsg(const UcMsg& m)
{
    Bytes b(kUcMsgLen, 0);
    put32(b, 0, m.vsiIndex);
    put32(b, 4, m.isid);
    put16(b, 8, m.bvlan);
    std::copy(m.bmac.begin(), m.bmac.end(), b.begin() + kUcBmacAt);
    put32(b, 16, m.ifIndex);
    putName(b, 20, m.vsiName);
    return b;
}

Bytes mcMsg(const McMsg& m)
{
    Bytes b(kMcMsgLen, 0);
    size_t n = std::min(m.ports.size(), kMcPortsMax);
    put32(b, 0, m.vsiIndex);
    put32(b, 4, m.isid);
    put32(b, 8, static_cast<uint32_t>(n));
    put16(b, 12, m.bvlan);
    std::copy(m.group.begin(), m.group.end(), b.begin() + 14);
    putName(b, 20, m.vsiName);
    for (size_t i = 0; i < n; ++i) put32(b, 52 + 4 * i, m.ports[i]);
    return b;
}

std::optional<uint32_t> word(const uint8_t* value, size_t len)
{
    if (len < 4) return std::nullopt;
    return get32(value);
}

std::optional<UcMsg> parseUc(const uint8_t* value, size_t len)
{
    if (len < kUcMsgLen) return std::nullopt;
    UcMsg m;
    m.vsiIndex = get32(value);
    m.isid = get32(value + 4);
    m.bvlan = get16(value + 8);
    std::copy(value + kUcBmacAt, value + kUcBmacAt + 6, m.bmac.begin());
    m.ifIndex = get32(value + 16);
    m.vsiName = getName(value + 20);
    return m;
}

std::optional<McMsg> parseMc(const uint8_t* value, size_t len)
{
    if (len < kMcMsgLen) return std::nullopt;
    uint32_t n = get32(value + 8);
    if (n == 0 || n > kMcPortsMax) return std::nullopt;
    McMsg m;
    m.vsiIndex = get32(value);
    m.isid = get32(value + 4);
    m.bvlan = get16(value + 12);
    std::copy(value + 14, value + 20, m.group.begin());
    m.vsiName = getName(value + 20);
    for (uint32_t i = 0; i < n; ++i) m.ports.push_back(get32(value + 52 + 4 * i));
    return m;
}

Bytes tlv(uint16_t type, const Bytes& value)
{
    Bytes b(STLV_HEADER_LEN + value.size(), 0);
    uint32_t n = STLV_Set(b.data(), static_cast<uint32_t>(b.size()), type, static_cast<uint16_t>(value.size()),
                          value.empty() ? nullptr : value.data());
    b.resize(n);
    return b;
}

uint8_t* TlvReader::room(size_t len)
{
    // What was taken goes first; the buffer grows only for a TLV larger
    // than what it holds.
    if (pos_ > 0) {
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    if (buf_.size() < end_ + len) buf_.resize(end_ + len);
    return buf_.data() + end_;
}

void TlvReader::feed(const uint8_t* data, size_t len)
{
    if (len == 0) return;
    std::memcpy(room(len), data, len);
    commit(len);
}

std::optional<TlvView> TlvReader::nextView()
{
    size_t avail = std::min<size_t>(pending(), 0xFFFF);
    uint16_t type = 0, len = 0;
    void* value = nullptr;
    if (avail == 0 || STLV_Get(buf_.data() + pos_, static_cast<uint16_t>(avail), &type, &len, &value) != 0 ||
        value == nullptr)
        return std::nullopt;
    const auto* v = static_cast<const uint8_t*>(value);
    pos_ = static_cast<size_t>(v + len - buf_.data());
    return TlvView{type, v, len};
}

std::optional<Tlv> TlvReader::next()
{
    auto t = nextView();
    if (!t) return std::nullopt;
    return Tlv{t->type, Bytes(t->value, t->value + t->len)};
}

std::string codeHex(uint32_t code)
{
    char s[16];
    std::snprintf(s, sizeof s, "0x%08x", code);
    return s;
}

std::string formatMac(const Mac& mac)
{
    char s[18];
    std::snprintf(s, sizeof s, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return s;
}

}  // namespace pbbctl::proto
