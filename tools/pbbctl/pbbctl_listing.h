// What 'pbbctl show learned' prints, gathered while the daemon's walks
// run: the learned entries of the VSIs walked, each VSI walked with its
// count, and each VSI skipped with the reason.
//
// The JSON text is written as the entries arrive, in the layout of
// nlohmann-json's dump(2) of {"count", "learned", "skipped", "vsis"} (keys
// in name order, two spaces per level), without a JSON value per entry: a
// walk may hold tens of thousands of them. Strings are escaped by
// nlohmann-json itself, each name once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/pbbctl/pbbctl_proto.h"

namespace pbbctl {

class LearnedListing {
public:
    // label: the interface name shown for an ifIndex (asked once per ifIndex).
    LearnedListing(bool json, std::function<std::string(uint32_t)> label);

    // An entry of the VSI being walked.
    void entry(const proto::UcMsg& e);
    // The VSI (as its multicast answer gives it) was walked: the entries
    // given since the last VSI ended are its entries.
    void walked(const proto::McMsg& vsi);
    // The VSI is skipped: the entries given since the last VSI ended are
    // dropped.
    void skipped(const proto::McMsg& vsi, const std::string& why);

    size_t count() const { return count_; }
    // Text: a row per entry (VSI, I-SID, B-VLAN, B-MAC, interface).
    const std::vector<std::vector<std::string>>& rows() const { return rows_; }
    // JSON: the document (no newline after it).
    std::string json() const;

private:
    struct Label {
        std::string name;
        std::string quoted;
    };
    const Label& label(uint32_t ifIndex);
    const std::string& quotedVsi(const std::string& name);

    bool json_;
    std::function<std::string(uint32_t)> labelOf_;
    std::unordered_map<uint32_t, Label> labels_;
    std::string vsiName_, vsiQuoted_;

    // Entries and JSON bytes when the last VSI ended.
    size_t count_ = 0, mark_ = 0, markBytes_ = 0;
    std::string learned_;                         // JSON: the entries' objects
    std::vector<std::vector<std::string>> rows_;  // text: the entries' rows
    std::string walkedJson_, skippedJson_;
    size_t walked_ = 0, skipped_ = 0;
};

}  // namespace pbbctl
