// The walk of learned entries, several steps in flight on one connection.
//
// A step (type 10 for a VSI's first entry, type 11 for the first entry
// after a B-MAC) answers one entry, so a walk that waits for each answer
// before it asks the next pays one round trip between two processes per
// entry. This walk keeps up to `window` steps in flight instead, on
// chains that do not depend on each other:
//
//  - the VSIs of a walk of several are walked side by side;
//  - a VSI's B-MAC space is cut into ranges, each walked by a chain of its
//    own: a range [lo, hi) starts with the step after lo - 1 and ends at
//    the first answer at or beyond hi, which belongs to the range after.
//    Whenever the window has room and no VSI waits to start, the range with
//    the most B-MACs still ahead of its position is halved, of the ranges
//    that have answered an entry. A cut that falls where no entry is costs
//    one step, so the cuts find where a VSI's entries lie (a block of
//    consecutive B-MACs as well as B-MACs spread over the space) within a
//    few rounds: about 40 steps more for a block of 1,000, 33 for 64,000.
//
// Entries are handed on in the order of a walk one step at a time: VSI by
// VSI, each in B-MAC order; a range's entries are held until the ranges
// before it are done. Every step is one the daemon answers as it answers a
// one-at-a-time walk, and every entry that stays in the table from the
// start to the end of the walk is handed on exactly once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "tools/pbbctl/pbbctl_client.h"

namespace pbbctl {

struct LearnedWalk {
    // Steps in flight: 64 steps of 56 bytes (3,584) stay below what the
    // daemon takes in one read (4096 bytes), so no step is ever cut in two.
    // The more steps a wake-up of either process finds, the less a host
    // that is slow to wake processes costs the walk (docs/operating.md).
    static constexpr size_t kWindow = 64;

    // Each entry of VSI vsis[i], as each(i, entry); then end(i, code), the
    // code that ended the VSI's walk: kNoMoreUc after its last entry;
    // kFailed when the daemon refused a step (at the first: it does not
    // know the VSI so, or has nothing learned in it; at a later one: it no
    // longer knows the VSI, and the entries handed on before are not all).
    // An entry is valid only during the call. Throws BadReply for an
    // answer a walk cannot have, NoAnswer as every exchange does.
    using EntryFn = std::function<void(size_t, const proto::UcMsg&)>;
    using EndFn = std::function<void(size_t, uint32_t)>;
    static void run(MgmtClient& client, const std::vector<proto::UcMsg>& vsis, const EntryFn& each, const EndFn& end,
                    size_t window = kWindow);
};

}  // namespace pbbctl
