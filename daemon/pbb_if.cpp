#include "daemon/pbb_if.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_ctl.h"
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_reopen.h"
#include "daemon/pbb_tmr.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"

#include <array>
#include <cstring>

int g_iIfHandle = PBB_INVALID_FD;
uint32_t g_uiPbbIfEventHandle = 0;
uint32_t g_uiPbbLinkEventHandle = 0;
uint32_t g_uiPbbSlotEventHandle = 0;
PbbReopen g_stPbbIfReopen = {
    PBB_IF_STATE_NAME, PBB_if_Init, "PBB_IFEVENT_WARNING",
    "The interface manager's event channel was closed and cannot be opened again: interface, link and slot "
    "changes are not followed until it opens. Retrying every second.\r\n",
    "PBB_IFEVENT_NOTICE",
    "The interface manager's event channel has been opened again: interface, link and slot changes are "
    "followed again; those made while it was closed were not seen.\r\n",
    PBB_TMR_INVALID};

namespace {

constexpr uint32_t PBB_IF_SEL_KIND = 5;
constexpr uint32_t PBB_IF_SEL_PROPERTY = 8;
constexpr uint32_t PBB_IF_SEL_CONDITION = 2;
constexpr uint32_t PBB_IF_EVT_BATCH = 64;
constexpr uint32_t PBB_IF_LINK_ARG = 32;
constexpr uint32_t PBB_IF_JOINAGG_SEVERITY = 4;
// The interface types whose events the daemon follows, in registration order.
constexpr std::array<uint32_t, 7> PBB_IF_SEL_TYPES = {IF_TYPE_FE,    IF_TYPE_GE,    IF_TYPE_XGE, IF_TYPE_40GE,
                                                      IF_TYPE_100GE, IF_TYPE_25GE, IF_TYPE_AGG};

struct PbbIfName {
    char sz[IF_NAME_BUF_LEN];
};

PbbIfName _pbb_if_FullName(uint32_t uiIfIndex)
{
    PbbIfName stName;
    stName.sz[0] = '\0';
    (void)IF_GetDataByIfIndex(uiIfIndex, IF_DATA_FULL_NAME, stName.sz);
    stName.sz[sizeof(stName.sz) - 1] = '\0';
    return stName;
}

const char* _pbb_if_EventName(uint32_t uiEvent)
{
    switch (uiEvent) {
    case PBB_IF_EVT_DELETE: return "interface_delete";
    case PBB_IF_EVT_DEACTIVE: return "interface_deactive";
    case PBB_IF_EVT_ACTIVE: return "interface_active";
    case PBB_IF_EVT_AGG_JOIN: return "join in";
    case PBB_IF_EVT_AGG_LEAVE: return "leave from";
    case PBB_IF_EVT_LINK_UP: return "interface_up";
    case PBB_IF_EVT_LINK_DOWN: return "interface_down";
    default: return "";
    }
}

bool _pbb_if_EventDebugOn()
{
    return PBB_log_IsDebugSwitchOn(PBB_DBG_EVENT) == 1;
}

// Multicast ports of the interface in each VSI it serves: added under the
// port rule, or removed.
void _pbb_if_ActivePorts(const PbbIfCb* pstIfCb)
{
    const PbbIfVsiNode* pstHead = &pstIfCb->stRunVsiList;
    for (const PbbIfVsiNode* pstNode = pstHead->pstNext; pstNode != pstHead; pstNode = pstNode->pstNext)
        PBB_ctl_ActiveMcPort(pstNode->uiVsiIndex, pstIfCb->uiIfIndex);
}

void _pbb_if_DeactivePorts(const PbbIfCb* pstIfCb)
{
    const PbbIfVsiNode* pstHead = &pstIfCb->stRunVsiList;
    for (const PbbIfVsiNode* pstNode = pstHead->pstNext; pstNode != pstHead; pstNode = pstNode->pstNext)
        PBB_ctl_DeactiveMcPort(pstNode->uiVsiIndex, pstIfCb->uiIfIndex);
}

// The interface serves the VSI: running node, uplink, multicast port.
void _pbb_if_AttachVsi(uint32_t uiIfIndex, uint32_t uiVsiIndex)
{
    (void)PBB_ifcb_AddRunVsiNode(uiIfIndex, uiVsiIndex);
    (void)PBB_vsi_AddUplink(uiVsiIndex, uiIfIndex);
    PBB_ctl_ActiveMcPort(uiVsiIndex, uiIfIndex);
}

}  // namespace

