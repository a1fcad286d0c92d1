// Interface and VSI names as the switch gives them, for pbbctl's arguments.
//
// The switch's interfaces and VSIs are asked from the simulated switch's
// control socket (the one pbb-simctl uses: "show interfaces" and "show
// vsis"), never over the daemons' socket: pbb-sim serves one daemon, and
// that is pbbd.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pbbctl {

struct IfName {
    uint32_t ifIndex = 0;
    std::string name;
};

struct VsiName {
    uint32_t index = 0;
    std::string name;
    uint32_t isid = 0;
};

// The switch's view, fetched once on first use.
class SwitchNames {
public:
    explicit SwitchNames(int timeoutMs) : timeoutMs_(timeoutMs) {}

    // A full name or an ifIndex. Usage (exit 2) when the switch has no
    // such interface; NoAnswer when the switch cannot be asked.
    IfName interface(const std::string& word);
    // A name or a VSI index.
    VsiName vsi(const std::string& word);
    // The name of an ifIndex, or the number when the switch does not know it
    // (or cannot be asked).
    std::string ifLabel(uint32_t ifIndex);
    // Every interface of the switch.
    const std::vector<IfName>& interfaces();

private:
    void load();

    int timeoutMs_;
    bool loaded_ = false;
    std::optional<std::string> error_;
    std::vector<IfName> ifs_;
    std::vector<VsiName> vsis_;
};

}  // namespace pbbctl
