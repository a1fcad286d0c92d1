// The switch as the platform calls see it.
//
// SwitchServices is what the calls ask of the switch: its queryable state,
// the L2VPN module's commands, event registrations and acknowledgements.
// The switch model implements it; a remote switch process can stand behind
// the same interface. EventSink is where the switch sends what it produces:
// events, hang-ups of services, frames copied to the CPU and line-card
// reports.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/model/records.h"

namespace sim {

class SwitchServices {
public:
    virtual ~SwitchServices() = default;

    // Interfaces, aggregation, VLANs, spanning tree.
    virtual const Interface* findIf(uint32_t ifIndex) const = 0;
    virtual uint32_t ifIndexByName(std::string_view name) const = 0;
    virtual uint16_t maxVlanId() const = 0;

    // Slots.
    virtual SlotRange slotRange() const = 0;
    virtual const Slot* findSlot(uint16_t slot) const = 0;

    // L2VPN module.
    virtual uint32_t maxVsiNum() const = 0;
    virtual uint32_t vsiCount() const = 0;
    virtual const Vsi* findVsiByName(std::string_view name) const = 0;
    virtual FibSpec fibSpec() const = 0;
    virtual uint32_t program(const MinMRequest& req) = 0;
    virtual uint32_t flush() = 0;
    virtual uint32_t setPbbMode(uint32_t ifIndex, uint32_t mode) = 0;
    virtual uint32_t setVsiAttr(uint32_t vsiIndex, uint32_t attr, uint32_t value) = 0;
    virtual uint32_t refreshWindow(uint32_t client, uint32_t phase) = 0;
    virtual uint32_t requestBatch(uint32_t selector) = 0;

    // Events.
    virtual bool serviceUp(Service service) const = 0;
    // A non-zero handle, or 0 when refused.
    virtual uint32_t subscribe(const Subscription& sub) = 0;
    virtual uint32_t unsubscribe(uint32_t handle, uint32_t mask) = 0;
    virtual void acknowledge(const Ack& ack) = 0;
};

class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void deliver(const Event& ev) = 0;
    virtual void serviceDown(Service service) = 0;
    // One frame for the packet sockets: [PKT_SOCKADDR_S][PKT_CTRL_S][data].
    virtual void cpuFrame(const std::vector<uint8_t>& datagram) = 0;
    // One message for the report socket at L2VPN_AGE_PORT.
    virtual void lineCardReport(const std::vector<uint8_t>& message) = 0;
};

}  // namespace sim
