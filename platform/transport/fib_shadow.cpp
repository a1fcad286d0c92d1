#include "platform/transport/fib_shadow.h"

#include <algorithm>
#include <limits>

#include "platform/l2vpn.h"
#include "platform/result.h"

namespace plat::transport {

namespace {

constexpr uint32_t kNoLimit = std::numeric_limits<uint32_t>::max();

uint32_t knownPorts(const std::vector<uint32_t>& ports, const Mirror& m)
{
    for (uint32_t p : ports)
        if (m.findIf(p) == nullptr) return PLAT_ERR_NOT_FOUND;
    return PLAT_OK;
}

// The switch's checks of a record, in its order (SwitchModel::program).
uint32_t check(const sim::MinMRequest& req, std::optional<uint32_t> client, const Mirror& m)
{
    const uint32_t op = req.op;
    if (!client) return PLAT_ERR_UNAVAILABLE;
    if (req.client != *client) return PLAT_ERR_PARAM;
    if (m.vsis().count(req.entry.uiVsiIndex) == 0) return PLAT_ERR_NOT_FOUND;
    if (op == L2VPN_MINM_ADD_UC || op == L2VPN_MINM_ADD_MC_PORT || op == L2VPN_MINM_DEL_MC_PORT)
        return req.ports.size() != 1 ? PLAT_ERR_PARAM : knownPorts(req.ports, m);
    if (op == L2VPN_MINM_ADD_MC) return req.ports.size() > L2VPN_MINM_MAX_PORTS ? PLAT_ERR_PARAM : knownPorts(req.ports, m);
    if (op != L2VPN_MINM_DEL_UC && op != L2VPN_MINM_DEL_MC) return PLAT_ERR_PARAM;
    return PLAT_OK;
}

}  // namespace

uint32_t FibShadow::program(const sim::MinMRequest& req, const Mirror& mirror)
{
    uint32_t rc = check(req, client_, mirror);
    if (rc != PLAT_OK) {
        fib_.endChunk();
        return rc;
    }
    const L2VPN_MINM_ENTRY_S& e = req.entry;
    sim::Mac bmac;
    std::copy(std::begin(e.aucBMac), std::end(e.aucBMac), bmac.begin());
    switch (req.op) {
    case L2VPN_MINM_ADD_UC: {
        sim::UcEntry uc{e.uiVsiIndex, e.uiISid, bmac, {}, e.uiBVlan, req.ports[0], e.uiEntryFlags};
        std::copy(std::begin(e.aucCMac), std::end(e.aucCMac), uc.cmac.begin());
        const sim::FibSpec spec = mirror.scalars().fibSpec;
        return fib_.addUnicast(uc, spec.maxPwNum, spec.maxPwPerVsi);
    }
    case L2VPN_MINM_DEL_UC: return fib_.delUnicast(e.uiVsiIndex, bmac);
    case L2VPN_MINM_ADD_MC: return fib_.addMulticast(sim::McEntry{e.uiVsiIndex, e.uiISid, bmac, e.uiBVlan, req.ports});
    case L2VPN_MINM_DEL_MC: return fib_.delMulticast(e.uiVsiIndex);
    case L2VPN_MINM_ADD_MC_PORT: return fib_.addMcPort(e.uiVsiIndex, req.ports[0]);
    default: return fib_.delMcPort(e.uiVsiIndex, req.ports[0]);
    }
}

uint32_t FibShadow::flush()
{
    if (!client_) return PLAT_ERR_UNAVAILABLE;
    fib_.flush();
    return PLAT_OK;
}

void FibShadow::window(uint32_t phase)
{
    if (phase == L2VPN_GR_BEGIN)
        fib_.openWindow();
    else if (phase == L2VPN_GR_END)
        fib_.closeWindow();
}

void FibShadow::clear()
{
    fib_ = sim::KeyFib(sim::FibKeeps::WorkingOnly);
    client_.reset();
}

bool FibShadow::apply(wire::Msg type, std::span<const uint8_t> payload)
{
    wire::Reader r(payload);
    switch (type) {
    case wire::Msg::FibUnicast:
        for (uint32_t n = r.u32(); n != 0; --n) (void)fib_.addUnicast(wire::getUcEntry(r), kNoLimit, kNoLimit);
        break;
    case wire::Msg::FibMulticast:
        for (uint32_t n = r.u32(); n != 0; --n) {
            fib_.endChunk();
            (void)fib_.addMulticast(wire::getMcEntry(r));
        }
        fib_.endChunk();
        break;
    case wire::Msg::FibMarks: applyMarks(r); break;
    default: return false;
    }
    r.end();
    return true;
}

// The tables are in: the window's marks are set as the switch has them
// (opening marks everything; programming an item again clears its mark),
// then the open chunk is taken up again by adding its entry once more.
void FibShadow::applyMarks(wire::Reader& r)
{
    bool open = r.boolean();
    sim::UcKeySet staleUc;
    for (uint32_t n = r.u32(); n != 0; --n) {
        uint32_t vsi = r.u32();
        staleUc.emplace(vsi, r.mac());
    }
    std::vector<uint32_t> staleMc = r.list32();
    bool chunk = r.boolean();
    uint32_t chunkVsi = r.u32();

    if (open) {
        fib_.openWindow();
        const auto tables = fib_.working();
        for (const auto& [key, e] : tables.uc)
            if (staleUc.count(key) == 0)
                (void)fib_.addUnicast(sim::UcEntry{.vsi = key.first, .bmac = key.second}, kNoLimit, kNoLimit);
        for (const auto& [vsi, e] : tables.mc) {
            if (std::find(staleMc.begin(), staleMc.end(), vsi) != staleMc.end()) continue;
            fib_.endChunk();
            (void)fib_.addMulticast(e);
        }
    }
    fib_.endChunk();
    auto mc = fib_.working().mc.find(chunkVsi);
    if (chunk && mc != fib_.working().mc.end()) {
        sim::McEntry again = mc->second;
        (void)fib_.addMulticast(again);
    }
}

}  // namespace plat::transport
