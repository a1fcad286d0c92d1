#include "daemon/pbb_ifcb.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_list.h"
#include "daemon/pbb_log.h"
#include "platform/ifm.h"
#include "platform/lagg.h"
#include "platform/log.h"
#include "platform/vlan.h"

#include <cstdlib>
#include <cstring>

uint32_t g_ulPbbIfCBHandle = PBB_INVALID_HANDLE;
uint16_t g_usPbbMaxVlanId = 0;

namespace {

template <typename T>
void _pbb_ifcb_FreeList(T* pstHead)
{
    while (!pbb::list::empty(pstHead)) {
        T* pstNode = pstHead->pstNext;
        pbb::list::unlink(pstNode);
        free(pstNode);
    }
}

PbbIfVsiCfgNode* _pbb_ifcb_FindCfgNode(PbbIfVsiCfgNode* pstHead, const char* szVsiName)
{
    for (PbbIfVsiCfgNode* pstNode = pstHead->pstNext; pstNode != pstHead; pstNode = pstNode->pstNext)
        if (strncmp(pstNode->szVsiName, szVsiName, PBB_VSI_NAME_LEN) == 0) return pstNode;
    return nullptr;
}

PbbIfVsiNode* _pbb_ifcb_FindRunNode(PbbIfVsiNode* pstHead, uint32_t uiVsiIndex)
{
    for (PbbIfVsiNode* pstNode = pstHead->pstNext; pstNode != pstHead; pstNode = pstNode->pstNext)
        if (pstNode->uiVsiIndex == uiVsiIndex) return pstNode;
    return nullptr;
}

// Fills the VLAN map: an access port carries only its port VLAN ID, any
// other port the VLANs the VLAN service reports. Failed queries leave the
// preset values (access port, VLAN ID 0xFFFF).
void _pbb_ifcb_FillVlanMap(uint32_t uiIfIndex, BITMAP_S* pstVlanMap)
{
    uint8_t ucLinkType = VLAN_LINK_ACCESS;
    (void)VLAN_GetIfDataByIndex(uiIfIndex, VLAN_DATA_LINK_TYPE, &ucLinkType);
    if (ucLinkType == VLAN_LINK_ACCESS) {
        uint16_t usPvid = 0xFFFF;
        (void)VLAN_GetIfDataByIndex(uiIfIndex, VLAN_DATA_PVID, &usPvid);
        Bitmap_Set(pstVlanMap, usPvid);
    } else {
        (void)VLAN_GetIfDataByIndex(uiIfIndex, VLAN_DATA_VLAN_MAP, pstVlanMap);
    }
}

}  // namespace

uint32_t PBB_ifcb_Init()
{
    g_usPbbMaxVlanId = VLAN_GetMaxVlanID();
    if (g_ulPbbIfCBHandle != PBB_INVALID_HANDLE) return PBB_OK;
    uint32_t uiHandle = IF_CreatePDInstance(IF_PD_KIND_IFINDEX, 0);
    if (uiHandle == PBB_INVALID_HANDLE) {
        PBB_log_TracePrint("Failed to create ifcb PdInstance.\r\n");
        return PBB_ERR;
    }
    g_ulPbbIfCBHandle = uiHandle;
    return PBB_OK;
}

void PBB_ifcb_Exit()
{
    g_usPbbMaxVlanId = 0;
    if (g_ulPbbIfCBHandle != PBB_INVALID_HANDLE) {
        (void)IF_DestroyPDInstance(g_ulPbbIfCBHandle, _pbb_ifcb_Destroy);
        g_ulPbbIfCBHandle = PBB_INVALID_HANDLE;
    }
}

void _pbb_ifcb_Destroy(void* pBlock)
{
    auto* pstIfCb = static_cast<PbbIfCb*>(pBlock);
    if (pstIfCb == nullptr) return;
    if (pstIfCb->pstVlanMap != nullptr) Bitmap_Destroy(pstIfCb->pstVlanMap);
    _pbb_ifcb_FreeList(&pstIfCb->stCfgVsiList);
    _pbb_ifcb_FreeList(&pstIfCb->stRunVsiList);
    free(pstIfCb);
}

