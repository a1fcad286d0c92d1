// L2VPN library: the module's VSIs and capabilities, and the forwarding
// programming of a registered client.
#include <cstring>

#include "platform/l2vpn.h"
#include "platform/model/backend.h"
#include "platform/model/call_log.h"
#include "platform/result.h"

using plat::detail::enterLazy;
using plat::detail::enterWith;

namespace {

bool registered(int iFd) { return plat::backend().channel(sim::Service::L2vpn).owns(iFd); }

// Fills `req`, whose port list keeps its room from call to call: every
// learned entry comes through here.
void decode(sim::MinMRequest& req, uint32_t uiClient, uint32_t uiOp, const L2VPN_MINM_ENTRY_S* pstEntry)
{
    req.client = uiClient;
    req.op = uiOp;
    req.entry = {};
    req.ports.clear();
    if (pstEntry == nullptr) return;
    req.entry = *pstEntry;
    bool withPorts = uiOp == L2VPN_MINM_ADD_UC || uiOp == L2VPN_MINM_ADD_MC || uiOp == L2VPN_MINM_ADD_MC_PORT ||
                     uiOp == L2VPN_MINM_DEL_MC_PORT;
    if (withPorts && pstEntry->puiPortList != nullptr && pstEntry->uiPortNum <= L2VPN_MINM_MAX_PORTS)
        req.ports.assign(pstEntry->puiPortList, pstEntry->puiPortList + pstEntry->uiPortNum);
}

// Entries with ports need the list they announce.
bool portsComplete(const sim::MinMRequest& req)
{
    bool withPorts = req.op == L2VPN_MINM_ADD_UC || req.op == L2VPN_MINM_ADD_MC || req.op == L2VPN_MINM_ADD_MC_PORT ||
                     req.op == L2VPN_MINM_DEL_MC_PORT;
    return !withPorts || req.ports.size() == req.entry.uiPortNum;
}

uint32_t programEntry(const char* name, bool add, int iFd, uint32_t uiClient, uint32_t uiOp,
                      const L2VPN_MINM_ENTRY_S* pstEntry)
{
    // The switch takes the request as a copy or not at all, and a call
    // does not come back in here before it returns.
    static sim::MinMRequest req;
    decode(req, uiClient, uiOp, pstEntry);
    // Every learned entry comes through here: its text is made only for
    // the test log.
    auto args = [&] {
        return plat::detail::fmt(
            "fd=%d client=%u op=%u vsi=%u isid=%u bmac=%s bvlan=%u ports=%s", iFd, uiClient, uiOp,
            req.entry.uiVsiIndex, req.entry.uiISid, plat::detail::macText(req.entry.aucBMac).c_str(),
            req.entry.uiBVlan, plat::detail::listText(req.ports.data(), static_cast<uint32_t>(req.ports.size())).c_str());
    };
    if (auto f = enterLazy(name, [&] { return req; }, args)) return static_cast<uint32_t>(*f);
    if (!registered(iFd)) return PLAT_ERR_UNAVAILABLE;
    bool delOp = uiOp == L2VPN_MINM_DEL_UC || uiOp == L2VPN_MINM_DEL_MC;
    if (pstEntry == nullptr || add == delOp || !portsComplete(req)) return PLAT_ERR_PARAM;
    return plat::backend().services().program(req);
}

}  // namespace

uint32_t L2VPN_GetMaxVsiNum(uint32_t* puiMaxVsiNum, uint32_t* puiUsedVsiNum)
{
    if (auto f = PLAT_ENTER("L2VPN_GetMaxVsiNum")) return static_cast<uint32_t>(*f);
    if (puiMaxVsiNum == nullptr) return PLAT_ERR_PARAM;
    auto& services = plat::backend().services();
    *puiMaxVsiNum = services.maxVsiNum();
    if (puiUsedVsiNum != nullptr) *puiUsedVsiNum = services.vsiCount();
    return PLAT_OK;
}

