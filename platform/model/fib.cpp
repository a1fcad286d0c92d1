#include "platform/model/fib.h"

#include <algorithm>

#include "platform/result.h"

namespace sim {

void Fib::eraseWorkingUc(std::map<UcKey, UcEntry>::iterator it)
{
    auto n = workingUcPerVsi_.find(it->first.first);
    if (n != workingUcPerVsi_.end() && --n->second == 0) workingUcPerVsi_.erase(n);
    dirtyUc_.insert(it->first);
    working_.uc.erase(it);
}

uint32_t Fib::addUnicast(const UcEntry& e, uint32_t maxTotal, uint32_t maxPerVsi)
{
    endChunk();
    UcKey key{e.vsi, e.bmac};
    if (working_.uc.count(key) == 0) {
        auto n = workingUcPerVsi_.find(e.vsi);
        size_t inVsi = n == workingUcPerVsi_.end() ? 0 : n->second;
        if (working_.uc.size() >= maxTotal || inVsi >= maxPerVsi) return PLAT_ERR_NO_RESOURCE;
        ++workingUcPerVsi_[e.vsi];
    }
    working_.uc[key] = e;
    dirtyUc_.insert(key);
    staleUc_.erase(key);
    return PLAT_OK;
}

uint32_t Fib::delUnicast(uint32_t vsi, const Mac& bmac)
{
    endChunk();
    auto it = working_.uc.find(UcKey{vsi, bmac});
    if (it == working_.uc.end()) return PLAT_ERR_NOT_FOUND;
    eraseWorkingUc(it);
    return PLAT_OK;
}

uint32_t Fib::addMulticast(const McEntry& chunk)
{
    bool extend = chunkVsi_ == chunk.vsi && working_.mc.count(chunk.vsi) != 0;
    McEntry& e = working_.mc[chunk.vsi];
    std::vector<uint32_t> ports = extend ? e.ports : std::vector<uint32_t>{};
    for (uint32_t p : chunk.ports)
        if (std::find(ports.begin(), ports.end(), p) == ports.end()) ports.push_back(p);
    e = chunk;
    e.ports = std::move(ports);
    dirtyMc_.insert(chunk.vsi);
    staleMc_.erase(chunk.vsi);
    chunkVsi_ = chunk.vsi;
    return PLAT_OK;
}

uint32_t Fib::delMulticast(uint32_t vsi)
{
    endChunk();
    dirtyMc_.insert(vsi);
    return working_.mc.erase(vsi) != 0 ? PLAT_OK : PLAT_ERR_NOT_FOUND;
}

uint32_t Fib::addMcPort(uint32_t vsi, uint32_t port)
{
    endChunk();
    auto it = working_.mc.find(vsi);
    if (it == working_.mc.end()) return PLAT_ERR_NOT_FOUND;
    auto& ports = it->second.ports;
    if (std::find(ports.begin(), ports.end(), port) == ports.end()) ports.push_back(port);
    dirtyMc_.insert(vsi);
    staleMc_.erase(vsi);
    return PLAT_OK;
}

uint32_t Fib::delMcPort(uint32_t vsi, uint32_t port)
{
    endChunk();
    auto it = working_.mc.find(vsi);
    if (it == working_.mc.end()) return PLAT_ERR_NOT_FOUND;
    auto& ports = it->second.ports;
    auto pos = std::find(ports.begin(), ports.end(), port);
    if (pos == ports.end()) return PLAT_ERR_NOT_FOUND;
    ports.erase(pos);
    dirtyMc_.insert(vsi);
    return PLAT_OK;
}

void Fib::flush()
{
    endChunk();
    for (const UcKey& key : dirtyUc_) {
        auto it = working_.uc.find(key);
        if (it == working_.uc.end())
            committed_.uc.erase(key);
        else
            committed_.uc[key] = it->second;
    }
    for (uint32_t vsi : dirtyMc_) {
        auto it = working_.mc.find(vsi);
        if (it == working_.mc.end())
            committed_.mc.erase(vsi);
        else
            committed_.mc[vsi] = it->second;
    }
    dirtyUc_.clear();
    dirtyMc_.clear();
}

void Fib::setPbbPort(uint32_t ifIndex, bool on)
{
    endChunk();
    stalePorts_.erase(ifIndex);
    if (on)
        pbbPorts_.insert(ifIndex);
    else
        pbbPorts_.erase(ifIndex);
}

void Fib::setEncap(uint32_t vsi, uint32_t type)
{
    endChunk();
    encap_[vsi] = type;
    staleEncap_.erase(vsi);
}

uint32_t Fib::encap(uint32_t vsi) const
{
    auto it = encap_.find(vsi);
    return it == encap_.end() ? L2VPN_ENCAP_DEFAULT : it->second;
}

void Fib::openWindow()
{
    endChunk();
    window_ = true;
    staleUc_.clear();
    staleMc_.clear();
    for (const auto& [key, e] : working_.uc) staleUc_.insert(key);
    for (const auto& [key, e] : committed_.uc) staleUc_.insert(key);
    for (const auto& [vsi, e] : working_.mc) staleMc_.insert(vsi);
    for (const auto& [vsi, e] : committed_.mc) staleMc_.insert(vsi);
    stalePorts_ = pbbPorts_;
    staleEncap_.clear();
    for (const auto& [vsi, type] : encap_) staleEncap_.insert(vsi);
}

void Fib::closeWindow()
{
    endChunk();
    if (!window_) return;
    window_ = false;
    for (const auto& key : staleUc_) {
        auto it = working_.uc.find(key);
        if (it != working_.uc.end()) eraseWorkingUc(it);
        committed_.uc.erase(key);
    }
    for (uint32_t vsi : staleMc_) {
        working_.mc.erase(vsi);
        committed_.mc.erase(vsi);
    }
    for (uint32_t port : stalePorts_) pbbPorts_.erase(port);
    for (uint32_t vsi : staleEncap_) encap_.erase(vsi);
    staleUc_.clear();
    staleMc_.clear();
    stalePorts_.clear();
    staleEncap_.clear();
}

void Fib::dropVsi(uint32_t vsi)
{
    endChunk();
    for (FibTables* t : {&working_, &committed_}) {
        std::erase_if(t->uc, [vsi](const auto& kv) { return kv.first.first == vsi; });
        t->mc.erase(vsi);
    }
    workingUcPerVsi_.erase(vsi);
    encap_.erase(vsi);
}

}  // namespace sim
