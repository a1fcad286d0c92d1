// The L2VPN module's VSIs and its commands to the forwarding plane.
#include <algorithm>
#include <stdexcept>

#include "platform/model/switch_model.h"
#include "platform/result.h"

namespace sim {

void SwitchModel::setMaxVsiNum(uint32_t count)
{
    if (count == 0 || (!vsis_.empty() && vsis_.rbegin()->first >= count))
        throw std::invalid_argument("VSI count does not hold the VSIs");
    maxVsiNum_ = count;
}

void SwitchModel::addVsi(uint32_t index, const std::string& name, uint32_t isid, bool down)
{
    if (index >= maxVsiNum_) throw std::invalid_argument("VSI index out of range");
    if (name.empty() || name.size() >= L2VPN_VSI_NAME_LEN) throw std::invalid_argument("VSI name length");
    if (isid > 0xFFFFFF) throw std::invalid_argument("I-SID out of range");
    const Vsi* other = findVsiByName(name);
    if (other != nullptr && other->index != index) throw std::invalid_argument("VSI name in use");
    Vsi& v = vsis_[index];
    v = Vsi{index, name, isid, down};
    emitVsi(L2VPN_EVT_VSI_ADD, v);
}

void SwitchModel::setVsiIsid(uint32_t index, uint32_t isid)
{
    if (isid > 0xFFFFFF) throw std::invalid_argument("I-SID out of range");
    Vsi& v = vsiRef(index);
    v.isid = isid;
    emitVsi(L2VPN_EVT_VSI_MODIFY_ISID, v);
}

void SwitchModel::setVsiDown(uint32_t index, bool down)
{
    Vsi& v = vsiRef(index);
    v.down = down;
    emitVsi(L2VPN_EVT_VSI_STATE, v);
}

void SwitchModel::deleteVsi(uint32_t index)
{
    Vsi v = vsiRef(index);
    vsis_.erase(index);
    fib_.dropVsi(index);
    emitVsi(L2VPN_EVT_VSI_DEL, v);
}

void SwitchModel::disableL2vpn()
{
    for (const auto& [index, v] : vsis_) fib_.dropVsi(index);
    vsis_.clear();
    emit(Event{.kind = EventKind::L2vpn, .code = L2VPN_EVT_DISABLE});
}

const Vsi* SwitchModel::findVsi(uint32_t index) const
{
    auto it = vsis_.find(index);
    return it == vsis_.end() ? nullptr : &it->second;
}

const Vsi* SwitchModel::findVsiByName(std::string_view name) const
{
    for (const auto& [index, v] : vsis_)
        if (v.name == name) return &v;
    return nullptr;
}

Vsi& SwitchModel::vsiRef(uint32_t index)
{
    auto it = vsis_.find(index);
    if (it == vsis_.end()) throw std::invalid_argument("unknown VSI");
    return it->second;
}

const UcEntry* SwitchModel::unicast(uint32_t vsi, const Mac& bmac) const
{
    return fib_.committedUnicast(UcKey{vsi, bmac});
}

const McEntry* SwitchModel::multicast(uint32_t vsi) const
{
    auto it = fib_.committed().mc.find(vsi);
    return it == fib_.committed().mc.end() ? nullptr : &it->second;
}

const Subscription* SwitchModel::l2vpnClient() const
{
    for (const auto& [handle, sub] : subs_)
        if (sub.kind == EventKind::L2vpn) return &sub;
    return nullptr;
}

uint32_t SwitchModel::checkPorts(const std::vector<uint32_t>& ports) const
{
    for (uint32_t p : ports)
        if (findIf(p) == nullptr) return PLAT_ERR_NOT_FOUND;
    return PLAT_OK;
}

uint32_t SwitchModel::logged(std::string_view call, uint32_t result, std::initializer_list<uint32_t> args)
{
    calls_.add(call, result, args);
    return result;
}

uint32_t SwitchModel::program(const MinMRequest& req)
{
    uint32_t rc = programEntry(req);
    bool del = req.op == L2VPN_MINM_DEL_UC || req.op == L2VPN_MINM_DEL_MC;
    calls_.add(del ? "L2VPN_DelMinMEntry" : "L2VPN_AddMinMEntry", rc, req);
    return rc;
}

uint32_t SwitchModel::programEntry(const MinMRequest& req)
{
    const Subscription* client = l2vpnClient();
    uint32_t rc = PLAT_OK;
    const L2VPN_MINM_ENTRY_S& e = req.entry;
    Mac bmac;
    std::copy(std::begin(e.aucBMac), std::end(e.aucBMac), bmac.begin());
    if (client == nullptr)
        rc = PLAT_ERR_UNAVAILABLE;
    else if (req.client != client->client)
        rc = PLAT_ERR_PARAM;
    else if (vsis_.count(e.uiVsiIndex) == 0)
        rc = PLAT_ERR_NOT_FOUND;
    else if (req.op == L2VPN_MINM_ADD_UC || req.op == L2VPN_MINM_ADD_MC_PORT || req.op == L2VPN_MINM_DEL_MC_PORT)
        rc = req.ports.size() != 1 ? PLAT_ERR_PARAM : checkPorts(req.ports);
    else if (req.op == L2VPN_MINM_ADD_MC)
        rc = req.ports.size() > L2VPN_MINM_MAX_PORTS ? PLAT_ERR_PARAM : checkPorts(req.ports);
    else if (req.op != L2VPN_MINM_DEL_UC && req.op != L2VPN_MINM_DEL_MC)
        rc = PLAT_ERR_PARAM;
    if (rc != PLAT_OK) {
        fib_.endChunk();
        return rc;
    }
    switch (req.op) {
    case L2VPN_MINM_ADD_UC: {
        UcEntry uc{e.uiVsiIndex, e.uiISid, bmac, {}, e.uiBVlan, req.ports[0], e.uiEntryFlags};
        std::copy(std::begin(e.aucCMac), std::end(e.aucCMac), uc.cmac.begin());
        return fib_.addUnicast(uc, spec_.maxPwNum, spec_.maxPwPerVsi);
    }
    case L2VPN_MINM_DEL_UC: return fib_.delUnicast(e.uiVsiIndex, bmac);
    case L2VPN_MINM_ADD_MC: return fib_.addMulticast(McEntry{e.uiVsiIndex, e.uiISid, bmac, e.uiBVlan, req.ports});
    case L2VPN_MINM_DEL_MC: return fib_.delMulticast(e.uiVsiIndex);
    case L2VPN_MINM_ADD_MC_PORT: return fib_.addMcPort(e.uiVsiIndex, req.ports[0]);
    default: return fib_.delMcPort(e.uiVsiIndex, req.ports[0]);
    }
}

uint32_t SwitchModel::flush()
{
    if (l2vpnClient() == nullptr) return logged("L2VPN_FlushPwEntry", PLAT_ERR_UNAVAILABLE, {});
    fib_.flush();
    return logged("L2VPN_FlushPwEntry", PLAT_OK, {});
}

uint32_t SwitchModel::setPbbMode(uint32_t ifIndex, uint32_t mode)
{
    return logged("L2VPN_SetInterface", applyPbbMode(ifIndex, mode), {ifIndex, mode});
}

uint32_t SwitchModel::applyPbbMode(uint32_t ifIndex, uint32_t mode)
{
    if (l2vpnClient() == nullptr) return PLAT_ERR_UNAVAILABLE;
    const Interface* ifc = findIf(ifIndex);
    if (ifc == nullptr) return PLAT_ERR_NOT_FOUND;
    if (ifc->isAggregate()) return PLAT_ERR_PARAM;
    if (mode == L2VPN_IF_PBB_DISABLE) {
        fib_.setPbbPort(ifIndex, false);
        return PLAT_OK;
    }
    if (mode != L2VPN_IF_PBB_ENABLE) return PLAT_ERR_PARAM;
    if (!ifc->present) return PLAT_ERR_UNAVAILABLE;
    const Slot* s = findSlot(ifc->slot);
    if (s == nullptr || !s->minm) return PLAT_ERR_NOT_SUPPORTED;
    fib_.setPbbPort(ifIndex, true);
    return PLAT_OK;
}

uint32_t SwitchModel::setVsiAttr(uint32_t vsiIndex, uint32_t attr, uint32_t value)
{
    uint32_t rc = PLAT_OK;
    if (l2vpnClient() == nullptr)
        rc = PLAT_ERR_UNAVAILABLE;
    else if (attr != L2VPN_VSI_ATTR_ENCAP)
        rc = PLAT_ERR_PARAM;
    else if (vsis_.count(vsiIndex) == 0)
        rc = PLAT_ERR_NOT_FOUND;
    else
        fib_.setEncap(vsiIndex, value);
    return logged("L2VPN_SetVSI", rc, {vsiIndex, attr, value});
}

uint32_t SwitchModel::refreshWindow(uint32_t client, uint32_t phase)
{
    const Subscription* sub = l2vpnClient();
    uint32_t rc = PLAT_OK;
    if (sub == nullptr)
        rc = PLAT_ERR_UNAVAILABLE;
    else if (client != sub->client || (phase != L2VPN_GR_BEGIN && phase != L2VPN_GR_END))
        rc = PLAT_ERR_PARAM;
    else if (phase == L2VPN_GR_BEGIN)
        fib_.openWindow();
    else
        fib_.closeWindow();
    return logged("L2VPN_SendGrEvent", rc, {client, phase});
}

uint32_t SwitchModel::requestBatch(uint32_t selector)
{
    if (l2vpnClient() == nullptr) return PLAT_ERR_UNAVAILABLE;
    if (selector != L2VPN_BATCH_ALL_VSI) return PLAT_ERR_PARAM;
    emit(Event{.kind = EventKind::L2vpn, .code = L2VPN_EVT_BATCH_BEGIN});
    for (const auto& [index, v] : vsis_) emitVsi(L2VPN_EVT_VSI_ADD, v);
    emit(Event{.kind = EventKind::L2vpn, .code = L2VPN_EVT_BATCH_END});
    return PLAT_OK;
}

}  // namespace sim