uint32_t L2VPN_GetL2VFIBSpec(L2VPN_L2VFIB_SPEC_S* pstSpec)
{
    if (auto f = PLAT_ENTER("L2VPN_GetL2VFIBSpec")) return static_cast<uint32_t>(*f);
    if (pstSpec == nullptr) return PLAT_ERR_PARAM;
    sim::FibSpec spec = plat::backend().services().fibSpec();
    pstSpec->uiMaxPwPerVsi = spec.maxPwPerVsi;
    pstSpec->usVsiShare = spec.shareVsi ? 1 : 0;
    pstSpec->uiMaxPwNum = spec.maxPwNum;
    return PLAT_OK;
}

uint32_t L2VPN_GetVsiInfoByName(const char* szVsiName, L2VPN_VSI_INFO_S* pstInfo)
{
    std::string name = szVsiName != nullptr ? std::string(szVsiName, strnlen(szVsiName, L2VPN_VSI_NAME_LEN)) : "";
    if (auto f = PLAT_ENTER("L2VPN_GetVsiInfoByName", "name=%s", name.c_str())) return static_cast<uint32_t>(*f);
    if (pstInfo == nullptr) return PLAT_ERR_PARAM;
    const sim::Vsi* v = plat::backend().services().findVsiByName(name);
    if (v == nullptr) return PLAT_ERR_NOT_FOUND;
    *pstInfo = L2VPN_VSI_INFO_S{};
    pstInfo->uiVsiIndex = v->index;
    pstInfo->uiFlags = v->down ? L2VPN_VSI_FLAG_DOWN : 0;
    pstInfo->uiISid = v->isid;
    std::strncpy(pstInfo->szVsiName, v->name.c_str(), L2VPN_VSI_NAME_LEN - 1);
    return PLAT_OK;
}

uint32_t L2VPN_IsSupportMinM(uint16_t usSlot)
{
    if (auto f = PLAT_ENTER("L2VPN_IsSupportMinM", "slot=%u", usSlot)) return static_cast<uint32_t>(*f);
    const sim::Slot* s = plat::backend().services().findSlot(usSlot);
    return s != nullptr && s->minm ? 1 : 0;
}

uint32_t L2VPN_AddMinMEntry(int iFd, uint32_t uiClient, uint32_t uiOp, const L2VPN_MINM_ENTRY_S* pstEntry)
{
    return programEntry("L2VPN_AddMinMEntry", true, iFd, uiClient, uiOp, pstEntry);
}

uint32_t L2VPN_DelMinMEntry(int iFd, uint32_t uiClient, uint32_t uiOp, const L2VPN_MINM_ENTRY_S* pstEntry)
{
    return programEntry("L2VPN_DelMinMEntry", false, iFd, uiClient, uiOp, pstEntry);
}

uint32_t L2VPN_FlushPwEntry(int iFd)
{
    if (auto f = PLAT_ENTER("L2VPN_FlushPwEntry", "fd=%d", iFd)) return static_cast<uint32_t>(*f);
    if (!registered(iFd)) return PLAT_ERR_UNAVAILABLE;
    return plat::backend().services().flush();
}

uint32_t L2VPN_SetInterface(int iFd, uint32_t uiIfIndex, uint32_t uiMode)
{
    if (auto f = PLAT_ENTER("L2VPN_SetInterface", "fd=%d ifIndex=%u mode=%u", iFd, uiIfIndex, uiMode))
        return static_cast<uint32_t>(*f);
    if (!registered(iFd)) return PLAT_ERR_UNAVAILABLE;
    return plat::backend().services().setPbbMode(uiIfIndex, uiMode);
}

uint32_t L2VPN_SetVSI(int iFd, uint32_t uiVsiIndex, uint32_t uiAttr, const void* pValue)
{
    uint32_t value = 0;
    if (pValue != nullptr) std::memcpy(&value, pValue, sizeof value);
    if (auto f = enterWith(
            "L2VPN_SetVSI", [&] { return value; }, "fd=%d vsi=%u attr=%u value=%u", iFd, uiVsiIndex, uiAttr, value))
        return static_cast<uint32_t>(*f);
    if (!registered(iFd)) return PLAT_ERR_UNAVAILABLE;
    if (pValue == nullptr) return PLAT_ERR_PARAM;
    return plat::backend().services().setVsiAttr(uiVsiIndex, uiAttr, value);
}