// ---------------------------------------------------------------------------
// Registration
// ---------------------------------------------------------------------------

uint32_t PBB_if_Init()
{
    uint32_t uiRet = _pbb_if_Register();
    if (uiRet != PBB_OK)
        _pbb_if_Deregister();
    else
        PBB_reopen_TellOpen(&g_stPbbIfReopen);
    return uiRet;
}

void PBB_if_Exit()
{
    PBB_reopen_Stop(&g_stPbbIfReopen);
    _pbb_if_Deregister();
}

uint32_t _pbb_if_Register()
{
    if (g_iIfHandle >= 0) return PBB_OK;
    int iFd = IF_Event_Init();
    if (iFd < 0) return PBB_ERR;
    if (PBB_elipc_Add(g_iPbbEpollFd, iFd, _pbb_if_ProcEpollEvent) != 0) {
        IF_Event_Fini(iFd);
        return PBB_ERR;
    }
    g_iIfHandle = iFd;

    PbbIfEventSel stSel;
    memset(&stSel, 0, sizeof(stSel));
    (void)IF_Select_Init(PBB_IF_SEL_KIND, &stSel);
    for (uint32_t uiType : PBB_IF_SEL_TYPES) (void)IF_SelectType_Set(uiType, &stSel);
    (void)IF_SelectProperty_Set(PBB_IF_SEL_PROPERTY, &stSel);
    (void)IF_SelectCondition_Set(PBB_IF_SEL_CONDITION, &stSel);

    g_uiPbbIfEventHandle =
        IF_RegIfEvent(PBB_MODULE_ID, PBB_IF_MASK_IF, PBB_IF_EVT_BATCH, &stSel, _pbb_if_IfEventCallback, 0);
    g_uiPbbLinkEventHandle = IF_RegLinkEvent(PBB_MODULE_ID, PBB_IF_MASK_LINK, PBB_IF_EVT_BATCH, PBB_IF_LINK_ARG,
                                             _pbb_if_LinkEventCallback, 0);
    g_uiPbbSlotEventHandle =
        IF_RegSlotEvent(PBB_MODULE_ID, PBB_IF_MASK_SLOT, PBB_IF_EVT_BATCH, _pbb_if_SlotEventCallback);
    if (g_uiPbbIfEventHandle == 0 || g_uiPbbLinkEventHandle == 0 || g_uiPbbSlotEventHandle == 0) return PBB_ERR;
    return PBB_OK;
}

void _pbb_if_Deregister()
{
    if (g_iIfHandle < 0) return;
    const std::array<std::pair<uint32_t*, uint32_t>, 3> astRegs = {{{&g_uiPbbIfEventHandle, PBB_IF_MASK_IF},
                                                                    {&g_uiPbbLinkEventHandle, PBB_IF_MASK_LINK},
                                                                    {&g_uiPbbSlotEventHandle, PBB_IF_MASK_SLOT}}};
    for (const auto& [puiHandle, uiMask] : astRegs) {
        if (*puiHandle == 0) continue;
        (void)IF_UnRegEvent(*puiHandle, uiMask);
        *puiHandle = 0;
    }
    (void)PBB_elipc_Del(g_iPbbEpollFd, g_iIfHandle);
    IF_Event_Fini(g_iIfHandle);
    g_iIfHandle = PBB_INVALID_FD;
}

