// The socket transport: the platform calls of this process reach the
// simulated switch (pbb-sim) over local sockets under the run directory.
//
// Which way a process takes is a platform setting, the environment variable
// PBB_PLATFORM, read when the process makes its first switch call:
//   sim (also when unset)  this transport;
//   inproc                 a switch model inside the process (inproc.h).
// Any other value is logged as an error and leaves the switch unreachable.
// A test may install a backend itself (plat::inproc::reset(), or
// plat::installBackend(std::make_unique<SocketBackend>())).
#pragma once

#include <memory>

#include "platform/model/backend.h"
#include "platform/transport/link.h"
#include "platform/transport/remote_switch.h"

namespace plat::transport {

class SocketBackend final : public Backend {
public:
    // Makes one attempt to connect at once; later calls try again when
    // they need the switch. enabled false: never connects.
    explicit SocketBackend(bool enabled = true);
    ~SocketBackend() override;

    sim::SwitchServices& services() override { return remote_; }
    void sync() override { link_->sync(); }
    std::string startupProblem() const override;
    Link& link() { return *link_; }

private:
    explicit SocketBackend(std::shared_ptr<Link> link);

    std::shared_ptr<Link> link_;
    RemoteSwitch remote_;
};

// The backend the platform setting asks for: null for the in-process one.
std::unique_ptr<Backend> backendFromSetting();

}  // namespace plat::transport
