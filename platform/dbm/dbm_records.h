// Decoder of the records the PBB daemon stores, shared by the service's
// call log and the operator's dump: the fields named in its keys ("vsi.",
// "if.", "ifvsi.", "ucpw.%u.%u.%hu.%s"), the 16-byte VSI record of a
// "vsi." key, the 2-byte all-VSI flag of an "if." key, the 32-byte VSI
// names of an "ifvsi." list and the 20-byte learned entries of a "ucpw."
// list. Anything else is left undecoded (nullopt).
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace plat::dbm {

struct Field {
    std::string name;
    std::variant<uint64_t, std::string> value;
};

struct Record {
    std::string layout;  // "PbbDbmVsiRec", "PbbDbmUcPwRec", "vsi-name", "uplink-all", "key"
    std::vector<Field> fields;

    const Field* find(std::string_view name) const;
    // Value of a numeric field; nullopt when absent or text.
    std::optional<uint64_t> number(std::string_view name) const;
    std::optional<std::string> text(std::string_view name) const;
};

enum class KeyFamily { Unknown, Vsi, If, IfVsi, UcPw };
KeyFamily familyOf(std::string_view key);

// The fields a key names (VSI name; interface name; VSI index, ifIndex,
// B-VLAN and interface name of a "ucpw." key).
std::optional<Record> decodeKey(std::string_view key);
// A binary value of the key's family.
std::optional<Record> decodeValue(std::string_view key, std::string_view bytes);
// A sort-list element of the key's family.
std::optional<Record> decodeElement(std::string_view key, std::string_view bytes);

nlohmann::ordered_json toJson(const Record& r);
// "name=value name=value", texts quoted.
std::string toText(const Record& r);
// Lower-case hex of raw bytes.
std::string hexOf(std::string_view bytes);

}  // namespace plat::dbm
