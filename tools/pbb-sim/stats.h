// What pbb-sim has done so far, for 'show stats' and the tests.
#pragma once

#include <cstdint>

namespace pbbsim {

struct Stats {
    uint64_t sessions = 0;         // daemons that connected
    uint64_t refused = 0;          // connections refused while a daemon was connected
    uint64_t broken = 0;           // daemons dropped for a malformed message or a stuck connection
    uint64_t requests = 0;         // daemon requests served (each answered)
    uint64_t records = 0;          // forwarding records applied (not answered)
    uint64_t recordsMismatched = 0;  // records and flushes the switch answered otherwise than the library
    uint64_t recordsReported = 0;  // entries refused late, reported to the daemon as lacking resources
    uint64_t commands = 0;         // control commands run
    uint64_t eventsSent = 0;       // events written to a daemon's channel
    uint64_t eventsDropped = 0;    // events with no open channel to go to
    uint64_t framesInjected = 0;   // frames handed to the switch (injected or from a bound link)
    uint64_t framesFromLinks = 0;  // of those, frames read from bound Linux interfaces
    uint64_t framesToCpu = 0;      // frames the switch copied to the CPU
    uint64_t framesDelivered = 0;  // datagrams written to a daemon's packet socket
    uint64_t framesDropped = 0;    // datagrams lost: the socket's queue was full
    uint64_t framesUnclaimed = 0;  // copies for which no socket was bound
    uint64_t reportsSent = 0;      // line-card reports sent to the report socket
    uint64_t reportsLost = 0;      // reports nobody received
    uint64_t controlShed = 0;      // idle control clients closed to make room for new ones
    uint64_t controlDropped = 0;   // connections closed unserved: pbb-sim was out of descriptors
};

}  // namespace pbbsim
