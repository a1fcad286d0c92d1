#include "platform/dbm/dbm_records.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace plat::dbm {
namespace {

// The daemon's stored layouts, host byte order except the B-MAC.
struct VsiRecLayout {
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint32_t uiEncapType;
    uint16_t usBVlan;
    uint16_t usReserved;
};
static_assert(sizeof(VsiRecLayout) == 16);
static_assert(offsetof(VsiRecLayout, uiEncapType) == 8 && offsetof(VsiRecLayout, usBVlan) == 12);

struct UcPwRecLayout {
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint32_t uiIfIndex;
    uint8_t aucBMac[6];
    uint16_t usBVlan;
};
static_assert(sizeof(UcPwRecLayout) == 20);
static_assert(offsetof(UcPwRecLayout, aucBMac) == 12 && offsetof(UcPwRecLayout, usBVlan) == 18);

constexpr size_t kVsiNameLen = 32;

constexpr std::string_view kVsiPrefix = "vsi.";
constexpr std::string_view kIfPrefix = "if.";
constexpr std::string_view kIfVsiPrefix = "ifvsi.";
constexpr std::string_view kUcPwPrefix = "ucpw.";

std::string textOf(std::string_view bytes)
{
    size_t n = bytes.find('\0');
    return std::string(bytes.substr(0, n));
}

std::string macOf(const uint8_t* m)
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return buf;
}

// Reads a decimal number up to the next '.'; false when there is none.
bool number(std::string_view& s, uint64_t max, uint64_t& out)
{
    size_t dot = s.find('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + dot, out);
    if (ec != std::errc() || p != s.data() + dot || out > max) return false;
    s.remove_prefix(dot + 1);
    return true;
}

}  // namespace

const Field* Record::find(std::string_view name) const
{
    for (const auto& f : fields)
        if (f.name == name) return &f;
    return nullptr;
}

std::optional<uint64_t> Record::number(std::string_view name) const
{
    const Field* f = find(name);
    if (f == nullptr || !std::holds_alternative<uint64_t>(f->value)) return std::nullopt;
    return std::get<uint64_t>(f->value);
}

std::optional<std::string> Record::text(std::string_view name) const
{
    const Field* f = find(name);
    if (f == nullptr || !std::holds_alternative<std::string>(f->value)) return std::nullopt;
    return std::get<std::string>(f->value);
}

KeyFamily familyOf(std::string_view key)
{
    if (key.starts_with(kVsiPrefix)) return KeyFamily::Vsi;
    if (key.starts_with(kIfVsiPrefix)) return KeyFamily::IfVsi;
    if (key.starts_with(kIfPrefix)) return KeyFamily::If;
    if (key.starts_with(kUcPwPrefix)) return KeyFamily::UcPw;
    return KeyFamily::Unknown;
}

std::optional<Record> decodeKey(std::string_view key)
{
    switch (familyOf(key)) {
    case KeyFamily::Vsi:
        return Record{"key", {{"vsi_name", std::string(key.substr(kVsiPrefix.size()))}}};
    case KeyFamily::If:
        return Record{"key", {{"if_name", std::string(key.substr(kIfPrefix.size()))}}};
    case KeyFamily::IfVsi:
        return Record{"key", {{"if_name", std::string(key.substr(kIfVsiPrefix.size()))}}};
    case KeyFamily::UcPw: {
        std::string_view rest = key.substr(kUcPwPrefix.size());
        uint64_t vsi = 0, ifIndex = 0, bvlan = 0;
        if (!number(rest, 0xFFFFFFFFu, vsi) || !number(rest, 0xFFFFFFFFu, ifIndex) || !number(rest, 0xFFFF, bvlan))
            return std::nullopt;
        return Record{"key", {{"vsi_index", vsi}, {"ifindex", ifIndex}, {"bvlan", bvlan}, {"if_name", std::string(rest)}}};
    }
    case KeyFamily::Unknown:
        break;
    }
    return std::nullopt;
}

std::optional<Record> decodeValue(std::string_view key, std::string_view bytes)
{
    KeyFamily fam = familyOf(key);
    if (fam == KeyFamily::Vsi && bytes.size() == sizeof(VsiRecLayout)) {
        VsiRecLayout r;
        std::memcpy(&r, bytes.data(), sizeof r);
        return Record{"PbbDbmVsiRec",
                      {{"vsi_index", r.uiVsiIndex},
                       {"isid", r.uiISid},
                       {"encap_type", r.uiEncapType},
                       {"bvlan", r.usBVlan},
                       {"reserved", r.usReserved}}};
    }
    if (fam == KeyFamily::If && bytes.size() == sizeof(uint16_t)) {
        uint16_t v;
        std::memcpy(&v, bytes.data(), sizeof v);
        return Record{"uplink-all", {{"uplink_all", v}}};
    }
    return std::nullopt;
}

std::optional<Record> decodeElement(std::string_view key, std::string_view bytes)
{
    KeyFamily fam = familyOf(key);
    if (fam == KeyFamily::IfVsi && bytes.size() == kVsiNameLen) return Record{"vsi-name", {{"vsi_name", textOf(bytes)}}};
    if (fam == KeyFamily::UcPw && bytes.size() == sizeof(UcPwRecLayout)) {
        UcPwRecLayout r;
        std::memcpy(&r, bytes.data(), sizeof r);
        return Record{"PbbDbmUcPwRec",
                      {{"vsi_index", r.uiVsiIndex},
                       {"isid", r.uiISid},
                       {"ifindex", r.uiIfIndex},
                       {"bmac", macOf(r.aucBMac)},
                       {"bvlan", r.usBVlan}}};
    }
    return std::nullopt;
}

nlohmann::ordered_json toJson(const Record& r)
{
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    j["layout"] = r.layout;
    for (const auto& f : r.fields) {
        if (std::holds_alternative<uint64_t>(f.value)) j[f.name] = std::get<uint64_t>(f.value);
        else j[f.name] = std::get<std::string>(f.value);
    }
    return j;
}

std::string toText(const Record& r)
{
    std::string out;
    for (const auto& f : r.fields) {
        if (!out.empty()) out += ' ';
        out += f.name;
        out += '=';
        if (std::holds_alternative<uint64_t>(f.value)) out += std::to_string(std::get<uint64_t>(f.value));
        else out += nlohmann::json(std::get<std::string>(f.value)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    return out;
}

std::string hexOf(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace plat::dbm