uint32_t _pbb_if_ProcEpollEvent(uint32_t uiEvents, int iFd)
{
    if ((uiEvents & PBB_EV_IN) != 0) (void)IF_ResponseEventPkt(iFd);
    if ((uiEvents & PBB_EV_ERR_HUP) != 0) {
        // Registered again at once, or every second until the manager
        // answers (a half-made registration is undone first).
        _pbb_if_Deregister();
        (void)PBB_reopen_AfterClose(&g_stPbbIfReopen);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Callbacks
// ---------------------------------------------------------------------------

uint32_t _pbb_if_IfEventCallback(uint32_t uiEvent, PbbIfEvent* pstIfList, uint32_t uiIfNum, uint32_t uiContext,
                                 uint32_t* puiData)
{
    for (uint32_t i = 0; pstIfList != nullptr && i < uiIfNum; ++i) {
        const uint32_t uiIfIndex = pstIfList[i].uiIfIndex;
        switch (uiEvent) {
        case PBB_IF_EVT_ACTIVE:
            _pbb_if_PrintEvtDebug(uiEvent, uiIfIndex);
            _pbb_if_ProcIfActive(uiIfIndex, puiData);
            break;
        case PBB_IF_EVT_DEACTIVE:
            _pbb_if_PrintEvtDebug(uiEvent, uiIfIndex);
            _pbb_if_ProcIfDeactive(uiIfIndex, puiData);
            break;
        case PBB_IF_EVT_DELETE:
            _pbb_if_PrintEvtDebug(uiEvent, uiIfIndex);
            _pbb_if_ProcIfDelete(uiIfIndex);
            break;
        case PBB_IF_EVT_AGG_JOIN:
        case PBB_IF_EVT_AGG_LEAVE: {
            // The data word names the aggregate; without it there is none.
            const uint32_t uiAggIfIndex = puiData != nullptr ? *puiData : 0;
            if (_pbb_if_EventDebugOn())
                PBB_log_Print("EVENT", "Receive the event that interface %s %s the aggregate interface %s.\r\n",
                              _pbb_if_FullName(uiIfIndex).sz, _pbb_if_EventName(uiEvent),
                              _pbb_if_FullName(uiAggIfIndex).sz);
            if (uiEvent == PBB_IF_EVT_AGG_JOIN)
                _pbb_if_ProcAggJoin(uiIfIndex, uiAggIfIndex);
            else
                _pbb_if_ProcAggLeave(uiIfIndex, uiAggIfIndex);
            break;
        }
        default: break;
        }
    }
    (void)IF_NotifyFinalStatus(g_uiPbbIfEventHandle, uiEvent, pstIfList, uiIfNum, uiContext);
    return 0;
}

uint32_t _pbb_if_LinkEventCallback(uint32_t uiEvent, PbbIfEvent* pstIfList, uint32_t uiIfNum)
{
    if (uiEvent != PBB_IF_EVT_LINK_UP && uiEvent != PBB_IF_EVT_LINK_DOWN) return 0;
    for (uint32_t i = 0; pstIfList != nullptr && i < uiIfNum; ++i) {
        const uint32_t uiIfIndex = pstIfList[i].uiIfIndex;
        _pbb_if_PrintEvtDebug(uiEvent, uiIfIndex);
        if (uiEvent == PBB_IF_EVT_LINK_UP)
            _pbb_if_ProcLinkUp(uiIfIndex);
        else
            _pbb_if_ProcLinkDown(uiIfIndex);
    }
    return 0;
}

uint32_t _pbb_if_SlotEventCallback(uint32_t uiEvent, PbbIfEvent* pstSlotList, uint32_t uiSlotNum, uint32_t uiContext)
{
    for (uint32_t i = 0; pstSlotList != nullptr && i < uiSlotNum; ++i) {
        if (uiEvent == PBB_IF_EVT_SLOT_INSERT)
            _pbb_if_ProcSlotInsert(pstSlotList[i].usSlot);
        else if (uiEvent == PBB_IF_EVT_SLOT_REMOVE)
            _pbb_if_ProcSlotRemove(pstSlotList[i].usSlot);
    }
    (void)IF_NotifyFinalStatus(g_uiPbbSlotEventHandle, uiEvent, pstSlotList, uiSlotNum, uiContext);
    return 0;
}

void _pbb_if_PrintEvtDebug(uint32_t uiEvent, uint32_t uiIfIndex)
{
    PbbIfName stName = _pbb_if_FullName(uiIfIndex);
    if (_pbb_if_EventDebugOn())
        PBB_log_Print("EVENT", "Receive event: %s on the interface %s.\r\n", _pbb_if_EventName(uiEvent), stName.sz);
}

// ---------------------------------------------------------------------------
// Interfaces coming, going and joining aggregates
// ---------------------------------------------------------------------------

void _pbb_if_ProcIfActive(uint32_t uiIfIndex, const uint32_t* /*puiData*/)
{
    (void)PBB_dbmrecover_IfRecover(uiIfIndex);
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb == nullptr) return;
    (void)PBB_l2vpn_SetIfPBB(uiIfIndex);

    if (pstIfCb->usUplinkAll == 1) {
        for (PbbVsi* pstVsi = PBB_vsi_GetFirstVsi(); pstVsi != nullptr; pstVsi = PBB_vsi_GetNextVsi(pstVsi->uiVsiIndex))
            _pbb_if_AttachVsi(uiIfIndex, pstVsi->uiVsiIndex);
    } else {
        const PbbIfVsiCfgNode* pstHead = &pstIfCb->stCfgVsiList;
        for (const PbbIfVsiCfgNode* pstNode = pstHead->pstNext; pstNode != pstHead; pstNode = pstNode->pstNext) {
            const uint32_t uiVsiIndex = PBB_vsi_GetIndexByName(pstNode->szVsiName);
            if (uiVsiIndex != PBB_VSI_INVALID_INDEX) _pbb_if_AttachVsi(uiIfIndex, uiVsiIndex);
        }
    }
    (void)PBB_dbmsave_MoveIfAllCfg(PBB_DBM_SEL_USED, pstIfCb->szIfName);
}

void _pbb_if_ProcIfDeactive(uint32_t uiIfIndex, const uint32_t* puiData)
{
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb == nullptr) return;
    PBB_ctl_ResetUcPwByIf(uiIfIndex);
    const PbbIfVsiNode* pstHead = &pstIfCb->stRunVsiList;
    for (const PbbIfVsiNode* pstNode = pstHead->pstNext; pstNode != pstHead; pstNode = pstNode->pstNext) {
        PBB_ctl_DeactiveMcPort(pstNode->uiVsiIndex, uiIfIndex);
        PBB_vsi_DeleteUplink(pstNode->uiVsiIndex, uiIfIndex);
    }
    if (puiData != nullptr && *puiData == IF_INACTIVE_PARK)
        (void)PBB_dbmsave_MoveIfAllCfg(PBB_DBM_SEL_UNUSED, pstIfCb->szIfName);
    else
        (void)PBB_dbmsave_DeleteIfAllCfg(PBB_DBM_SEL_USED, pstIfCb->szIfName);
    PBB_l2vpn_ResetIfPBB(uiIfIndex);
    (void)PBB_ifcb_Delete(uiIfIndex);
}