PbbIfCb* PBB_ifcb_Create(uint32_t uiIfIndex)
{
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb != nullptr) return pstIfCb;

    char szIfName[PBB_IF_NAME_LEN] = {};
    (void)IF_GetDataByIfIndex(uiIfIndex, IF_DATA_FULL_NAME, szIfName);
    szIfName[PBB_IF_NAME_LEN - 1] = '\0';

    BITMAP_S* pstVlanMap = Bitmap_Create(g_usPbbMaxVlanId);
    if (pstVlanMap == nullptr) {
        if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) == 1)
            PBB_log_Print("ERROR", "Failed to allocate memory for VLAN map on interface %s.\r\n", szIfName);
        return nullptr;
    }

    pstIfCb = static_cast<PbbIfCb*>(calloc(1, sizeof(PbbIfCb)));
    if (pstIfCb == nullptr) {
        if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) == 1)
            PBB_log_Print("ERROR", "Failed to allocate memory for control block on interface %s.\r\n", szIfName);
        Bitmap_Destroy(pstVlanMap);
        return nullptr;
    }

    pstIfCb->uiIfIndex = uiIfIndex;
    strlcpy(pstIfCb->szIfName, szIfName, sizeof(pstIfCb->szIfName));
    pstIfCb->pstVlanMap = pstVlanMap;

    uint16_t usAggMember = 0;
    (void)LAGG_GetDataByIfIndex(uiIfIndex, LAGG_DATA_IS_MEMBER, &usAggMember);
    pstIfCb->usAggMember = usAggMember;

    uint32_t uiLinkState = 0;
    (void)IF_GetDataByIfIndex(uiIfIndex, IF_DATA_LINK_STATE, &uiLinkState);
    pstIfCb->usLinkUp = uiLinkState == IF_LINK_UP ? 1 : 0;

    pbb::list::init(&pstIfCb->stCfgVsiList);
    pbb::list::init(&pstIfCb->stRunVsiList);
    pstIfCb->usUplinkAll = 0;

    _pbb_ifcb_FillVlanMap(uiIfIndex, pstVlanMap);

    if (IF_SetPrivateData(g_ulPbbIfCBHandle, uiIfIndex, pstIfCb) != 0) {
        if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) == 1)
            PBB_log_Print("ERROR", "Failed to set private data on interface %s.\r\n", pstIfCb->szIfName);
        _pbb_ifcb_Destroy(pstIfCb);
        return nullptr;
    }
    return pstIfCb;
}

uint32_t PBB_ifcb_Delete(uint32_t uiIfIndex)
{
    return IF_DelPrivateData(g_ulPbbIfCBHandle, uiIfIndex, _pbb_ifcb_Destroy);
}

PbbIfCb* PBB_ifcb_Get(uint32_t uiIfIndex)
{
    void* pBlock = nullptr;
    if (IF_GetPrivateData(g_ulPbbIfCBHandle, uiIfIndex, &pBlock) != 0) return nullptr;
    return static_cast<PbbIfCb*>(pBlock);
}

PbbIfCb* PBB_ifcb_GetFirst()
{
    uint32_t uiIfIndex = 0;
    void* pBlock = nullptr;
    if (IF_GetFirstPrivateData(g_ulPbbIfCBHandle, &uiIfIndex, &pBlock) != 0) return nullptr;
    return static_cast<PbbIfCb*>(pBlock);
}

PbbIfCb* PBB_ifcb_GetNext(uint32_t uiIfIndex)
{
    void* pBlock = nullptr;
    if (IF_GetNextPrivateData(g_ulPbbIfCBHandle, &uiIfIndex, &pBlock) != 0) return nullptr;
    return static_cast<PbbIfCb*>(pBlock);
}

uint32_t PBB_ifcb_IsDefaultCfg(uint32_t uiIfIndex)
{
    const PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb == nullptr) return 0;
    return pstIfCb->usUplinkAll != 1 && pbb::list::empty(&pstIfCb->stCfgVsiList) ? 1 : 0;
}

PbbIfVsiCfgNode* PBB_ifcb_GetCfgVsiList(uint32_t uiIfIndex)
{
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    return pstIfCb != nullptr ? &pstIfCb->stCfgVsiList : nullptr;
}

PbbIfVsiNode* PBB_ifcb_GetRunVsiList(uint32_t uiIfIndex)
{
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    return pstIfCb != nullptr ? &pstIfCb->stRunVsiList : nullptr;
}

