// The simulated switch's data plane: it forwards frames by the decision
// (decide.h) and keeps what the decisions leave behind: the customer MAC
// table, the traffic of the programmed backbone addresses and the counters.
// Time comes from the caller (milliseconds of a steady clock), so that the
// tests set it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/model/switch_model.h"
#include "tools/pbb-sim/dataplane/backbone_ager.h"
#include "tools/pbb-sim/dataplane/counters.h"
#include "tools/pbb-sim/dataplane/customer_table.h"
#include "tools/pbb-sim/dataplane/decide.h"

namespace dp {

class DataPlane {
public:
    explicit DataPlane(const sim::SwitchModel& model) : model_(model) {}

    // One frame on a port: decided, counted, learned. The decision (valid
    // until the next call) says what to send where and whether to copy the
    // frame to the CPU.
    const Decision& receive(uint32_t port, std::span<const uint8_t> frame, int64_t nowMs);
    void transmitted(uint32_t port, Tx result) { counters_.transmitted(port, result); }

    // Ageing at the bridge's age time: customer addresses go, backbone
    // addresses idle that long are reported aged (the reports to send).
    std::vector<sim::AgeReport> age(int64_t nowMs);
    // Cancelled ageing of backbone addresses whose traffic resumed.
    std::vector<sim::AgeReport> resumed() { return ager_.resumed(model_); }

    // 'show dataplane': the bridge, its circuits, the counters per VSI and
    // port, the customer MAC table and the backbone addresses followed.
    nlohmann::json show(int64_t nowMs) const;

    const CounterTables& counters() const { return counters_; }
    const CustomerTable& customers() const { return customers_; }
    const BackboneAger& ager() const { return ager_; }

private:
    const sim::SwitchModel& model_;
    CustomerTable customers_;
    BackboneAger ager_;
    CounterTables counters_;
    Decision decision_;
    uint64_t notLearned_ = 0;
};

}  // namespace dp
