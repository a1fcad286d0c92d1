// L2VPN library: client registration, event delivery, refresh windows,
// batches and acknowledgements.
#include <cstring>

#include "platform/l2vpn.h"
#include "platform/model/backend.h"
#include "platform/model/call_log.h"
#include "platform/result.h"

using plat::detail::enterWith;

namespace {

plat::EventChannel& l2vpnChannel() { return plat::backend().channel(sim::Service::L2vpn); }

L2VPN_VSI_INFO_S toInfo(const sim::VsiRecord& v)
{
    L2VPN_VSI_INFO_S info{};
    info.uiVsiIndex = v.index;
    info.uiFlags = v.flags;
    info.uiISid = v.isid;
    std::strncpy(info.szVsiName, v.name.c_str(), L2VPN_VSI_NAME_LEN - 1);
    return info;
}

}  // namespace

int L2VPN_Register(uint32_t uiInstance, uint32_t uiEventMask, uint32_t uiClient, L2VPN_EVENT_FN pfCallback)
{
    if (auto f = PLAT_ENTER("L2VPN_Register", "instance=%u mask=0x%x client=%u", uiInstance, uiEventMask, uiClient))
        return static_cast<int>(*f);
    auto& b = plat::backend();
    if (uiInstance != L2VPN_INSTANCE_DEFAULT || pfCallback == nullptr) return -1;
    if (!b.services().serviceUp(sim::Service::L2vpn)) return -1;
    int fd = l2vpnChannel().open();
    if (fd < 0) return -1;
    uint32_t handle = b.services().subscribe({.kind = sim::EventKind::L2vpn, .mask = uiEventMask, .client = uiClient});
    if (handle == 0) {
        l2vpnChannel().close();
        return -1;
    }
    b.regs().l2vpnHandle = handle;
    b.regs().l2vpnMask = uiEventMask;
    b.regs().l2vpnCallback = pfCallback;
    return fd;
}

uint32_t L2VPN_Deregister(int iFd)
{
    if (auto f = PLAT_ENTER("L2VPN_Deregister", "fd=%d", iFd)) return static_cast<uint32_t>(*f);
    auto& b = plat::backend();
    if (!l2vpnChannel().owns(iFd)) return PLAT_ERR_NOT_FOUND;
    if (b.regs().l2vpnHandle != 0) (void)b.services().unsubscribe(b.regs().l2vpnHandle, b.regs().l2vpnMask);
    b.regs().l2vpnHandle = 0;
    b.regs().l2vpnCallback = nullptr;
    l2vpnChannel().close();
    return PLAT_OK;
}

uint32_t L2VPN_HandleMsg(int iFd)
{
    if (auto f = PLAT_ENTER("L2VPN_HandleMsg", "fd=%d", iFd)) return static_cast<uint32_t>(*f);
    auto& b = plat::backend();
    if (!l2vpnChannel().owns(iFd)) return PLAT_ERR_NOT_FOUND;
    while (auto ev = l2vpnChannel().pop()) {
        L2VPN_EVENT_FN cb = b.regs().l2vpnCallback;
        if (cb == nullptr || ev->handle != b.regs().l2vpnHandle) continue;
        if (ev->code >= L2VPN_EVT_DISABLE) {
            cb(ev->code, nullptr);
        } else {
            L2VPN_VSI_INFO_S info = toInfo(ev->vsi);
            cb(ev->code, &info);
        }
    }
    return PLAT_OK;
}

uint32_t L2VPN_SendGrEvent(int iFd, uint32_t uiClient, uint32_t uiPhase)
{
    if (auto f = PLAT_ENTER("L2VPN_SendGrEvent", "fd=%d client=%u phase=%u", iFd, uiClient, uiPhase))
        return static_cast<uint32_t>(*f);
    if (!l2vpnChannel().owns(iFd)) return PLAT_ERR_UNAVAILABLE;
    return plat::backend().services().refreshWindow(uiClient, uiPhase);
}

uint32_t L2VPN_RequestBatch(int iFd, uint32_t uiSelector)
{
    if (auto f = PLAT_ENTER("L2VPN_RequestBatch", "fd=%d selector=%u", iFd, uiSelector))
        return static_cast<uint32_t>(*f);
    if (!l2vpnChannel().owns(iFd)) return PLAT_ERR_UNAVAILABLE;
    return plat::backend().services().requestBatch(uiSelector);
}

uint32_t L2VPN_FinalStatusNotify(int iFd, uint32_t uiEventType, const L2VPN_VSI_INFO_S* pstVsiInfo)
{
    auto info = pstVsiInfo != nullptr ? std::optional<L2VPN_VSI_INFO_S>(*pstVsiInfo) : std::nullopt;
    if (auto f = enterWith(
            "L2VPN_FinalStatusNotify", [&] { return info; }, "fd=%d type=%u vsi=%d", iFd, uiEventType,
            info ? static_cast<int>(info->uiVsiIndex) : -1))
        return static_cast<uint32_t>(*f);
    if (!l2vpnChannel().owns(iFd)) return PLAT_ERR_UNAVAILABLE;
    sim::Ack ack{.service = sim::Service::L2vpn, .code = uiEventType};
    if (info) ack.items.push_back(info->uiVsiIndex);
    plat::backend().services().acknowledge(ack);
    return PLAT_OK;
}
