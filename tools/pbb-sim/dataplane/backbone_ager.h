// The line cards' ageing of the unicast entries the daemon programmed.
//
// Every committed unicast entry is followed from the time it appears (or is
// programmed anew with another port, B-VLAN or I-SID). A frame from its
// B-MAC in its VSI, on any port, is traffic for it. An entry without
// traffic for the age time is reported "aged" by every slot that holds it
// (present, working normally, MAC-in-MAC capable), so that the daemon,
// which keeps it while any slot does, withdraws it; an entry still
// programmed one age time after its report is reported again (a report
// nobody read is not the end of it). Traffic for an entry reported aged is
// reported "cancelled_aged" by the same slots.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "platform/model/switch_model.h"

namespace dp {

class BackboneAger {
public:
    // Entries per report record, so that a message stays within its 4096 bytes.
    static constexpr size_t kReportEntriesMax = 256;

    // Traffic from a programmed entry's B-MAC.
    void hit(const sim::UcKey& key, int64_t nowMs);
    // Follows the committed unicast table; the reports of the entries idle
    // for ageMs, one record per slot, VSI and I-SID.
    std::vector<sim::AgeReport> sweep(const sim::SwitchModel& m, int64_t nowMs, int64_t ageMs);
    // The reports of the entries whose traffic resumed since the last call.
    std::vector<sim::AgeReport> resumed(const sim::SwitchModel& m);

    struct Track {
        int64_t lastHitMs = 0;
        int64_t agedMs = -1;   // when last reported aged; -1: not aged
        uint32_t port = 0;
        uint32_t bvlan = 0;
        uint32_t isid = 0;
    };
    const std::map<sim::UcKey, Track>& tracks() const { return tracks_; }
    // Entries reported so far.
    uint64_t agedReported() const { return agedReported_; }
    uint64_t cancelledReported() const { return cancelledReported_; }

private:
    std::vector<sim::AgeReport> reports(const sim::SwitchModel& m, uint32_t type,
                                        const std::vector<sim::UcKey>& keys) const;

    std::map<sim::UcKey, Track> tracks_;
    std::vector<sim::UcKey> resumed_;
    uint64_t agedReported_ = 0;
    uint64_t cancelledReported_ = 0;
};

}  // namespace dp
