// The switch as a backbone edge bridge: its name and backbone address, the
// customer ports attached to VSIs (attachment circuits) and the age time of
// its data plane. Configuration only, kept with the rest of the switch so
// that topology files and 'show config' carry it; pbb-sim's data plane
// forwards by it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/model/records.h"

namespace sim {

// A locally administered unicast address made from a name: 02 and five
// bytes of the name's 64-bit FNV-1a hash.
Mac derivedBridgeAddress(std::string_view name);

class BridgeConfig {
public:
    static constexpr uint32_t kDefaultAgeSeconds = 300;

    // The name the switch has when none is set: pbb-sim sets its run
    // directory, which is one per simulated switch.
    void setFallbackName(std::string name);
    // "" takes the fallback again.
    void setName(std::string name);
    const std::string& name() const { return name_; }
    const std::string& effectiveName() const { return name_.empty() ? fallback_ : name_; }
    // nullopt: derived from the effective name.
    void setAddress(std::optional<Mac> mac);
    bool addressSet() const { return mac_.has_value(); }
    const Mac& address() const { return address_; }

    void setAgeSeconds(uint32_t seconds) { ageSeconds_ = seconds; }
    uint32_t ageSeconds() const { return ageSeconds_; }

    // Customer ports: port ifIndex -> VSI index.
    void attach(uint32_t port, uint32_t vsi) { circuits_[port] = vsi; }
    bool detach(uint32_t port) { return circuits_.erase(port) != 0; }
    std::optional<uint32_t> circuitVsi(uint32_t port) const
    {
        auto it = circuits_.find(port);
        return it == circuits_.end() ? std::nullopt : std::optional<uint32_t>(it->second);
    }
    const std::map<uint32_t, uint32_t>& circuits() const { return circuits_; }

private:
    void update() { address_ = mac_ ? *mac_ : derivedBridgeAddress(effectiveName()); }

    std::string fallback_ = "pbb-sim";
    std::string name_;
    std::optional<Mac> mac_;
    Mac address_ = derivedBridgeAddress("pbb-sim");
    uint32_t ageSeconds_ = kDefaultAgeSeconds;
    std::map<uint32_t, uint32_t> circuits_;
};

}  // namespace sim
