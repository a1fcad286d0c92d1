#include "platform/transport/paths.h"

#include "platform/settings.h"

namespace plat::transport {

std::string simSocketPath() { return plat::runDir() + "/sim.sock"; }
std::string controlSocketPath() { return plat::runDir() + "/sim-ctl.sock"; }

}  // namespace plat::transport
