#include "platform/transport/socket_backend.h"

#include <syslog.h>

#include <cstdlib>
#include <string>

#include "platform/stub/logfile.h"
#include "platform/transport/remote_channels.h"

namespace plat::transport {

namespace {

EventChannels remoteChannels(Link& link)
{
    EventChannels c;
    for (size_t s = 0; s < c.size(); ++s) c[s] = std::make_unique<RemoteEventChannel>(link, static_cast<sim::Service>(s));
    return c;
}

}  // namespace

SocketBackend::SocketBackend(bool enabled) : SocketBackend(std::make_shared<Link>(enabled)) {}

SocketBackend::SocketBackend(std::shared_ptr<Link> link)
    : Backend(remoteChannels(*link), std::make_unique<RemotePacketSockets>(*link)), link_(std::move(link)),
      remote_(*link_)
{
    link_->onServiceDown([this](sim::Service s) { serviceDown(s); });
    (void)link_->ensure();
}

SocketBackend::~SocketBackend() { link_->onServiceDown(nullptr); }

std::string SocketBackend::startupProblem() const
{
    if (!link_->firstProblem().empty()) return link_->firstProblem();
    if (!link_->connected()) return "not connected to the simulated switch";
    return {};
}

std::unique_ptr<Backend> backendFromSetting()
{
    const char* v = std::getenv("PBB_PLATFORM");
    std::string way = v != nullptr ? v : "";
    if (way == "inproc") return nullptr;
    if (way.empty() || way == "sim") return std::make_unique<SocketBackend>();
    plat::writeLog(LOG_DAEMON | LOG_ERR, "platform", "SWITCH",
                   "PBB_PLATFORM=" + way + " names no platform (sim or inproc): the switch cannot be reached");
    return std::make_unique<SocketBackend>(false);
}

namespace {

// Linking this library makes the setting decide the process's backend.
struct Registration {
    Registration() { registerBackendMaker(&backendFromSetting); }
} g_registration;

}  // namespace

}  // namespace plat::transport

// Named on the link line of everything that links this library, so that
// the registration above is part of the program although nothing calls it.
extern "C" {
int pbbplat_transport_anchor = 0;
}
