// The programming calls the forwarding plane served, oldest first, with
// their decoded records: entry additions and deletions, flushes, PBB port
// mode, VSI attributes and the refresh window. Tests and `pbb-simctl show
// calls` read it to see what the daemon asked for, in order. The latest
// kKeep calls are kept; numbering goes on past the ones dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
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

    void add(ProgramCall c);
    // The kept calls numbered above seq, oldest first.
    std::vector<const ProgramCall*> since(uint64_t seq) const;
    // The number of the latest call (0: none yet), and how many were dropped.
    uint64_t last() const { return next_ - 1; }
    uint64_t dropped() const { return dropped_; }

private:
    // A ring once full: the oldest call is at head_, and each new one
    // takes its place.
    std::vector<ProgramCall> calls_;
    size_t head_ = 0;
    uint64_t next_ = 1;
    uint64_t dropped_ = 0;
};

}  // namespace sim
