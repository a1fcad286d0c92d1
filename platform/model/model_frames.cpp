// Frames copied to the CPU and line-card reports.
#include "platform/model/switch_model.h"

namespace sim {

bool SwitchModel::receiveFrame(uint32_t portIfIndex, std::span<const uint8_t> frame)
{
    const Interface* port = findIf(portIfIndex);
    if (port == nullptr || port->isAggregate() || !port->present || !port->active || !port->linkUp) return false;
    if (!fib_.pbbPort(portIfIndex) || !serviceUp(Service::Packet)) return false;
    auto copy = cpuCopy(port->aggregate != 0 ? port->aggregate : portIfIndex, frame);
    if (!copy) return false;
    if (sink_ != nullptr) sink_->cpuFrame(packDatagram(*copy));
    return true;
}

bool SwitchModel::receiveFrame(uint32_t portIfIndex, const PbbFrame& frame)
{
    return receiveFrame(portIfIndex, encodeFrame(frame));
}

bool SwitchModel::deliverDatagram(const std::vector<uint8_t>& datagram)
{
    if (!serviceUp(Service::Packet)) return false;
    if (sink_ != nullptr) sink_->cpuFrame(datagram);
    return true;
}

void SwitchModel::sendReport(const std::vector<ReportTlv>& tlvs)
{
    auto message = encodeReport(tlvs);
    if (sink_ != nullptr) sink_->lineCardReport(message);
}

}  // namespace sim