void _pbb_if_ProcIfDelete(uint32_t uiIfIndex)
{
    (void)PBB_dbmsave_DeleteIfAllCfg(PBB_DBM_SEL_UNUSED, _pbb_if_FullName(uiIfIndex).sz);
}

void _pbb_if_ProcAggJoin(uint32_t uiIfIndex, uint32_t uiAggIfIndex)
{
    const bool bAggPbb = PBB_ifcb_Get(uiAggIfIndex) != nullptr;
    if (PBB_l2vpn_IsSupportByIf(uiIfIndex) != 0) {
        // The aggregate's PBB mode extends to its new member, which stops
        // serving its own VSIs.
        if (bAggPbb) (void)PBB_l2vpn_SetIfPBB(uiIfIndex);
        PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
        if (pstIfCb == nullptr) return;
        pstIfCb->usAggMember = 1;
        PBB_ctl_ResetUcPwByIf(uiIfIndex);
        _pbb_if_DeactivePorts(pstIfCb);
        return;
    }
    if (!bAggPbb) return;
    PBB_log_PrintLog(PBB_IF_JOINAGG_SEVERITY, "PBB_JOINAGG_WARNING",
                     "Because the aggregate interface %s has been configured with PBB, assigning the interface %s "
                     "that does not support PBB to the aggregate group will cause incorrect processing. \r\n",
                     _pbb_if_FullName(uiAggIfIndex).sz, _pbb_if_FullName(uiIfIndex).sz);
}

