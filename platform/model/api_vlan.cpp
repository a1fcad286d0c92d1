// VLAN service: membership queries and membership events.
#include <cstring>

#include "platform/model/backend.h"
#include "platform/model/call_log.h"
#include "platform/result.h"
#include "platform/vlan.h"

namespace {

plat::EventChannel& vlanChannel() { return plat::backend().channel(sim::Service::Vlan); }

struct BitmapOwner {
    BITMAP_S* p;
    ~BitmapOwner() { Bitmap_Destroy(p); }
};

}  // namespace

uint16_t VLAN_GetMaxVlanID(void)
{
    if (auto f = PLAT_ENTER("VLAN_GetMaxVlanID")) return static_cast<uint16_t>(*f);
    return plat::backend().services().maxVlanId();
}

uint32_t VLAN_GetIfDataByIndex(uint32_t uiIfIndex, uint32_t uiAttr, void* pData)
{
    if (auto f = PLAT_ENTER("VLAN_GetIfDataByIndex", "ifIndex=%u attr=%u", uiIfIndex, uiAttr))
        return static_cast<uint32_t>(*f);
    const sim::Interface* ifc = plat::backend().services().findIf(uiIfIndex);
    if (ifc == nullptr) return PLAT_ERR_NOT_FOUND;
    if (pData == nullptr) return PLAT_ERR_PARAM;
    switch (uiAttr) {
    case VLAN_DATA_LINK_TYPE: std::memcpy(pData, &ifc->linkType, sizeof ifc->linkType); return PLAT_OK;
    case VLAN_DATA_PVID: std::memcpy(pData, &ifc->pvid, sizeof ifc->pvid); return PLAT_OK;
    case VLAN_DATA_VLAN_MAP: {
        auto* map = static_cast<BITMAP_S*>(pData);
        for (uint32_t v = 0; v <= map->uiSize; ++v) Bitmap_Clear(map, v);
        for (uint16_t v : ifc->vlans) Bitmap_Set(map, v);
        return PLAT_OK;
    }
    default: return PLAT_ERR_PARAM;
    }
}

int VLAN_EventInit(void)
{
    if (auto f = PLAT_ENTER("VLAN_EventInit")) return static_cast<int>(*f);
    if (!plat::backend().services().serviceUp(sim::Service::Vlan)) return -1;
    return vlanChannel().open();
}

void VLAN_EventFini(int iFd)
{
    if (PLAT_ENTER("VLAN_EventFini", "fd=%d", iFd)) return;
    if (vlanChannel().owns(iFd)) vlanChannel().close();
}

uint32_t VLAN_RegisterEvent(uint32_t uiModuleId, uint32_t uiKindMask, uint32_t uiBatch, uint32_t uiFlags,
                            VLAN_EVENT_FN pfCallback)
{
    if (auto f = PLAT_ENTER("VLAN_RegisterEvent", "module=0x%x mask=0x%x batch=%u flags=%u", uiModuleId, uiKindMask,
                       uiBatch, uiFlags))
        return static_cast<uint32_t>(*f);
    auto& b = plat::backend();
    if (pfCallback == nullptr || uiKindMask == 0 || b.regs().vlanHandle != 0 || !vlanChannel().connected()) return 0;
    uint32_t handle = b.services().subscribe({.kind = sim::EventKind::Vlan, .mask = uiKindMask});
    if (handle == 0) return 0;
    b.regs().vlanHandle = handle;
    b.regs().vlanBatch = uiBatch;
    b.regs().vlanCallback = pfCallback;
    return handle;
}

uint32_t VLAN_DeregisterEvent(uint32_t uiHandle, uint32_t uiKindMask)
{
    if (auto f = PLAT_ENTER("VLAN_DeregisterEvent", "handle=%u mask=0x%x", uiHandle, uiKindMask))
        return static_cast<uint32_t>(*f);
    auto& b = plat::backend();
    if (uiHandle == 0 || b.regs().vlanHandle != uiHandle) return PLAT_ERR_NOT_FOUND;
    uint32_t rc = b.services().unsubscribe(uiHandle, uiKindMask);
    if (rc == PLAT_ERR_PARAM) return rc;
    b.regs().vlanHandle = 0;
    b.regs().vlanCallback = nullptr;
    return rc;
}

uint32_t VLAN_HandleEvent(int iFd)
{
    if (auto f = PLAT_ENTER("VLAN_HandleEvent", "fd=%d", iFd)) return static_cast<uint32_t>(*f);
    auto& b = plat::backend();
    if (!vlanChannel().owns(iFd)) return PLAT_ERR_NOT_FOUND;
    for (uint32_t n = 0; b.regs().vlanBatch == 0 || n < b.regs().vlanBatch; ++n) {
        auto ev = vlanChannel().pop();
        if (!ev) break;
        VLAN_EVENT_FN cb = b.regs().vlanCallback;
        if (cb == nullptr || ev->handle != b.regs().vlanHandle) continue;
        VLAN_EVENT_S rec{};
        rec.uiIfIndex = ev->data;
        BitmapOwner map{nullptr};
        if (ev->vlanSet) {
            map.p = Bitmap_Create(b.services().maxVlanId());
            if (map.p == nullptr) continue;
            for (uint16_t v : ev->vlans) Bitmap_Set(map.p, v);
            rec.usVlanId = VLAN_ID_SET;
            rec.pstVlanBitmap = map.p;
        } else {
            rec.usVlanId = ev->vlans.empty() ? 0 : ev->vlans.front();
        }
        cb(ev->code, &rec);
    }
    return PLAT_OK;
}
