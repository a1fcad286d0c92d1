// The programming calls the forwarding plane served, oldest first, with
// their decoded records: entry additions and deletions, flushes, PBB port
// mode, VSI attributes and the refresh window. Tests and `pbb-simctl show
// calls` read it to see what the daemon asked for, in order. The latest
// kKeep calls are kept; numbering goes on past the ones dropped.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/model/records.h"

namespace sim {

struct ProgramCall {
    uint64_t seq = 0;                 // from 1, given by the log
    std::string_view call;            // the platform call, as in the headers (a literal)
    uint32_t result = 0;              // what the switch answered
    std::optional<MinMRequest> minm;  // entry additions and deletions
    // The other calls' arguments: SetInterface (ifIndex, mode), SetVSI
    // (VSI, attribute, value), SendGrEvent (client, phase).
    std::vector<uint32_t> args;
};

class ProgramLog {
public:
    static constexpr size_t kKeep = 65536;
    static constexpr size_t kMaxArgs = 3;

    ProgramLog();

    // `call` names a literal, which the log keeps a view of.
    void add(std::string_view call, uint32_t result, const MinMRequest& minm);
    void add(std::string_view call, uint32_t result, std::initializer_list<uint32_t> args);
    // Up to `max` of the kept calls numbered above seq, oldest first.
    std::vector<ProgramCall> since(uint64_t seq, size_t max = SIZE_MAX) const;
    // The number of the latest call (0: none yet), and how many were dropped.
    uint64_t last() const { return next_ - 1; }
    uint64_t dropped() const { return dropped_; }

private:
    // A call as kept: fixed size and no heap of its own, as every learned
    // entry costs two of them. A request's ports past the first are kept
    // aside by the call's number (only multicast additions have them).
    struct Slot {
        const char* call;
        uint32_t callLen;
        uint32_t result;
        bool hasMinm;
        uint8_t argCount;
        uint32_t client;
        uint32_t op;
        uint32_t portCount;
        uint32_t firstPort;
        union {
            L2VPN_MINM_ENTRY_S entry;
            uint32_t args[kMaxArgs];
        };
    };

    Slot& take(uint64_t& seq);
    ProgramCall call(const Slot& s, uint64_t seq) const;

    // A ring once full: the oldest call is at head_, and each new one
    // takes its place.
    std::vector<Slot> calls_;
    std::unordered_map<uint64_t, std::vector<uint32_t>> morePorts_;
    size_t head_ = 0;
    uint64_t next_ = 1;
    uint64_t dropped_ = 0;
};

}  // namespace sim
