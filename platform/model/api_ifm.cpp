// Interface manager: attributes and names.
#include <algorithm>
#include <cstring>

#include "platform/ifm.h"
#include "platform/model/backend.h"
#include "platform/model/call_log.h"
#include "platform/result.h"

uint32_t IF_GetDataByIfIndex(uint32_t uiIfIndex, uint32_t uiSelector, void* pData)
{
    if (auto f = PLAT_ENTER("IF_GetDataByIfIndex", "ifIndex=%u selector=%u", uiIfIndex, uiSelector))
        return static_cast<uint32_t>(*f);
    const sim::Interface* ifc = plat::backend().services().findIf(uiIfIndex);
    if (ifc == nullptr) return PLAT_ERR_NOT_FOUND;
    if (pData == nullptr) return PLAT_ERR_PARAM;
    switch (uiSelector) {
    case IF_DATA_SLOT: {
        if (ifc->isAggregate()) return PLAT_ERR_NOT_FOUND;
        uint16_t slot = ifc->slot;
        std::memcpy(pData, &slot, sizeof slot);
        return PLAT_OK;
    }
    case IF_DATA_FULL_NAME: {
        char* out = static_cast<char*>(pData);
        size_t n = std::min<size_t>(ifc->name.size(), IF_NAME_BUF_LEN - 1);
        std::memcpy(out, ifc->name.data(), n);
        out[n] = '\0';
        return PLAT_OK;
    }
    case IF_DATA_TYPE: std::memcpy(pData, &ifc->type, sizeof ifc->type); return PLAT_OK;
    case IF_DATA_LINK_STATE: {
        uint32_t state = ifc->linkUp ? IF_LINK_UP : IF_LINK_DOWN;
        std::memcpy(pData, &state, sizeof state);
        return PLAT_OK;
    }
    default: return PLAT_ERR_PARAM;
    }
}

uint32_t IF_IsTempIf(uint32_t uiIfIndex)
{
    if (auto f = PLAT_ENTER("IF_IsTempIf", "ifIndex=%u", uiIfIndex)) return static_cast<uint32_t>(*f);
    const sim::Interface* ifc = plat::backend().services().findIf(uiIfIndex);
    return ifc != nullptr && !ifc->present ? 1 : 0;
}

uint32_t IF_GetIfIndexByFullName(const char* szFullName)
{
    if (auto f = PLAT_ENTER("IF_GetIfIndexByFullName", "name=%s", szFullName != nullptr ? szFullName : "(null)"))
        return static_cast<uint32_t>(*f);
    if (szFullName == nullptr || *szFullName == '\0') return 0;
    return plat::backend().services().ifIndexByName(szFullName);
}
