// What the data plane counts, per VSI and per port: frames received (on the
// port, or for the VSI), encapsulated, decapsulated, sent unicast, flooded,
// copied to the CPU, dropped by reason, and per egress port what was sent,
// could not be sent, or had no Linux interface to go to.
#pragma once

#include <array>
#include <cstdint>
#include <map>

#include <nlohmann/json.hpp>

#include "tools/pbb-sim/dataplane/decide.h"

namespace dp {

enum class Tx : uint8_t { Sent, Failed, Unbound };

struct Counters {
    uint64_t received = 0;
    uint64_t encapsulated = 0;
    uint64_t decapsulated = 0;
    uint64_t unicast = 0;
    uint64_t flooded = 0;
    uint64_t toCpu = 0;
    uint64_t transmitted = 0;
    uint64_t txFailed = 0;
    uint64_t txUnbound = 0;
    std::array<uint64_t, kDropCount> dropped{};

    void count(const Decision& d);
    // {"received": .., ..., "dropped": {"runt": .., ...}}: every counter, zeros too.
    nlohmann::json json() const;
};

class CounterTables {
public:
    // One decision, on its ingress port and on its VSI.
    void count(const Decision& d);
    void transmitted(uint32_t port, Tx result);

    const std::map<uint32_t, Counters>& ports() const { return ports_; }
    const std::map<uint32_t, Counters>& vsis() const { return vsis_; }

private:
    std::map<uint32_t, Counters> ports_;
    std::map<uint32_t, Counters> vsis_;
};

}  // namespace dp
