// Link aggregation.
#include <cstdlib>
#include <cstring>

#include "platform/lagg.h"
#include "platform/model/backend.h"
#include "platform/model/call_log.h"
#include "platform/result.h"

uint32_t LAGG_GetDataByIfIndex(uint32_t uiIfIndex, uint32_t uiAttr, void* pData)
{
    if (auto f = PLAT_ENTER("LAGG_GetDataByIfIndex", "ifIndex=%u attr=%u", uiIfIndex, uiAttr))
        return static_cast<uint32_t>(*f);
    const sim::Interface* ifc = plat::backend().services().findIf(uiIfIndex);
    if (ifc == nullptr) return PLAT_ERR_NOT_FOUND;
    if (pData == nullptr) return PLAT_ERR_PARAM;
    if (uiAttr == LAGG_DATA_IS_MEMBER) {
        uint16_t member = ifc->aggregate != 0 ? 1 : 0;
        std::memcpy(pData, &member, sizeof member);
        return PLAT_OK;
    }
    if (uiAttr != LAGG_DATA_MEMBERS) return PLAT_ERR_PARAM;
    if (!ifc->isAggregate()) return PLAT_ERR_NOT_FOUND;
    LAGG_MEMBER_LIST_S list{static_cast<uint32_t>(ifc->members.size()), nullptr};
    if (list.uiNum != 0) {
        list.puiIfIndex = static_cast<uint32_t*>(std::malloc(list.uiNum * sizeof(uint32_t)));
        if (list.puiIfIndex == nullptr) return PLAT_ERR_NO_RESOURCE;
        std::memcpy(list.puiIfIndex, ifc->members.data(), list.uiNum * sizeof(uint32_t));
    }
    std::memcpy(pData, &list, sizeof list);
    return PLAT_OK;
}
