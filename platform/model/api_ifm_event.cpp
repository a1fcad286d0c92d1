// Interface manager: event descriptor, selections, registrations, delivery
// and acknowledgements.
#include <algorithm>
#include <vector>

#include "platform/ifm.h"
#include "platform/model/backend.h"
#include "platform/model/call_log.h"
#include "platform/result.h"

using plat::detail::enterWith;

namespace {

plat::EventChannel& ifmChannel() { return plat::backend().channel(sim::Service::Ifm); }

uint32_t registerFor(sim::Subscription sub, plat::IfRegistration reg)
{
    auto& b = plat::backend();
    if (!b.channel(sim::Service::Ifm).connected()) return 0;
    uint32_t handle = b.services().subscribe(sub);
    if (handle != 0) b.regs().ifm[handle] = reg;
    return handle;
}

}  // namespace

int IF_Event_Init(void)
{
    if (auto f = PLAT_ENTER("IF_Event_Init")) return static_cast<int>(*f);
    if (!plat::backend().services().serviceUp(sim::Service::Ifm)) return -1;
    return ifmChannel().open();
}

void IF_Event_Fini(int iFd)
{
    if (PLAT_ENTER("IF_Event_Fini", "fd=%d", iFd)) return;
    if (ifmChannel().owns(iFd)) ifmChannel().close();
}

uint32_t IF_Select_Init(uint32_t uiKind, IF_EVENT_SEL_S* pstSel)
{
    if (auto f = PLAT_ENTER("IF_Select_Init", "kind=%u", uiKind)) return static_cast<uint32_t>(*f);
    if (pstSel == nullptr) return PLAT_ERR_PARAM;
    *pstSel = IF_EVENT_SEL_S{};
    pstSel->uiKind = uiKind;
    return PLAT_OK;
}

uint32_t IF_SelectType_Set(uint32_t uiType, IF_EVENT_SEL_S* pstSel)
{
    if (auto f = PLAT_ENTER("IF_SelectType_Set", "type=%u", uiType)) return static_cast<uint32_t>(*f);
    if (pstSel == nullptr || pstSel->uiTypeNum > IF_SEL_MAX_TYPES) return PLAT_ERR_PARAM;
    uint32_t* end = pstSel->auiTypes + pstSel->uiTypeNum;
    if (std::find(pstSel->auiTypes, end, uiType) != end) return PLAT_OK;
    if (pstSel->uiTypeNum == IF_SEL_MAX_TYPES) return PLAT_ERR_NO_RESOURCE;
    pstSel->auiTypes[pstSel->uiTypeNum++] = uiType;
    return PLAT_OK;
}

uint32_t IF_SelectProperty_Set(uint32_t uiProperty, IF_EVENT_SEL_S* pstSel)
{
    if (auto f = PLAT_ENTER("IF_SelectProperty_Set", "property=%u", uiProperty)) return static_cast<uint32_t>(*f);
    if (pstSel == nullptr || uiProperty >= 32) return PLAT_ERR_PARAM;
    pstSel->uiProperties |= 1u << uiProperty;
    return PLAT_OK;
}

uint32_t IF_SelectCondition_Set(uint32_t uiCondition, IF_EVENT_SEL_S* pstSel)
{
    if (auto f = PLAT_ENTER("IF_SelectCondition_Set", "condition=%u", uiCondition)) return static_cast<uint32_t>(*f);
    if (pstSel == nullptr) return PLAT_ERR_PARAM;
    pstSel->uiCondition = uiCondition;
    return PLAT_OK;
}

uint32_t IF_RegIfEvent(uint32_t uiModuleId, uint32_t uiMask, uint32_t uiBatch, const IF_EVENT_SEL_S* pstSel,
                       IF_IF_EVENT_FN pfCallback, uint32_t uiFlags)
{
    auto sel = pstSel != nullptr ? *pstSel : IF_EVENT_SEL_S{};
    if (auto f = enterWith("IF_RegIfEvent", [&] { return sel; }, "module=0x%x mask=0x%x batch=%u flags=%u",
                           uiModuleId, uiMask, uiBatch, uiFlags))
        return static_cast<uint32_t>(*f);
    if (pstSel == nullptr || pfCallback == nullptr || sel.uiTypeNum > IF_SEL_MAX_TYPES) return 0;
    sim::Subscription sub{.kind = sim::EventKind::Interface, .mask = uiMask, .batch = uiBatch};
    sub.types.assign(sel.auiTypes, sel.auiTypes + sel.uiTypeNum);
    return registerFor(sub, {.kind = sub.kind, .mask = uiMask, .onIf = pfCallback});
}

