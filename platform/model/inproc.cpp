#include "platform/model/inproc.h"

#include <stdexcept>

#include "platform/model/backend.h"

namespace plat::inproc {

namespace {

class InProcBackend final : public Backend {
public:
    InProcBackend() { model_.setSink(this); }
    ~InProcBackend() override { model_.setSink(nullptr); }
    sim::SwitchServices& services() override { return model_; }
    sim::SwitchModel& model() { return model_; }

private:
    sim::SwitchModel model_;
};

}  // namespace

sim::SwitchModel& reset()
{
    auto b = std::make_unique<InProcBackend>();
    sim::SwitchModel& m = b->model();
    installBackend(std::move(b));
    return m;
}

sim::SwitchModel& model()
{
    auto* b = dynamic_cast<InProcBackend*>(&backend());
    if (b == nullptr) throw std::logic_error("the platform calls do not reach an in-process switch");
    return b->model();
}

size_t pending(sim::Service service) { return backend().channel(service).pending(); }

int channelFd(sim::Service service) { return backend().channel(service).fd(); }

size_t deliverDatagram(std::span<const uint8_t> datagram) { return backend().packets().deliver(datagram); }

}  // namespace plat::inproc
