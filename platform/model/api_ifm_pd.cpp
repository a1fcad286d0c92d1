// Interface manager: a client's private data per interface. The pointers
// belong to the client process, so the store lives here, not in the switch.
#include "platform/ifm.h"
#include "platform/model/backend.h"
#include "platform/model/call_log.h"
#include "platform/result.h"

namespace {

std::map<uint32_t, void*>* instance(uint32_t uiHandle)
{
    auto& all = plat::backend().privateData().instances;
    auto it = all.find(uiHandle);
    return it == all.end() ? nullptr : &it->second;
}

// Writes the first interface with data after (or from) ifIndex.
uint32_t walk(std::map<uint32_t, void*>::const_iterator it, const std::map<uint32_t, void*>& data,
              uint32_t* puiIfIndex, void** ppData)
{
    if (it == data.end()) return PLAT_ERR_NOT_FOUND;
    *puiIfIndex = it->first;
    *ppData = it->second;
    return PLAT_OK;
}

}  // namespace

uint32_t IF_CreatePDInstance(uint32_t uiKind, uint32_t uiFlags)
{
    if (auto f = PLAT_ENTER("IF_CreatePDInstance", "kind=%u flags=%u", uiKind, uiFlags))
        return static_cast<uint32_t>(*f);
    if (uiKind != IF_PD_KIND_IFINDEX || uiFlags != 0) return PLAT_INVALID_HANDLE;
    auto& pd = plat::backend().privateData();
    uint32_t handle = pd.nextHandle++;
    pd.instances[handle];
    return handle;
}

uint32_t IF_DestroyPDInstance(uint32_t uiHandle, IF_PD_DESTROY_FN pfDestroy)
{
    if (auto f = PLAT_ENTER("IF_DestroyPDInstance", "handle=%u", uiHandle)) return static_cast<uint32_t>(*f);
    auto& all = plat::backend().privateData().instances;
    auto it = all.find(uiHandle);
    if (it == all.end()) return PLAT_ERR_NOT_FOUND;
    std::map<uint32_t, void*> data = std::move(it->second);
    all.erase(it);
    if (pfDestroy != nullptr)
        for (const auto& [ifIndex, p] : data) pfDestroy(p);
    return PLAT_OK;
}

uint32_t IF_SetPrivateData(uint32_t uiHandle, uint32_t uiIfIndex, void* pData)
{
    if (auto f = PLAT_ENTER("IF_SetPrivateData", "handle=%u ifIndex=%u", uiHandle, uiIfIndex))
        return static_cast<uint32_t>(*f);
    auto* data = instance(uiHandle);
    if (data == nullptr || plat::backend().services().findIf(uiIfIndex) == nullptr) return PLAT_ERR_NOT_FOUND;
    if (pData == nullptr) return PLAT_ERR_PARAM;
    if (!data->emplace(uiIfIndex, pData).second) return PLAT_ERR_EXIST;
    return PLAT_OK;
}

uint32_t IF_GetPrivateData(uint32_t uiHandle, uint32_t uiIfIndex, void** ppData)
{
    if (auto f = PLAT_ENTER("IF_GetPrivateData", "handle=%u ifIndex=%u", uiHandle, uiIfIndex))
        return static_cast<uint32_t>(*f);
    auto* data = instance(uiHandle);
    if (data == nullptr || ppData == nullptr) return PLAT_ERR_NOT_FOUND;
    auto it = data->find(uiIfIndex);
    if (it == data->end()) return PLAT_ERR_NOT_FOUND;
    *ppData = it->second;
    return PLAT_OK;
}

uint32_t IF_DelPrivateData(uint32_t uiHandle, uint32_t uiIfIndex, IF_PD_DESTROY_FN pfDestroy)
{
    if (auto f = PLAT_ENTER("IF_DelPrivateData", "handle=%u ifIndex=%u", uiHandle, uiIfIndex))
        return static_cast<uint32_t>(*f);
    auto* data = instance(uiHandle);
    if (data == nullptr) return PLAT_ERR_NOT_FOUND;
    auto it = data->find(uiIfIndex);
    if (it == data->end()) return PLAT_ERR_NOT_FOUND;
    void* p = it->second;
    data->erase(it);
    if (pfDestroy != nullptr) pfDestroy(p);
    return PLAT_OK;
}

uint32_t IF_GetFirstPrivateData(uint32_t uiHandle, uint32_t* puiIfIndex, void** ppData)
{
    if (auto f = PLAT_ENTER("IF_GetFirstPrivateData", "handle=%u", uiHandle)) return static_cast<uint32_t>(*f);
    auto* data = instance(uiHandle);
    if (data == nullptr || puiIfIndex == nullptr || ppData == nullptr) return PLAT_ERR_NOT_FOUND;
    return walk(data->begin(), *data, puiIfIndex, ppData);
}

uint32_t IF_GetNextPrivateData(uint32_t uiHandle, uint32_t* puiIfIndex, void** ppData)
{
    if (auto f = PLAT_ENTER("IF_GetNextPrivateData", "handle=%u ifIndex=%u", uiHandle,
                            puiIfIndex != nullptr ? *puiIfIndex : 0))
        return static_cast<uint32_t>(*f);
    auto* data = instance(uiHandle);
    if (data == nullptr || puiIfIndex == nullptr || ppData == nullptr) return PLAT_ERR_NOT_FOUND;
    return walk(data->upper_bound(*puiIfIndex), *data, puiIfIndex, ppData);
}