uint32_t PBB_ifcb_AddCfgVsiNode(uint32_t uiIfIndex, const char* szVsiName)
{
    PbbIfVsiCfgNode* pstHead = PBB_ifcb_GetCfgVsiList(uiIfIndex);
    if (pstHead == nullptr || szVsiName == nullptr) return PBB_ERR;
    if (_pbb_ifcb_FindCfgNode(pstHead, szVsiName) != nullptr) return PBB_ERR_EXIST;
    auto* pstNode = static_cast<PbbIfVsiCfgNode*>(calloc(1, sizeof(PbbIfVsiCfgNode)));
    if (pstNode == nullptr) return PBB_ERR;
    strlcpy(pstNode->szVsiName, szVsiName, sizeof(pstNode->szVsiName));
    pbb::list::pushBack(pstHead, pstNode);
    return PBB_OK;
}

void PBB_ifcb_DeleteCfgVsiNode(uint32_t uiIfIndex, const char* szVsiName)
{
    PbbIfVsiCfgNode* pstHead = PBB_ifcb_GetCfgVsiList(uiIfIndex);
    if (pstHead == nullptr || szVsiName == nullptr) return;
    PbbIfVsiCfgNode* pstNode = _pbb_ifcb_FindCfgNode(pstHead, szVsiName);
    if (pstNode == nullptr) return;
    pbb::list::unlink(pstNode);
    free(pstNode);
}

uint32_t PBB_ifcb_IsCfgVsiExist(uint32_t uiIfIndex, const char* szVsiName)
{
    PbbIfVsiCfgNode* pstHead = PBB_ifcb_GetCfgVsiList(uiIfIndex);
    if (pstHead == nullptr || szVsiName == nullptr) return 0;
    return _pbb_ifcb_FindCfgNode(pstHead, szVsiName) != nullptr ? 1 : 0;
}

uint32_t PBB_ifcb_AddRunVsiNode(uint32_t uiIfIndex, uint32_t uiVsiIndex)
{
    PbbIfVsiNode* pstHead = PBB_ifcb_GetRunVsiList(uiIfIndex);
    if (pstHead == nullptr) return PBB_ERR;
    if (_pbb_ifcb_FindRunNode(pstHead, uiVsiIndex) != nullptr) return PBB_ERR_EXIST;
    auto* pstNode = static_cast<PbbIfVsiNode*>(calloc(1, sizeof(PbbIfVsiNode)));
    if (pstNode == nullptr) return PBB_ERR;
    pstNode->uiVsiIndex = uiVsiIndex;
    pbb::list::pushBack(pstHead, pstNode);
    return PBB_OK;
}

void PBB_ifcb_DeleteRunVsiNode(uint32_t uiIfIndex, uint32_t uiVsiIndex)
{
    PbbIfVsiNode* pstHead = PBB_ifcb_GetRunVsiList(uiIfIndex);
    if (pstHead == nullptr) return;
    PbbIfVsiNode* pstNode = _pbb_ifcb_FindRunNode(pstHead, uiVsiIndex);
    if (pstNode == nullptr) return;
    pbb::list::unlink(pstNode);
    free(pstNode);
}

uint32_t PBB_ifcb_IsRunVsiExist(uint32_t uiIfIndex, uint32_t uiVsiIndex)
{
    PbbIfVsiNode* pstHead = PBB_ifcb_GetRunVsiList(uiIfIndex);
    if (pstHead == nullptr) return 0;
    return _pbb_ifcb_FindRunNode(pstHead, uiVsiIndex) != nullptr ? 1 : 0;
}

void PBB_ifcb_DeleteAllCfgVsiNode(uint32_t uiIfIndex)
{
    PbbIfVsiCfgNode* pstHead = PBB_ifcb_GetCfgVsiList(uiIfIndex);
    if (pstHead != nullptr) _pbb_ifcb_FreeList(pstHead);
}

void PBB_ifcb_DeleteAllRunVsiNode(uint32_t uiIfIndex)
{
    PbbIfVsiNode* pstHead = PBB_ifcb_GetRunVsiList(uiIfIndex);
    if (pstHead != nullptr) _pbb_ifcb_FreeList(pstHead);
}
