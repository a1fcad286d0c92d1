// Where the simulated switch listens, under the platform's run directory.
#pragma once

#include <string>

namespace plat::transport {

// The daemons' connection: <run dir>/sim.sock.
std::string simSocketPath();
// pbb-simctl's connection: <run dir>/sim-ctl.sock.
std::string controlSocketPath();

}  // namespace plat::transport
