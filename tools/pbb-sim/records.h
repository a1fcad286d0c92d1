// The forwarding side of a daemon's session: the records its library sends
// without waiting for an answer, applied in the order sent, and the
// forwarding working tables the library copies at connection.
//
// The library answers each record at the call from its copy of the working
// tables and sends that answer with the record. The switch's own answer
// normally agrees; when it does not (a control command changed the switch
// while the record was on its way), the switch's state stands, the
// disagreement is counted, and an entry the library accepted but the
// switch refused comes back to the daemon as the line cards report such an
// entry: a no-hardware-resource report naming it on every slot that would
// hold it, on the daemon's report socket. The daemon then withdraws it.
#pragma once

#include <string>
#include <vector>

#include "platform/model/switch_model.h"
#include "platform/transport/wire.h"
#include "tools/pbb-sim/state_copy.h"
#include "tools/pbb-sim/stats.h"

namespace pbbsim {

// The snapshot's forwarding messages: FibUnicast and FibMulticast with the
// working tables, in pieces, then FibMarks.
std::vector<Message> fibSnapshot(const sim::Fib& fib);

// Applies one Records message, read after its sequence number. Returns a
// description of the first record the switch answered otherwise than the
// library did (empty when all agreed). Throws wire::WireError when the
// message is malformed, before anything is applied.
std::string applyRecords(sim::SwitchModel& model, Stats& stats, plat::wire::Reader& r);

}  // namespace pbbsim
