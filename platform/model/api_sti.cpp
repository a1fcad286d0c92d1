// Spanning tree: VLAN state of a port and topology-change notifications.
#include <vector>

#include "platform/model/backend.h"
#include "platform/model/call_log.h"
#include "platform/result.h"
#include "platform/sti.h"

namespace {

plat::EventChannel& stiChannel() { return plat::backend().channel(sim::Service::Sti); }

}  // namespace

uint32_t STI_GetVlanState(uint32_t uiIfIndex, uint16_t usVlanId, uint16_t* pusState)
{
    if (auto f = PLAT_ENTER("STI_GetVlanState", "ifIndex=%u vlan=%u", uiIfIndex, usVlanId))
        return static_cast<uint32_t>(*f);
    auto& services = plat::backend().services();
    const sim::Interface* ifc = services.findIf(uiIfIndex);
    if (ifc == nullptr) return PLAT_ERR_NOT_FOUND;
    if (pusState == nullptr || usVlanId > services.maxVlanId()) return PLAT_ERR_PARAM;
    auto it = ifc->stp.find(usVlanId);
    *pusState = it == ifc->stp.end() ? STI_STATE_FORWARDING : it->second;
    return PLAT_OK;
}

int STI_Event_Init(void)
{
    if (auto f = PLAT_ENTER("STI_Event_Init")) return static_cast<int>(*f);
    if (!plat::backend().services().serviceUp(sim::Service::Sti)) return -1;
    return stiChannel().open();
}

void STI_Event_Fini(int iFd)
{
    if (PLAT_ENTER("STI_Event_Fini", "fd=%d", iFd)) return;
    if (stiChannel().owns(iFd)) stiChannel().close();
}

uint32_t TC_Register(TC_EVENT_FN pfCallback)
{
    if (auto f = PLAT_ENTER("TC_Register")) return static_cast<uint32_t>(*f);
    auto& b = plat::backend();
    if (pfCallback == nullptr) return PLAT_ERR_PARAM;
    if (b.regs().tcHandle == 0) {
        uint32_t handle = b.services().subscribe({.kind = sim::EventKind::Tc});
        if (handle == 0) return PLAT_ERR_UNAVAILABLE;
        b.regs().tcHandle = handle;
    }
    b.regs().tcCallback = pfCallback;
    return PLAT_OK;
}

uint32_t TC_DeregisterTC(void)
{
    if (auto f = PLAT_ENTER("TC_DeregisterTC")) return static_cast<uint32_t>(*f);
    auto& b = plat::backend();
    if (b.regs().tcHandle == 0) return PLAT_ERR_NOT_FOUND;
    (void)b.services().unsubscribe(b.regs().tcHandle, 0);
    b.regs().tcHandle = 0;
    b.regs().tcCallback = nullptr;
    return PLAT_OK;
}

uint32_t STI_Event_Handle(int iFd)
{
    if (auto f = PLAT_ENTER("STI_Event_Handle", "fd=%d", iFd)) return static_cast<uint32_t>(*f);
    auto& b = plat::backend();
    if (!stiChannel().owns(iFd)) return PLAT_ERR_NOT_FOUND;
    while (auto ev = stiChannel().pop()) {
        TC_EVENT_FN cb = b.regs().tcCallback;
        if (cb == nullptr || ev->handle != b.regs().tcHandle) continue;
        BITMAP_S* map = nullptr;
        if (ev->vlanSet) {
            map = Bitmap_Create(b.services().maxVlanId());
            if (map == nullptr) continue;
            for (uint16_t v : ev->vlans) Bitmap_Set(map, v);
        }
        std::vector<uint32_t> ifs = ev->items;
        TC_EVENT_S rec{map, ev->hasItems ? ifs.data() : nullptr, ev->hasItems ? static_cast<uint32_t>(ifs.size()) : 0};
        // An empty interface list is still a list: give it a valid address.
        uint32_t none = 0;
        if (ev->hasItems && ifs.empty()) rec.puiIfList = &none;
        cb(0, &rec);
        Bitmap_Destroy(map);
    }
    return PLAT_OK;
}