uint32_t IF_RegLinkEvent(uint32_t uiModuleId, uint32_t uiMask, uint32_t uiBatch, uint32_t uiLinkArg,
                         IF_LINK_EVENT_FN pfCallback, uint32_t uiFlags)
{
    if (auto f = PLAT_ENTER("IF_RegLinkEvent", "module=0x%x mask=0x%x batch=%u arg=%u flags=%u", uiModuleId, uiMask,
                       uiBatch, uiLinkArg, uiFlags))
        return static_cast<uint32_t>(*f);
    if (pfCallback == nullptr) return 0;
    sim::Subscription sub{.kind = sim::EventKind::Link, .mask = uiMask, .batch = uiBatch};
    return registerFor(sub, {.kind = sub.kind, .mask = uiMask, .onLink = pfCallback});
}

uint32_t IF_RegSlotEvent(uint32_t uiModuleId, uint32_t uiMask, uint32_t uiBatch, IF_SLOT_EVENT_FN pfCallback)
{
    if (auto f = PLAT_ENTER("IF_RegSlotEvent", "module=0x%x mask=0x%x batch=%u", uiModuleId, uiMask, uiBatch))
        return static_cast<uint32_t>(*f);
    if (pfCallback == nullptr) return 0;
    sim::Subscription sub{.kind = sim::EventKind::Slot, .mask = uiMask, .batch = uiBatch};
    return registerFor(sub, {.kind = sub.kind, .mask = uiMask, .onSlot = pfCallback});
}

uint32_t IF_UnRegEvent(uint32_t uiHandle, uint32_t uiMask)
{
    if (auto f = PLAT_ENTER("IF_UnRegEvent", "handle=%u mask=0x%x", uiHandle, uiMask)) return static_cast<uint32_t>(*f);
    auto& b = plat::backend();
    if (b.regs().ifm.count(uiHandle) == 0) return PLAT_ERR_NOT_FOUND;
    uint32_t rc = b.services().unsubscribe(uiHandle, uiMask);
    if (rc != PLAT_ERR_PARAM) b.regs().ifm.erase(uiHandle);
    return rc;
}

uint32_t IF_ResponseEventPkt(int iFd)
{
    if (auto f = PLAT_ENTER("IF_ResponseEventPkt", "fd=%d", iFd)) return static_cast<uint32_t>(*f);
    auto& b = plat::backend();
    if (!b.channel(sim::Service::Ifm).owns(iFd)) return PLAT_ERR_NOT_FOUND;
    while (auto ev = b.channel(sim::Service::Ifm).pop()) {
        auto it = b.regs().ifm.find(ev->handle);
        if (it == b.regs().ifm.end()) continue;  // the registration ended since
        plat::IfRegistration reg = it->second;
        std::vector<IF_EVENT_S> list(ev->items.size());
        for (size_t i = 0; i < list.size(); ++i) {
            if (ev->kind == sim::EventKind::Slot)
                list[i].usSlot = static_cast<uint16_t>(ev->items[i]);
            else
                list[i].uiIfIndex = ev->items[i];
            list[i].uiInfo = i < ev->infos.size() ? ev->infos[i] : 0;
        }
        uint32_t n = static_cast<uint32_t>(list.size());
        uint32_t data = ev->data;
        if (reg.onIf != nullptr)
            reg.onIf(ev->code, list.data(), n, ev->context, &data);
        else if (reg.onLink != nullptr)
            reg.onLink(ev->code, list.data(), n);
        else if (reg.onSlot != nullptr)
            reg.onSlot(ev->code, list.data(), n, ev->context);
    }
    return PLAT_OK;
}

uint32_t IF_NotifyFinalStatus(uint32_t uiHandle, uint32_t uiEvent, const IF_EVENT_S* pstList, uint32_t uiNum,
                              uint32_t uiContext)
{
    auto& b = plat::backend();
    auto it = b.regs().ifm.find(uiHandle);
    bool slots = it != b.regs().ifm.end() && it->second.kind == sim::EventKind::Slot;
    std::vector<uint32_t> items;
    for (uint32_t i = 0; pstList != nullptr && i < uiNum; ++i)
        items.push_back(slots ? pstList[i].usSlot : pstList[i].uiIfIndex);
    if (auto f = enterWith("IF_NotifyFinalStatus", [&] { return items; }, "handle=%u event=0x%x num=%u context=%u",
                           uiHandle, uiEvent, uiNum, uiContext))
        return static_cast<uint32_t>(*f);
    if (it == b.regs().ifm.end()) return PLAT_ERR_NOT_FOUND;
    b.services().acknowledge(sim::Ack{sim::Service::Ifm, uiHandle, uiEvent, uiContext, std::move(items)});
    return PLAT_OK;
}
