// The customer MAC table of the VSIs: where each customer address was last
// seen, on a local attachment circuit or behind a remote backbone address,
// and when. Entries not seen for the age time go.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/model/records.h"

namespace dp {

struct Location {
    uint32_t port = 0;      // a local circuit's ifIndex
    sim::Mac bmac{};        // a remote bridge's backbone address
    bool remote = false;
    bool operator==(const Location&) const = default;
};

class CustomerTable {
public:
    // Addresses held at most: a flood of new source addresses cannot take
    // pbb-sim's memory.
    static constexpr size_t kMaxEntries = 1u << 16;

    const Location* find(uint32_t vsi, const sim::Mac& mac) const;
    // Records where the address was seen now; false (nothing recorded) for
    // a new address when the table is full.
    bool learn(uint32_t vsi, const sim::Mac& mac, const Location& where, int64_t nowMs);
    // Removes the entries not seen for ageMs; how many went.
    size_t expire(int64_t nowMs, int64_t ageMs);

    struct Entry {
        uint32_t vsi;
        sim::Mac mac;
        Location where;
        int64_t seenMs;
    };
    // Every entry, in order of VSI and address.
    std::vector<Entry> entries() const;
    size_t size() const { return map_.size(); }

private:
    struct Key {
        uint32_t vsi;
        uint64_t mac;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        size_t operator()(const Key& k) const { return std::hash<uint64_t>()(k.mac * 0x9E3779B97F4A7C15ull ^ k.vsi); }
    };
    struct Value {
        Location where;
        int64_t seenMs;
    };
    static Key key(uint32_t vsi, const sim::Mac& mac);

    std::unordered_map<Key, Value, KeyHash> map_;
};

}  // namespace dp