void _pbb_if_ProcAggLeave(uint32_t uiIfIndex, uint32_t uiAggIfIndex)
{
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb != nullptr) {
        pstIfCb->usAggMember = 0;
        _pbb_if_ActivePorts(pstIfCb);
        return;
    }
    if (PBB_ifcb_Get(uiAggIfIndex) != nullptr) PBB_l2vpn_ResetIfPBB(uiIfIndex);
}

// ---------------------------------------------------------------------------
// Links and slots
// ---------------------------------------------------------------------------

void _pbb_if_ProcLinkUp(uint32_t uiIfIndex)
{
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb == nullptr || pstIfCb->usLinkUp == 1) return;
    pstIfCb->usLinkUp = 1;
    _pbb_if_ActivePorts(pstIfCb);
}

void _pbb_if_ProcLinkDown(uint32_t uiIfIndex)
{
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb == nullptr || pstIfCb->usLinkUp == 0) return;
    pstIfCb->usLinkUp = 0;
    PBB_ctl_ResetUcPwByIf(uiIfIndex);
    _pbb_if_DeactivePorts(pstIfCb);
}

void _pbb_if_ProcSlotInsert(uint16_t usSlot)
{
    if (_pbb_if_EventDebugOn()) PBB_log_Print("EVENT", "Receive slot %u insert event.\r\n", static_cast<unsigned>(usSlot));
    if (PBB_l2vpn_IsSupportBySlot(usSlot) == 1) {
        PBB_ucpw_SetAgeStatusSlot(0, usSlot);
        return;
    }
    if (_pbb_if_EventDebugOn()) PBB_log_Print("EVENT", "Slot %u does not support PBB.\r\n", static_cast<unsigned>(usSlot));
}

void _pbb_if_ProcSlotRemove(uint16_t usSlot)
{
    if (_pbb_if_EventDebugOn()) PBB_log_Print("EVENT", "Receive slot %u remove event.\r\n", static_cast<unsigned>(usSlot));
    if (PBB_l2vpn_IsSupportBySlot(usSlot) != 1) {
        if (_pbb_if_EventDebugOn())
            PBB_log_Print("EVENT", "Slot %u does not support PBB.\r\n", static_cast<unsigned>(usSlot));
        return;
    }
    // Entries that no slot holds any more go from driver, database and table.
    PBB_ucpw_SetAgeStatusSlot(1, usSlot);
    PbbUcPw* pstEntry = PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr);
    while (pstEntry != nullptr) {
        PbbUcPw* pstNext = PBB_ucpw_GetNext(PBB_UCPW_GET_ALL, pstEntry);
        if (Bitmap_IsEmpty(pstEntry->pstAgeStatus) == 1) {
            PBB_l2vpn_DeleteUcPw(pstEntry->uiVsiIndex, pstEntry->uiISid, pstEntry->aucBMac);
            (void)PBB_dbmsave_DeleteUcPw(pstEntry);
            PBB_ucpw_Delete(pstEntry);
        }
        pstEntry = pstNext;
    }
}
