// The platform library's copy of the simulated switch's queryable state:
// slots, interfaces, VSIs, limits and which services are away. The
// simulator sends it whole when a daemon connects and then every change;
// the queries of the platform calls read it here, without asking.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>

#include "platform/model/records.h"
#include "platform/transport/wire.h"

namespace plat::transport {

class Mirror {
public:
    // Applies one state message (Scalars, Put*/Del*, Services). Returns false
    // for a message of another kind. Throws wire::WireError when malformed.
    bool apply(wire::Msg type, std::span<const uint8_t> payload);
    void clear();

    const wire::Scalars& scalars() const { return scalars_; }
    const sim::Interface* findIf(uint32_t ifIndex) const;
    uint32_t ifIndexByName(std::string_view name) const;
    const sim::Slot* findSlot(uint16_t slot) const;
    const sim::Vsi* findVsiByName(std::string_view name) const;
    uint32_t vsiCount() const { return static_cast<uint32_t>(vsis_.size()); }
    bool serviceUp(sim::Service s) const { return (down_ & bit(s)) == 0; }
    // The services that are away, one bit per service.
    uint32_t downMask() const { return down_; }

    const std::map<uint32_t, sim::Interface>& interfaces() const { return ifs_; }
    const std::map<uint16_t, sim::Slot>& slots() const { return slots_; }
    const std::map<uint32_t, sim::Vsi>& vsis() const { return vsis_; }

    static uint32_t bit(sim::Service s) { return 1u << static_cast<unsigned>(s); }
    static constexpr uint32_t kAllServices = (1u << sim::kServiceCount) - 1;

private:
    void forgetName(const sim::Interface& i);

    wire::Scalars scalars_{};
    std::map<uint16_t, sim::Slot> slots_;
    std::map<uint32_t, sim::Interface> ifs_;
    std::map<std::string, uint32_t, std::less<>> ifNames_;
    std::map<uint32_t, sim::Vsi> vsis_;
    uint32_t down_ = 0;
};

}  // namespace plat::transport
