#include "platform/model/backend.h"

#include "platform/l2vpn_age.h"
#include "platform/lipc.h"
#include "platform/model/inproc.h"
#include "platform/service.h"

namespace plat {

namespace {

std::unique_ptr<Backend> g_backend;
BackendMaker g_maker = nullptr;

EventChannels localChannels()
{
    EventChannels c;
    for (auto& ch : c) ch = std::make_unique<LocalEventChannel>();
    return c;
}

}  // namespace

Backend& backend()
{
    if (!g_backend && g_maker != nullptr) g_backend = g_maker();
    if (!g_backend) inproc::reset();
    return *g_backend;
}

void installBackend(std::unique_ptr<Backend> b) { g_backend = std::move(b); }

void registerBackendMaker(BackendMaker maker) { g_maker = maker; }

namespace {

std::string backendStartupProblem() { return g_backend ? g_backend->startupProblem() : std::string(); }

// Start-up is reported complete through the service manager, which asks
// the backend first.
struct ReadinessRegistration {
    ReadinessRegistration() { setReadinessCheck(&backendStartupProblem); }
} g_readinessRegistration;

}  // namespace

// The first call makes the backend before it looks for its fault: what the
// backend learns when it is made (faults armed for this process before it
// reached the switch) holds for that call too.
void detail::syncBackend() { backend().sync(); }

Backend::Backend() : Backend(localChannels(), std::make_unique<LocalPacketSockets>()) {}

Backend::Backend(EventChannels channels, std::unique_ptr<PacketSockets> packets)
    : channels_(std::move(channels)), packets_(std::move(packets))
{
}

void Backend::deliver(const sim::Event& ev) { channel(sim::serviceOf(ev.kind)).push(ev); }

void Backend::serviceDown(sim::Service service)
{
    switch (service) {
    case sim::Service::Ifm: regs_.ifm.clear(); break;
    case sim::Service::Vlan: regs_.vlanHandle = 0; regs_.vlanCallback = nullptr; break;
    case sim::Service::L2vpn: regs_.l2vpnHandle = 0; regs_.l2vpnCallback = nullptr; break;
    case sim::Service::Sti: regs_.tcHandle = 0; regs_.tcCallback = nullptr; break;
    case sim::Service::Packet: packets_->hangUp(); return;
    }
    channel(service).hangUp();
}

void Backend::cpuFrame(const std::vector<uint8_t>& datagram) { packets_->deliver(datagram); }

void Backend::lineCardReport(const std::vector<uint8_t>& message)
{
    // A report nobody listens for is lost, as on the switch.
    (void)lipcSendReport(L2VPN_AGE_PORT, message.data(), message.size());
}

}  // namespace plat
