// What stands behind the platform calls in this process.
//
// The calls reach the switch through Backend::services(). The backend also
// holds what belongs to the client process itself: its event descriptors
// with the events waiting on them, its packet sockets, the callbacks it
// registered and its private-data instances. As the switch's EventSink it
// queues events on the service's descriptor, hands frames to the packet
// sockets and line-card reports to the report socket.
//
// The process has one backend. The first platform call makes it: a library
// that reaches a switch elsewhere (the socket transport) may register a
// maker for it; without one, or when the maker declines, it is the
// in-process one (inproc.h), which owns a switch model. A test installs the
// one it wants.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/model/event_channel.h"
#include "platform/model/packet_sockets.h"
#include "platform/model/services.h"
#include "platform/sti.h"
#include "platform/vlan.h"

namespace plat {

struct IfRegistration {
    sim::EventKind kind = sim::EventKind::Interface;
    uint32_t mask = 0;
    IF_IF_EVENT_FN onIf = nullptr;
    IF_LINK_EVENT_FN onLink = nullptr;
    IF_SLOT_EVENT_FN onSlot = nullptr;
};

struct Registrations {
    std::map<uint32_t, IfRegistration> ifm;  // by handle
    uint32_t vlanHandle = 0;
    uint32_t vlanBatch = 0;
    VLAN_EVENT_FN vlanCallback = nullptr;
    uint32_t l2vpnHandle = 0;
    uint32_t l2vpnMask = 0;
    L2VPN_EVENT_FN l2vpnCallback = nullptr;
    uint32_t tcHandle = 0;
    TC_EVENT_FN tcCallback = nullptr;
};

// Private-data instances: handle -> (ifIndex -> pointer).
struct PrivateData {
    std::map<uint32_t, std::map<uint32_t, void*>> instances;
    uint32_t nextHandle = 1;
};

using EventChannels = std::array<std::unique_ptr<EventChannel>, sim::kServiceCount>;

class Backend : public sim::EventSink {
public:
    // Local event channels and packet sockets, for a switch in this process.
    Backend();

    virtual sim::SwitchServices& services() = 0;
    // Runs at the start of every platform call: a backend whose switch is
    // elsewhere brings what it knows of the switch up to date.
    virtual void sync() {}
    // Why the switch did not serve this process all along since the backend
    // was made; empty when it did. Asked when start-up is reported
    // complete: a start-up made without the switch is no start-up.
    virtual std::string startupProblem() const { return {}; }

    EventChannel& channel(sim::Service s) { return *channels_[static_cast<size_t>(s)]; }
    PacketSockets& packets() { return *packets_; }
    Registrations& regs() { return regs_; }
    PrivateData& privateData() { return pd_; }

    void deliver(const sim::Event& ev) override;
    void serviceDown(sim::Service service) override;
    void cpuFrame(const std::vector<uint8_t>& datagram) override;
    void lineCardReport(const std::vector<uint8_t>& message) override;

protected:
    // Event channels and packet sockets of another kind.
    Backend(EventChannels channels, std::unique_ptr<PacketSockets> packets);

private:
    EventChannels channels_;
    std::unique_ptr<PacketSockets> packets_;
    Registrations regs_;
    PrivateData pd_;
};

Backend& backend();
void installBackend(std::unique_ptr<Backend> b);

// Makes the process's backend at its first use; null leaves it to the
// in-process one.
using BackendMaker = std::unique_ptr<Backend> (*)();
void registerBackendMaker(BackendMaker maker);

namespace detail {
// Backend::sync() of the process's backend, made first if there is none.
void syncBackend();
}  // namespace detail

}  // namespace plat
