// The library's copy of the switch's forwarding working tables.
//
// Forwarding records (L2VPN_AddMinMEntry, L2VPN_DelMinMEntry) are answered
// here, at the call, and travel to pbb-sim without waiting for it (see
// link.h). The copy runs the switch's own table code (sim::Fib) with the
// checks the switch makes, on the copy of the switch's state (Mirror), so
// the answer is the one the switch gives when it applies the record: the
// records reach the switch in the order they were answered here, and
// between them the copy and the switch see the same changes:
//   - the daemon's own calls that touch the tables: records, flushes, the
//     refresh window, and PBB mode and encapsulation types, which end a
//     chunked multicast add (applied here once the switch accepted them);
//   - a VSI the switch removes (DelVsi), with its entries;
//   - the L2VPN registration that records need, which ends with the
//     service or the connection.
// At connection the snapshot gives the working tables, the refresh
// window's marks on them and the open multicast chunk. The committed
// tables are the switch's; the copy keeps only what answers depend on:
// the working tables, of a unicast entry its key (sim::KeyFib).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>

#include "platform/model/fib.h"
#include "platform/transport/mirror.h"
#include "platform/transport/wire.h"

namespace plat::transport {

class FibShadow {
public:
    // The switch's answer to the record, applied to the copy.
    uint32_t program(const sim::MinMRequest& req, const Mirror& mirror);
    // The switch's answer to a flush: PLAT_OK while a client is registered.
    uint32_t flush();
    // A refresh-window phase the switch accepted.
    void window(uint32_t phase);
    // PBB mode or an encapsulation type the switch accepted.
    void portOrVsiSet() { fib_.endChunk(); }

    // The L2VPN registration. A client that deregisters closes its
    // descriptor, which the calls check first.
    void registered(uint32_t client) { client_ = client; }
    // The L2VPN service went away: its registration ended.
    void serviceDown() { client_.reset(); }
    void vsiGone(uint32_t vsi) { fib_.dropVsi(vsi); }

    // Applies one snapshot message (FibUnicast, FibMulticast, FibMarks);
    // false for a message of another kind. Throws wire::WireError when
    // malformed.
    bool apply(wire::Msg type, std::span<const uint8_t> payload);
    void clear();

private:
    void applyMarks(wire::Reader& r);

    sim::KeyFib fib_{sim::FibKeeps::WorkingOnly};
    std::optional<uint32_t> client_;
};

}  // namespace plat::transport
