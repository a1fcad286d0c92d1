#include "daemon/pbb_l2vpn.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_ctl.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_reopen.h"
#include "daemon/pbb_tmr.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "platform/ifm.h"
#include "platform/lagg.h"
#include "platform/lipc.h"
#include "platform/log.h"
#include "platform/stlv.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

int g_iL2vpnEvtFd = PBB_INVALID_FD;
uint16_t g_bIsVsiShare = 0;
uint32_t g_uiMaxPwNum = 0;
uint32_t g_uiMaxPwNumPerVsi = 0;
uint32_t g_ulL2vpnTimerFd = PBB_TMR_INVALID;
int g_iAgeFd = PBB_INVALID_FD;
PbbReopen g_stPbbAgeReopen = {
    PBB_AGE_STATE_NAME, _pbb_l2vpn_AgeInit, "PBB_AGESOCK_WARNING",
    "The ageing report socket was closed and cannot be opened again: ageing and no-resource reports of the line "
    "cards are not read until it opens. Retrying every second.\r\n",
    "PBB_AGESOCK_NOTICE", "The ageing report socket has been opened again: ageing and no-resource reports are read "
    "again.\r\n",
    PBB_TMR_INVALID};

namespace {

constexpr uint32_t PBB_L2VPN_IF_TYPE_UNKNOWN = 128;
constexpr uint16_t PBB_L2VPN_SLOT_UNKNOWN = 0xFFFF;

// The daemon's record and the library's are the same layout (checked in
// the header); this is the one place the first is handed over as the second.
const L2VPN_MINM_ENTRY_S* _pbb_l2vpn_AsLibEntry(const PbbMinMEntry* pstEntry)
{
    return reinterpret_cast<const L2VPN_MINM_ENTRY_S*>(pstEntry);
}

void _pbb_l2vpn_LogError(const char* szText)
{
    if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) == 1) PBB_log_Print("ERROR", szText);
}

// Key of every entry: bytes 0 to 15. Deletions carry nothing else.
void _pbb_l2vpn_FillKey(PbbMinMEntry* pstEntry, uint32_t uiVsiIndex, uint32_t uiISid, const uint8_t* pucBMac)
{
    memset(pstEntry, 0, sizeof(*pstEntry));
    pstEntry->uiVsiIndex = uiVsiIndex;
    pstEntry->uiISid = uiISid;
    memcpy(pstEntry->aucBMac, pucBMac, sizeof(pstEntry->aucBMac));
    pstEntry->usZero = 0;
}

// The fields of an add after the key; the port list is set by the caller.
void _pbb_l2vpn_FillAdd(PbbMinMEntry* pstEntry, const uint8_t* pucCMac, uint32_t uiFlags, uint16_t usBVlan)
{
    pstEntry->uiAllOnes = 0xFFFFFFFFu;
    pstEntry->usAllOnes = 0xFFFF;
    if (pucCMac != nullptr)
        memcpy(pstEntry->aucCMac, pucCMac, sizeof(pstEntry->aucCMac));
    else
        memset(pstEntry->aucCMac, 0, sizeof(pstEntry->aucCMac));
    pstEntry->uiEntryFlags = uiFlags;
    pstEntry->uiBVlan = usBVlan;
    pstEntry->uiZero = 0;
}

// A multicast add or a port change: group address key, multicast fields.
void _pbb_l2vpn_FillMc(PbbMinMEntry* pstEntry, uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan)
{
    uint8_t aucGroup[6];
    PBB_mcpw_GroupMac(uiISid, aucGroup);
    _pbb_l2vpn_FillKey(pstEntry, uiVsiIndex, uiISid, aucGroup);
    _pbb_l2vpn_FillAdd(pstEntry, nullptr, PBB_MINM_FLAGS_MC, usBVlan);
}

// One add or delete followed, when it succeeds, by the flush that commits it.
uint32_t _pbb_l2vpn_AddAndFlush(uint32_t uiOp, const PbbMinMEntry* pstEntry)
{
    uint32_t uiRet = L2VPN_AddMinMEntry(g_iL2vpnEvtFd, PBB_L2VPN_CLIENT, uiOp, _pbb_l2vpn_AsLibEntry(pstEntry));
    if (uiRet == 0) uiRet = L2VPN_FlushPwEntry(g_iL2vpnEvtFd);
    return uiRet;
}

uint32_t _pbb_l2vpn_DelAndFlush(uint32_t uiOp, const PbbMinMEntry* pstEntry)
{
    uint32_t uiRet = L2VPN_DelMinMEntry(g_iL2vpnEvtFd, PBB_L2VPN_CLIENT, uiOp, _pbb_l2vpn_AsLibEntry(pstEntry));
    if (uiRet == 0) uiRet = L2VPN_FlushPwEntry(g_iL2vpnEvtFd);
    return uiRet;
}

// Members of an aggregate; the array (null without members) is the
// caller's to free.
LAGG_MEMBER_LIST_S _pbb_l2vpn_GetMembers(uint32_t uiIfIndex)
{
    LAGG_MEMBER_LIST_S stList{};
    stList.uiNum = 0;
    stList.puiIfIndex = nullptr;
    (void)LAGG_GetDataByIfIndex(uiIfIndex, LAGG_DATA_MEMBERS, &stList);
    if (stList.puiIfIndex == nullptr) stList.uiNum = 0;
    return stList;
}

uint32_t _pbb_l2vpn_SupportOfPort(uint32_t uiIfIndex)
{
    uint16_t usSlot = PBB_L2VPN_SLOT_UNKNOWN;
    (void)IF_GetDataByIfIndex(uiIfIndex, IF_DATA_SLOT, &usSlot);
    return PBB_l2vpn_IsSupportBySlot(usSlot);
}

}  // namespace

uint32_t PBB_l2vpn_AddUcPw(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, uint32_t uiIfIndex,
                           const uint8_t* pucBMac, const uint8_t* pucCMac)
{
    uint32_t uiPort = uiIfIndex;
    PbbMinMEntry stEntry;
    _pbb_l2vpn_FillKey(&stEntry, uiVsiIndex, uiISid, pucBMac);
    _pbb_l2vpn_FillAdd(&stEntry, pucCMac, PBB_MINM_FLAGS_UC, usBVlan);
    stEntry.uiPortNum = 1;
    stEntry.puiPortList = &uiPort;

    uint32_t uiRet = _pbb_l2vpn_AddAndFlush(PBB_MINM_ADD_UCPW, &stEntry);
    if (uiRet != 0) _pbb_l2vpn_LogError("Failed to add Unicast Pseudo Wire entries to driver.\r\n");
    return uiRet;
}

void PBB_l2vpn_DeleteUcPw(uint32_t uiVsiIndex, uint32_t uiISid, const uint8_t* pucBMac)
{
    PbbMinMEntry stEntry;
    _pbb_l2vpn_FillKey(&stEntry, uiVsiIndex, uiISid, pucBMac);
    if (_pbb_l2vpn_DelAndFlush(PBB_MINM_DEL_UCPW, &stEntry) != 0)
        _pbb_l2vpn_LogError("Failed to delete Unicast Pseudo Wire entries from driver.\r\n");
}

uint32_t PBB_l2vpn_AddMcPw(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, const uint32_t* puiIfIndexList,
                           uint32_t uiIfIndexNum)
{
    PbbMinMEntry stEntry;
    _pbb_l2vpn_FillMc(&stEntry, uiVsiIndex, uiISid, usBVlan);

    // The driver takes at most 256 ports a call: the list goes out in
    // consecutive chunks, and an empty list still makes one call.
    uint32_t uiRemaining = uiIfIndexNum;
    const uint32_t* puiNext = puiIfIndexList;
    uint32_t uiRet = 0;
    do {
        // The library only reads the list.
        stEntry.puiPortList = const_cast<uint32_t*>(puiNext);
        stEntry.uiPortNum = std::min(uiRemaining, PBB_MINM_PORTS_PER_CALL);
        uiRet = L2VPN_AddMinMEntry(g_iL2vpnEvtFd, PBB_L2VPN_CLIENT, PBB_MINM_ADD_MCPW, _pbb_l2vpn_AsLibEntry(&stEntry));
        if (uiRet != 0) break;
        uiRemaining -= stEntry.uiPortNum;
        if (uiRemaining != 0) puiNext += stEntry.uiPortNum;
    } while (uiRemaining != 0);

    if (uiRet == 0) uiRet = L2VPN_FlushPwEntry(g_iL2vpnEvtFd);
    if (uiRet == 0) return PBB_OK;

    // Part of the group may be staged or committed: withdraw all of it.
    PBB_l2vpn_DeleteMcPw(uiVsiIndex, uiISid);
    _pbb_l2vpn_LogError("Failed to add Multicast Pseudo Wire entries to driver.\r\n");
    return uiRet;
}

void PBB_l2vpn_DeleteMcPw(uint32_t uiVsiIndex, uint32_t uiISid)
{
    uint8_t aucGroup[6];
    PBB_mcpw_GroupMac(uiISid, aucGroup);
    PbbMinMEntry stEntry;
    _pbb_l2vpn_FillKey(&stEntry, uiVsiIndex, uiISid, aucGroup);
    if (_pbb_l2vpn_DelAndFlush(PBB_MINM_DEL_MCPW, &stEntry) != 0)
        _pbb_l2vpn_LogError("Failed to delete Multicast Pseudo Wire entries from driver.\r\n");
}

uint32_t PBB_l2vpn_AddMcPwPort(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, uint32_t uiIfIndex)
{
    uint32_t uiPort = uiIfIndex;
    PbbMinMEntry stEntry;
    _pbb_l2vpn_FillMc(&stEntry, uiVsiIndex, uiISid, usBVlan);
    stEntry.uiPortNum = 1;
    stEntry.puiPortList = &uiPort;
    uint32_t uiRet = _pbb_l2vpn_AddAndFlush(PBB_MINM_ADD_MCPW_PORT, &stEntry);
    if (uiRet != 0) _pbb_l2vpn_LogError("Failed to add Multicast Pseudo Wire port to driver.\r\n");
    return uiRet;
}

void PBB_l2vpn_DeleteMcPwPort(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, uint32_t uiIfIndex)
{
    uint32_t uiPort = uiIfIndex;
    PbbMinMEntry stEntry;
    _pbb_l2vpn_FillMc(&stEntry, uiVsiIndex, uiISid, usBVlan);
    stEntry.uiPortNum = 1;
    stEntry.puiPortList = &uiPort;
    // Removing a port is an add operation of its own, not a deletion.
    if (_pbb_l2vpn_AddAndFlush(PBB_MINM_DEL_MCPW_PORT, &stEntry) != 0)
        _pbb_l2vpn_LogError("Failed to delete Multicast Pseudo Wire port from driver.\r\n");
}

uint32_t PBB_l2vpn_SetEncapType(uint32_t uiVsiIndex, uint32_t uiEncapType)
{
    uint32_t uiValue = uiEncapType;
    uint32_t uiRet = L2VPN_SetVSI(g_iL2vpnEvtFd, uiVsiIndex, PBB_L2VPN_VSI_ATTR_ENCAP, &uiValue);
    if (uiRet != 0) _pbb_l2vpn_LogError("Failed to set ethernet type.\r\n");
    return uiRet;
}

uint32_t PBB_l2vpn_SetIfPBB(uint32_t uiIfIndex)
{
    uint32_t uiType = PBB_L2VPN_IF_TYPE_UNKNOWN;
    uint32_t uiRet = IF_GetDataByIfIndex(uiIfIndex, IF_DATA_TYPE, &uiType);
    if (uiRet != 0) return uiRet;

    if (uiType != IF_TYPE_AGG) {
        uiRet = L2VPN_SetInterface(g_iL2vpnEvtFd, uiIfIndex, PBB_L2VPN_IF_PBB_ENABLE);
    } else {
        LAGG_MEMBER_LIST_S stList = _pbb_l2vpn_GetMembers(uiIfIndex);
        for (uint32_t i = 0; i < stList.uiNum; ++i) {
            uiRet = L2VPN_SetInterface(g_iL2vpnEvtFd, stList.puiIfIndex[i], PBB_L2VPN_IF_PBB_ENABLE);
            if (uiRet != 0) {
                // Members switched on so far go back off, except those
                // that are PBB ports in their own right.
                PBB_l2vpn_ResetIfPBB(uiIfIndex);
                break;
            }
        }
        free(stList.puiIfIndex);
    }
    if (uiRet != 0) _pbb_l2vpn_LogError("Failed to enable the interface PBB mode.\r\n");
    return uiRet;
}

void PBB_l2vpn_ResetIfPBB(uint32_t uiIfIndex)
{
    uint32_t uiType = PBB_L2VPN_IF_TYPE_UNKNOWN;
    if (IF_GetDataByIfIndex(uiIfIndex, IF_DATA_TYPE, &uiType) != 0) return;

    uint32_t uiRet = 0;
    if (uiType != IF_TYPE_AGG) {
        uiRet = L2VPN_SetInterface(g_iL2vpnEvtFd, uiIfIndex, PBB_L2VPN_IF_PBB_DISABLE);
    } else {
        LAGG_MEMBER_LIST_S stList = _pbb_l2vpn_GetMembers(uiIfIndex);
        for (uint32_t i = 0; i < stList.uiNum; ++i) {
            uint32_t uiMember = stList.puiIfIndex[i];
            if (PBB_ifcb_Get(uiMember) != nullptr) continue;
            uiRet += L2VPN_SetInterface(g_iL2vpnEvtFd, uiMember, PBB_L2VPN_IF_PBB_DISABLE);
        }
        free(stList.puiIfIndex);
    }
    if (uiRet != 0) _pbb_l2vpn_LogError("Failed to disable the interface PBB mode.\r\n");
}

uint32_t PBB_l2vpn_IsSupportBySlot(uint16_t usSlot)
{
    return L2VPN_IsSupportMinM(usSlot);
}

uint32_t PBB_l2vpn_IsSupportByIf(uint32_t uiIfIndex)
{
    uint32_t uiType = PBB_L2VPN_IF_TYPE_UNKNOWN;
    if (IF_GetDataByIfIndex(uiIfIndex, IF_DATA_TYPE, &uiType) != 0) return 0;
    if (uiType != IF_TYPE_AGG) return _pbb_l2vpn_SupportOfPort(uiIfIndex);

    LAGG_MEMBER_LIST_S stList = _pbb_l2vpn_GetMembers(uiIfIndex);
    uint32_t uiResult = 1;
    for (uint32_t i = 0; i < stList.uiNum && uiResult == 1; ++i) uiResult = _pbb_l2vpn_SupportOfPort(stList.puiIfIndex[i]);
    free(stList.puiIfIndex);
    return uiResult;
}

uint16_t PBB_l2vpn_IsShareVsi()
{
    return g_bIsVsiShare;
}

uint32_t PBB_l2vpn_GetMaxPwNum()
{
    return g_uiMaxPwNum;
}

uint32_t PBB_l2vpn_GetMaxPwPerVsi()
{
    return g_uiMaxPwNumPerVsi;
}

uint32_t PBB_l2vpn_DeleteAllPw()
{
    if (g_iL2vpnEvtFd == PBB_INVALID_FD) return 0xFFFFFFFFu;
    // An empty refresh window: the platform drops everything the daemon
    // programmed, since nothing is programmed again inside it.
    (void)L2VPN_SendGrEvent(g_iL2vpnEvtFd, PBB_L2VPN_CLIENT, PBB_L2VPN_GR_BEGIN);
    return L2VPN_SendGrEvent(g_iL2vpnEvtFd, PBB_L2VPN_CLIENT, PBB_L2VPN_GR_END);
}

// ---------------------------------------------------------------------------
// Start-up and shutdown of the adapter
// ---------------------------------------------------------------------------

namespace {

// A fresh registration joins the event loop, opens a refresh window and asks
// for the whole VSI set; the batch end closes the window. A descriptor the
// loop refuses is given back to the library.
uint32_t _pbb_l2vpn_Attach(int iFd)
{
    if (PBB_elipc_Add(g_iPbbEpollFd, iFd, _pbb_l2vpn_EpollCallBack) != 0) {
        (void)L2VPN_Deregister(iFd);
        return PBB_ERR;
    }
    (void)L2VPN_SendGrEvent(iFd, PBB_L2VPN_CLIENT, PBB_L2VPN_GR_BEGIN);
    (void)L2VPN_RequestBatch(iFd, PBB_L2VPN_BATCH_ALL);
    g_iL2vpnEvtFd = iFd;
    return PBB_OK;
}

int _pbb_l2vpn_Register()
{
    return L2VPN_Register(PBB_L2VPN_REG_INSTANCE, PBB_L2VPN_REG_EVENTS, PBB_L2VPN_CLIENT, _pbb_l2vpn_ProcEvent);
}

}  // namespace

uint32_t PBB_l2vpn_Init()
{
    uint32_t uiFailed = 0;
    if (g_iL2vpnEvtFd < 0) {
        int iFd = _pbb_l2vpn_Register();
        if (iFd < 0)
            (void)_pbb_l2vpn_CreateTimer();  // the module is away: retry every second
        else if (_pbb_l2vpn_Attach(iFd) != PBB_OK)
            uiFailed = 1;
    }

    if (_pbb_l2vpn_AgeInit() != PBB_OK) uiFailed = 1;

    PbbL2vfibSpec stSpec;
    memset(&stSpec, 0, sizeof(stSpec));
    if (L2VPN_GetL2VFIBSpec(&stSpec) == 0) {
        g_uiMaxPwNumPerVsi = stSpec.uiMaxPwPerVsi;
        g_bIsVsiShare = stSpec.usVsiShare;
        g_uiMaxPwNum = stSpec.uiMaxPwNum;
    } else {
        uiFailed = 1;
    }
    return uiFailed != 0 ? PBB_ERR : PBB_OK;
}

void PBB_l2vpn_Exit()
{
    g_bIsVsiShare = 0;
    g_uiMaxPwNumPerVsi = 0;
    g_uiMaxPwNum = 0;
    PBB_reopen_Stop(&g_stPbbAgeReopen);
    _pbb_l2vpn_AgeExit();
    _pbb_l2vpn_EventExit();
}

// ---------------------------------------------------------------------------
// The event channel and its reconnect timer
// ---------------------------------------------------------------------------

uint32_t _pbb_l2vpn_CreateTimer()
{
    uint32_t uiTimer = PBB_tmr_CreatePeriodTimer(1, _pbb_l2vpn_ConnectTimerExpiry, nullptr);
    if (uiTimer == PBB_TMR_INVALID) return PBB_ERR;
    g_ulL2vpnTimerFd = uiTimer;
    return PBB_OK;
}

void _pbb_l2vpn_ConnectTimerExpiry(void* /*pArg*/)
{
    int iFd = _pbb_l2vpn_Register();
    if (iFd == -1) return;
    if (_pbb_l2vpn_Attach(iFd) != PBB_OK) return;
    PBB_tmr_DeletePeriodTimer(&g_ulL2vpnTimerFd);
}

uint32_t _pbb_l2vpn_EpollCallBack(uint32_t uiEvents, int iFd)
{
    if ((uiEvents & PBB_EV_IN) != 0) (void)L2VPN_HandleMsg(iFd);
    if ((uiEvents & PBB_EV_ERR_HUP) != 0) {
        _pbb_l2vpn_EventExit();
        (void)_pbb_l2vpn_CreateTimer();
    }
    return 0;
}

void _pbb_l2vpn_EventExit()
{
    if (g_ulL2vpnTimerFd != PBB_TMR_INVALID) PBB_tmr_DeletePeriodTimer(&g_ulL2vpnTimerFd);
    if (g_iL2vpnEvtFd >= 0) {
        (void)PBB_elipc_Del(g_iPbbEpollFd, g_iL2vpnEvtFd);
        (void)L2VPN_Deregister(g_iL2vpnEvtFd);
        g_iL2vpnEvtFd = PBB_INVALID_FD;
    }
}

// ---------------------------------------------------------------------------
// VSI events
// ---------------------------------------------------------------------------

namespace {

constexpr uint32_t PBB_L2VPN_DETAIL_LEN = 4096;

uint16_t _pbb_l2vpn_ShutdownBit(const PbbL2vpnVsiInfo* pstInfo)
{
    return (pstInfo->uiFlags & PBB_L2VPN_VSI_SHUTDOWN) != 0 ? 1 : 0;
}

const char* _pbb_l2vpn_EventName(uint32_t uiEventType, const PbbL2vpnVsiInfo* pstInfo)
{
    switch (uiEventType) {
    case PBB_L2VPN_EVT_VSI_ADD: return "vsi_add";
    case PBB_L2VPN_EVT_VSI_DEL: return "vsi_del";
    case PBB_L2VPN_EVT_VSI_MODIFY_ISID: return "vsi_modify_pbb_i-sid";
    case PBB_L2VPN_EVT_VSI_STATE: return _pbb_l2vpn_ShutdownBit(pstInfo) == 1 ? "vsi_down" : "vsi_up";
    case PBB_L2VPN_EVT_DISABLE: return "l2vpn_disable";
    case PBB_L2VPN_EVT_BATCH_BEGIN: return "l2vpn_batch_begin";
    case PBB_L2VPN_EVT_BATCH_END: return "l2vpn_batch_end";
    default: return "";
    }
}

bool _pbb_l2vpn_IsVsiEvent(uint32_t uiEventType)
{
    return uiEventType == PBB_L2VPN_EVT_VSI_ADD || uiEventType == PBB_L2VPN_EVT_VSI_DEL ||
           uiEventType == PBB_L2VPN_EVT_VSI_MODIFY_ISID || uiEventType == PBB_L2VPN_EVT_VSI_STATE;
}

// The event's name, bounded to its 32-byte field.
void _pbb_l2vpn_EventVsiName(const PbbL2vpnVsiInfo* pstInfo, char (&szName)[PBB_VSI_NAME_LEN])
{
    memcpy(szName, pstInfo->szVsiName, PBB_VSI_NAME_LEN - 1);
    szName[PBB_VSI_NAME_LEN - 1] = '\0';
}

// Takes the VSI's running-VSI node off every interface control block.
void _pbb_l2vpn_DetachFromAllIfCb(uint32_t uiVsiIndex)
{
    PbbIfCb* pstIfCb = PBB_ifcb_GetFirst();
    while (pstIfCb != nullptr) {
        PbbIfCb* pstNext = PBB_ifcb_GetNext(pstIfCb->uiIfIndex);
        PBB_ifcb_DeleteRunVsiNode(pstIfCb->uiIfIndex, uiVsiIndex);
        pstIfCb = pstNext;
    }
}

// Takes the VSI's running-VSI node off the control blocks of its uplinks.
void _pbb_l2vpn_DetachFromUplinks(const PbbVsi* pstVsi)
{
    const PbbUplink* pstHead = &pstVsi->stUplinkList;
    for (const PbbUplink* pstUplink = pstHead->pstNext; pstUplink != pstHead; pstUplink = pstUplink->pstNext)
        PBB_ifcb_DeleteRunVsiNode(pstUplink->uiIfIndex, pstVsi->uiVsiIndex);
}

// Back to the default encapsulation in the driver and in the VSI.
void _pbb_l2vpn_DefaultEncap(PbbVsi* pstVsi)
{
    if (pstVsi->uiEncapType == PBB_ENCAP_DEFAULT) return;
    (void)PBB_l2vpn_SetEncapType(pstVsi->uiVsiIndex, PBB_ENCAP_DEFAULT);
    pstVsi->uiEncapType = PBB_ENCAP_DEFAULT;
}

void _pbb_l2vpn_VsiAdd(const PbbL2vpnVsiInfo* pstInfo)
{
    if (pstInfo->uiISid == 0) return;  // a VSI without PBB is not tracked
    const uint32_t uiIndex = pstInfo->uiVsiIndex;
    char szName[PBB_VSI_NAME_LEN];
    _pbb_l2vpn_EventVsiName(pstInfo, szName);
    const uint16_t usShutdown = _pbb_l2vpn_ShutdownBit(pstInfo);

    PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(uiIndex);
    if (pstVsi == nullptr) {
        _pbb_l2vpn_ProcNewVsi(uiIndex, szName, pstInfo->uiISid, usShutdown);
        return;
    }
    if (pstVsi->uiISid != pstInfo->uiISid || strncmp(pstVsi->szVsiName, szName, PBB_VSI_NAME_LEN) != 0) {
        // Another VSI under a known index: the stored record goes; learned
        // entries, the multicast entry and saved records stay.
        _pbb_l2vpn_DetachFromAllIfCb(uiIndex);
        PBB_vsi_SetISid(uiIndex, 0);
        PBB_vsi_DeleteVsi(uiIndex);
        return;
    }
    pstVsi->usShutdownFlag = usShutdown;
    if (pstVsi->uiEncapType != PBB_ENCAP_DEFAULT) (void)PBB_l2vpn_SetEncapType(uiIndex, pstVsi->uiEncapType);
    if (usShutdown == 0) PBB_ctl_ActiveVsi(uiIndex);
    pstVsi->usStaleFlag = 0;
}

void _pbb_l2vpn_VsiModifyISid(const PbbL2vpnVsiInfo* pstInfo)
{
    const uint32_t uiIndex = pstInfo->uiVsiIndex;
    const uint32_t uiNewISid = pstInfo->uiISid;
    PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(uiIndex);

    if (uiNewISid == 0) {
        if (pstVsi == nullptr) return;
        _pbb_l2vpn_DefaultEncap(pstVsi);
        PBB_ctl_DeactiveVsi(uiIndex);
        _pbb_l2vpn_DetachFromUplinks(pstVsi);
        PBB_vsi_SetISid(uiIndex, 0);
        (void)PBB_dbmsave_DeleteVsiCfg(pstVsi->szVsiName);
        PBB_vsi_DeleteVsi(uiIndex);
        return;
    }
    if (pstVsi == nullptr) {
        char szName[PBB_VSI_NAME_LEN];
        _pbb_l2vpn_EventVsiName(pstInfo, szName);
        _pbb_l2vpn_ProcNewVsi(uiIndex, szName, uiNewISid, _pbb_l2vpn_ShutdownBit(pstInfo));
        return;
    }
    if (pstVsi->uiISid == uiNewISid) {
        pstVsi->usStaleFlag = 0;
        return;
    }
    // A new I-SID: the VSI keeps its uplinks and returns to its defaults.
    _pbb_l2vpn_DefaultEncap(pstVsi);
    PBB_ctl_DeactiveVsi(uiIndex);
    PBB_vsi_SetISid(uiIndex, uiNewISid);
    pstVsi->usBVlan = PBB_BVLAN_NONE;
    (void)PBB_dbmsave_DeleteVsiCfg(pstVsi->szVsiName);
}

void _pbb_l2vpn_VsiState(const PbbL2vpnVsiInfo* pstInfo)
{
    PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(pstInfo->uiVsiIndex);
    if (pstVsi == nullptr) return;
    if (_pbb_l2vpn_ShutdownBit(pstInfo) == 1) {
        if (pstVsi->usShutdownFlag == 1) return;
        pstVsi->usShutdownFlag = 1;
        PBB_ctl_DeactiveVsi(pstInfo->uiVsiIndex);
    } else {
        if (pstVsi->usShutdownFlag != 1) return;
        pstVsi->usShutdownFlag = 0;
        PBB_ctl_ActiveVsi(pstInfo->uiVsiIndex);
    }
}

void _pbb_l2vpn_Disable()
{
    PbbVsi* pstVsi = PBB_vsi_GetFirstVsi();
    while (pstVsi != nullptr) {
        const uint32_t uiIndex = pstVsi->uiVsiIndex;
        _pbb_l2vpn_DeleteVsi(uiIndex);
        pstVsi = PBB_vsi_GetNextVsi(uiIndex);
    }
    (void)L2VPN_FinalStatusNotify(g_iL2vpnEvtFd, PBB_L2VPN_EVT_DISABLE, nullptr);
}

void _pbb_l2vpn_BatchBegin()
{
    for (PbbVsi* pstVsi = PBB_vsi_GetFirstVsi(); pstVsi != nullptr; pstVsi = PBB_vsi_GetNextVsi(pstVsi->uiVsiIndex))
        pstVsi->usStaleFlag = 1;
}

// A VSI the batch did not report: it goes with its learned entries and its
// saved configuration. Its multicast entry stays in the table.
void _pbb_l2vpn_RemoveStaleVsi(PbbVsi* pstVsi)
{
    const uint32_t uiIndex = pstVsi->uiVsiIndex;
    _pbb_l2vpn_DetachFromUplinks(pstVsi);
    (void)PBB_dbmsave_DeleteUcPwByVsi(uiIndex);
    PBB_ucpw_DeleteByVsi(uiIndex);
    (void)PBB_dbmsave_DeleteVsiCfg(pstVsi->szVsiName);
    PBB_vsi_SetISid(uiIndex, 0);
    PBB_vsi_DeleteVsi(uiIndex);
}

// A VSI the batch reported: its learned entries on uplinks that carry its
// multicast entry are programmed again inside the refresh window; the
// others go, and so do all of them when it has no multicast entry.
void _pbb_l2vpn_ReprogramVsi(const PbbVsi* pstVsi)
{
    const uint32_t uiIndex = pstVsi->uiVsiIndex;
    const PbbMcPw* pstMcPw = PBB_mcpw_Get(uiIndex);
    if (pstMcPw == nullptr) {
        (void)PBB_dbmsave_DeleteUcPwByVsi(uiIndex);
        PBB_ucpw_DeleteByVsi(uiIndex);
        return;
    }
    const PbbUplink* pstHead = &pstVsi->stUplinkList;
    for (const PbbUplink* pstUplink = pstHead->pstNext; pstUplink != pstHead; pstUplink = pstUplink->pstNext) {
        if (PBB_mcpw_IsPortExist(pstMcPw, pstUplink->uiIfIndex) == 1) continue;
        (void)PBB_dbmsave_DeleteUcPwByIfVsi(pstUplink->uiIfIndex, uiIndex);
        PBB_ucpw_DeleteByIfVsi(pstUplink->uiIfIndex, uiIndex);
    }

    static constexpr uint8_t s_aucNoCMac[6] = {0, 0, 0, 0, 0, 0};
    PbbUcPwFilter stFilter{};
    stFilter.uiVsiIndex = uiIndex;
    PbbUcPw* pstEntry = PBB_ucpw_GetFirst(PBB_UCPW_GET_BY_VSI, &stFilter);
    while (pstEntry != nullptr) {
        PbbUcPw* pstNext = PBB_ucpw_GetNext(PBB_UCPW_GET_BY_VSI, pstEntry);
        if (PBB_l2vpn_AddUcPw(pstEntry->uiVsiIndex, pstEntry->uiISid, pstEntry->usBVlan, pstEntry->uiIfIndex,
                              pstEntry->aucBMac, s_aucNoCMac) != 0) {
            (void)PBB_dbmsave_DeleteUcPw(pstEntry);
            PBB_ucpw_Delete(pstEntry);
        }
        pstEntry = pstNext;
    }
}

void _pbb_l2vpn_BatchEnd()
{
    PbbVsi* pstVsi = PBB_vsi_GetFirstVsi();
    while (pstVsi != nullptr) {
        const uint32_t uiIndex = pstVsi->uiVsiIndex;
        if (pstVsi->usStaleFlag == 1)
            _pbb_l2vpn_RemoveStaleVsi(pstVsi);
        else
            _pbb_l2vpn_ReprogramVsi(pstVsi);
        pstVsi = PBB_vsi_GetNextVsi(uiIndex);
    }

    PbbIfCb* pstIfCb = PBB_ifcb_GetFirst();
    while (pstIfCb != nullptr) {
        PbbIfCb* pstNext = PBB_ifcb_GetNext(pstIfCb->uiIfIndex);
        (void)PBB_l2vpn_SetIfPBB(pstIfCb->uiIfIndex);
        pstIfCb = pstNext;
    }
    (void)L2VPN_SendGrEvent(g_iL2vpnEvtFd, PBB_L2VPN_CLIENT, PBB_L2VPN_GR_END);
}

}  // namespace

uint32_t _pbb_l2vpn_ProcEvent(uint32_t uiEventType, const PbbL2vpnVsiInfo* pstVsiInfo)
{
    if (_pbb_l2vpn_IsVsiEvent(uiEventType)) {
        if (pstVsiInfo == nullptr) return 0;
        // Indexes 0x80000000 to 0xFFFFFFFE name no VSI.
        if (static_cast<int32_t>(pstVsiInfo->uiVsiIndex) < -1) {
            if (uiEventType == PBB_L2VPN_EVT_VSI_DEL)
                (void)L2VPN_FinalStatusNotify(g_iL2vpnEvtFd, PBB_L2VPN_EVT_VSI_DEL, pstVsiInfo);
            return 0;
        }
    }
    _pbb_l2vpn_PrintDebug(uiEventType, pstVsiInfo);

    switch (uiEventType) {
    case PBB_L2VPN_EVT_VSI_ADD: _pbb_l2vpn_VsiAdd(pstVsiInfo); break;
    case PBB_L2VPN_EVT_VSI_DEL:
        _pbb_l2vpn_DeleteVsi(pstVsiInfo->uiVsiIndex);
        (void)L2VPN_FinalStatusNotify(g_iL2vpnEvtFd, PBB_L2VPN_EVT_VSI_DEL, pstVsiInfo);
        break;
    case PBB_L2VPN_EVT_VSI_MODIFY_ISID: _pbb_l2vpn_VsiModifyISid(pstVsiInfo); break;
    case PBB_L2VPN_EVT_VSI_STATE: _pbb_l2vpn_VsiState(pstVsiInfo); break;
    case PBB_L2VPN_EVT_DISABLE: _pbb_l2vpn_Disable(); break;
    case PBB_L2VPN_EVT_BATCH_BEGIN: _pbb_l2vpn_BatchBegin(); break;
    case PBB_L2VPN_EVT_BATCH_END: _pbb_l2vpn_BatchEnd(); break;
    default: break;
    }
    return 0;
}

void _pbb_l2vpn_ProcNewVsi(uint32_t uiVsiIndex, const char* szVsiName, uint32_t uiISid, uint16_t usShutdown)
{
    PbbVsi* pstVsi = PBB_vsi_CreateVsi(uiVsiIndex);
    if (pstVsi == nullptr) return;
    pstVsi->usShutdownFlag = usShutdown;
    PBB_vsi_SetISid(uiVsiIndex, uiISid);
    (void)strlcpy(pstVsi->szVsiName, szVsiName, sizeof(pstVsi->szVsiName));

    PbbIfCb* pstIfCb = PBB_ifcb_GetFirst();
    while (pstIfCb != nullptr) {
        PbbIfCb* pstNext = PBB_ifcb_GetNext(pstIfCb->uiIfIndex);
        if (pstIfCb->usUplinkAll == 1 || PBB_ifcb_IsCfgVsiExist(pstIfCb->uiIfIndex, pstVsi->szVsiName) == 1) {
            (void)PBB_ifcb_AddRunVsiNode(pstIfCb->uiIfIndex, uiVsiIndex);
            (void)PBB_vsi_AddUplink(uiVsiIndex, pstIfCb->uiIfIndex);
        }
        pstIfCb = pstNext;
    }
}

void _pbb_l2vpn_DeleteVsi(uint32_t uiVsiIndex)
{
    // The same removal as a VSI that the management service finds renumbered:
    // learned entries from database and table, the multicast entry from the
    // table, the uplinks' running nodes, the saved configuration, the VSI.
    // Nothing is withdrawn from the driver: the L2VPN module clears the
    // forwarding state of a VSI it deletes.
    _pbb_ctl_DeleteVsi(uiVsiIndex);
}

void _pbb_l2vpn_PrintDebug(uint32_t uiEventType, const PbbL2vpnVsiInfo* pstVsiInfo)
{
    if (PBB_log_IsDebugSwitchOn(PBB_DBG_EVENT) != 1) return;
    char szDetail[PBB_L2VPN_DETAIL_LEN];
    szDetail[0] = '\0';
    if (pstVsiInfo != nullptr && _pbb_l2vpn_IsVsiEvent(uiEventType)) {
        char szName[PBB_VSI_NAME_LEN];
        _pbb_l2vpn_EventVsiName(pstVsiInfo, szName);
        const unsigned uiIndex = pstVsiInfo->uiVsiIndex;
        switch (uiEventType) {
        case PBB_L2VPN_EVT_VSI_ADD:
            (void)scnprintf(szDetail, sizeof(szDetail), ": VsiIndex %u, VsiName %s, PBB I-SID %u, ShutdownFlag %u",
                            uiIndex, szName, static_cast<unsigned>(pstVsiInfo->uiISid),
                            static_cast<unsigned>(_pbb_l2vpn_ShutdownBit(pstVsiInfo)));
            break;
        case PBB_L2VPN_EVT_VSI_MODIFY_ISID:
            (void)scnprintf(szDetail, sizeof(szDetail), ": VsiIndex %u, VsiName %s, PBB I-SID %u", uiIndex, szName,
                            static_cast<unsigned>(pstVsiInfo->uiISid));
            break;
        default:
            (void)scnprintf(szDetail, sizeof(szDetail), ": VsiIndex %u, VsiName %s", uiIndex, szName);
            break;
        }
    }
    PBB_log_Print("EVENT", "Receive %s event%s.\r\n", _pbb_l2vpn_EventName(uiEventType, pstVsiInfo), szDetail);
}

// ---------------------------------------------------------------------------
// Ageing and hardware-resource reports
// ---------------------------------------------------------------------------

uint32_t _pbb_l2vpn_AgeInit()
{
    if (g_iAgeFd != PBB_INVALID_FD) return PBB_OK;
    int iFd = LIPC_Socket(SOCK_STREAM, LIPC_PROTO_REPORT);
    if (iFd < 0) return PBB_ERR;

    PbbAgeSockAddr stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.ucLen = sizeof(stAddr);
    stAddr.ucFamily = PLAT_AF_LIPC;
    stAddr.usPort = htons(PBB_AGE_PORT);
    stAddr.aucNode[0] = 0x80;
    if (LIPC_Bind(iFd, &stAddr, sizeof(stAddr)) != 0 ||
        PBB_elipc_Add(g_iPbbEpollFd, iFd, _pbb_l2vpn_ProcAgeMsg) != 0) {
        close(iFd);
        return PBB_ERR;
    }
    g_iAgeFd = iFd;
    PBB_reopen_TellOpen(&g_stPbbAgeReopen);
    return PBB_OK;
}

void _pbb_l2vpn_AgeExit()
{
    if (g_iAgeFd < 0) return;
    (void)PBB_elipc_Del(g_iPbbEpollFd, g_iAgeFd);
    close(g_iAgeFd);
    g_iAgeFd = PBB_INVALID_FD;
}

namespace {

constexpr uint32_t PBB_AGE_DBG_BUF = PBB_LOG_LIST_BUF;

// A debug table gathered in one buffer and printed in pieces of at least
// 800 characters, the rest as the last piece.
struct PbbAgeDbgTable {
    char szBuf[PBB_AGE_DBG_BUF];
    uint32_t uiLen;
    uint16_t usFirst;
};

void _pbb_l2vpn_DbgEmpty(PbbAgeDbgTable* pstTable)
{
    pstTable->szBuf[0] = '\0';
    pstTable->uiLen = 0;
}

void _pbb_l2vpn_DbgBegin(PbbAgeDbgTable* pstTable)
{
    _pbb_l2vpn_DbgEmpty(pstTable);
    pstTable->usFirst = 1;
}

void _pbb_l2vpn_DbgRow(PbbAgeDbgTable* pstTable, const char* szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    pstTable->uiLen += static_cast<uint32_t>(
        vscnprintf(pstTable->szBuf + pstTable->uiLen, sizeof(pstTable->szBuf) - pstTable->uiLen, szFormat, args));
    va_end(args);
    if (pstTable->uiLen >= PBB_LOG_PIECE) {
        PBB_log_LoopPrint("EVENT", pstTable->szBuf, &pstTable->usFirst);
        _pbb_l2vpn_DbgEmpty(pstTable);
    }
}

void _pbb_l2vpn_DbgEnd(PbbAgeDbgTable* pstTable)
{
    if (pstTable->uiLen > 0) PBB_log_LoopPrint("EVENT", pstTable->szBuf, &pstTable->usFirst);
}

const char* _pbb_l2vpn_AgeTypeName(uint32_t uiAgeType)
{
    if (uiAgeType == PBB_AGE_TYPE_AGED) return "aged";
    if (uiAgeType == PBB_AGE_TYPE_CANCELLED) return "cancelled_aged";
    return "unknown";
}

// One slot gives up an entry (aged, or never installed for lack of
// resources) or takes it back (cancelled ageing); the entry is withdrawn
// everywhere when no slot holds it any more.
void _pbb_l2vpn_SlotReport(uint16_t usGone, uint16_t usSlot, uint32_t uiVsiIndex, uint16_t usBVlan,
                           const uint8_t* pucBMac)
{
    PbbUcPw* pstEntry = PBB_ucpw_Get(uiVsiIndex, usBVlan, pucBMac);
    if (pstEntry == nullptr) return;
    PBB_ucpw_SetAgeStatus(usGone, usSlot, pstEntry);
    if (usGone == 1 && Bitmap_IsEmpty(pstEntry->pstAgeStatus) == 1) PBB_ctl_ResetUcPw(uiVsiIndex, usBVlan, pucBMac);
}

// The entries of a report that the received value holds: the count in the
// report, cut to what arrived.
uint32_t _pbb_l2vpn_EntriesHeld(uint32_t uiPwNum, uint32_t uiValueLen, uint32_t uiHeadLen, uint32_t uiEntryLen)
{
    if (uiValueLen < uiHeadLen) return 0;
    return std::min(uiPwNum, (uiValueLen - uiHeadLen) / uiEntryLen);
}

void _pbb_l2vpn_ProcAgingTlv(const uint8_t* pucValue, uint16_t usLen)
{
    if (usLen < sizeof(PbbAgeMsg)) return;
    PbbAgeMsg stMsg;
    memcpy(&stMsg, pucValue, sizeof(stMsg));
    const uint32_t uiEntries = _pbb_l2vpn_EntriesHeld(stMsg.uiPwNum, usLen, sizeof(PbbAgeMsg), sizeof(PbbAgeEntry));
    _pbb_l2vpn_PrintDbgAgedMsg(reinterpret_cast<const PbbAgeMsg*>(pucValue), uiEntries);
    const uint16_t usGone = stMsg.uiAgeType == PBB_AGE_TYPE_AGED ? 1 : 0;
    for (uint32_t i = 0; i < uiEntries; ++i) {
        PbbAgeEntry stEntry;
        memcpy(&stEntry, pucValue + sizeof(PbbAgeMsg) + i * sizeof(PbbAgeEntry), sizeof(stEntry));
        _pbb_l2vpn_SlotReport(usGone, stMsg.usSlotId, stMsg.uiVsiIndex, stEntry.usBVlan, stEntry.aucBMac);
    }
}

void _pbb_l2vpn_ProcNoHardResTlv(const uint8_t* pucValue, uint16_t usLen)
{
    if (usLen < sizeof(PbbNoHardResMsg)) return;
    PbbNoHardResMsg stMsg;
    memcpy(&stMsg, pucValue, sizeof(stMsg));
    const uint32_t uiEntries =
        _pbb_l2vpn_EntriesHeld(stMsg.uiPwNum, usLen, sizeof(PbbNoHardResMsg), sizeof(PbbNoHardResEntry));
    _pbb_l2vpn_PrintDbgNoHardResMsg(reinterpret_cast<const PbbNoHardResMsg*>(pucValue), uiEntries);
    for (uint32_t i = 0; i < uiEntries; ++i) {
        PbbNoHardResEntry stEntry;
        memcpy(&stEntry, pucValue + sizeof(PbbNoHardResMsg) + i * sizeof(PbbNoHardResEntry), sizeof(stEntry));
        _pbb_l2vpn_SlotReport(1, stEntry.usSlotId, stEntry.uiVsiIndex, stEntry.usBVlan, stEntry.aucBMac);
    }
}

void _pbb_l2vpn_ProcAgeTlvs(const uint8_t* pucBuf, uint16_t usTotal)
{
    uint16_t usConsumed = 0;
    for (;;) {
        uint16_t usType = 0;
        uint16_t usLen = 0;
        void* pValue = nullptr;
        if (STLV_Get(pucBuf + usConsumed, static_cast<uint16_t>(usTotal - usConsumed), &usType, &usLen, &pValue) != 0 ||
            pValue == nullptr)
            return;
        const uint8_t* pucValue = static_cast<const uint8_t*>(pValue);
        if (usType == PBB_AGE_TLV_AGING)
            _pbb_l2vpn_ProcAgingTlv(pucValue, usLen);
        else if (usType == PBB_AGE_TLV_NO_HARD_RES)
            _pbb_l2vpn_ProcNoHardResTlv(pucValue, usLen);
        usConsumed = static_cast<uint16_t>(pucValue + usLen - pucBuf);
    }
}

// Opened again at once, or every second until it opens.
void _pbb_l2vpn_AgeReopen()
{
    _pbb_l2vpn_AgeExit();
    (void)PBB_reopen_AfterClose(&g_stPbbAgeReopen);
}

}  // namespace

uint32_t _pbb_l2vpn_ProcAgeMsg(uint32_t uiEvents, int iFd)
{
    if ((uiEvents & PBB_EV_IN) != 0) {
        // Aligned for the records read out of it; every record is copied
        // out before use all the same.
        alignas(8) uint8_t aucBuf[PBB_AGE_BUF_LEN];
        ssize_t lRead = recv(iFd, aucBuf, sizeof(aucBuf), 0);
        if (lRead > 0)
            _pbb_l2vpn_ProcAgeTlvs(aucBuf, static_cast<uint16_t>(lRead));
        else if (lRead < 0 && errno != EINTR)
            _pbb_l2vpn_AgeReopen();
    }
    if ((uiEvents & PBB_EV_ERR_HUP) != 0) _pbb_l2vpn_AgeReopen();
    return 0;
}

void _pbb_l2vpn_PrintDbgAgedMsg(const PbbAgeMsg* pstMsg, uint32_t uiEntries)
{
    if (PBB_log_IsDebugSwitchOn(PBB_DBG_EVENT) != 1) return;
    PbbAgeMsg stMsg;
    memcpy(&stMsg, pstMsg, sizeof(stMsg));
    PbbAgeDbgTable stTable;
    _pbb_l2vpn_DbgBegin(&stTable);
    _pbb_l2vpn_DbgRow(&stTable,
                      "Receive %s event from slot %u with VsiIndex %u, I-SID %u, Unicast Pseudo Wire number %u.\r\n",
                      _pbb_l2vpn_AgeTypeName(stMsg.uiAgeType), static_cast<unsigned>(stMsg.usSlotId),
                      static_cast<unsigned>(stMsg.uiVsiIndex), static_cast<unsigned>(stMsg.uiISid),
                      static_cast<unsigned>(stMsg.uiPwNum));
    _pbb_l2vpn_DbgRow(&stTable, "%-6s%-16s%-7s\r\n", "No.", "B-MAC", "B-VLAN");
    const uint8_t* pucEntries = reinterpret_cast<const uint8_t*>(pstMsg) + sizeof(PbbAgeMsg);
    for (uint32_t i = 0; i < uiEntries; ++i) {
        PbbAgeEntry stEntry;
        memcpy(&stEntry, pucEntries + i * sizeof(PbbAgeEntry), sizeof(stEntry));
        _pbb_l2vpn_DbgRow(&stTable, "%-6u%-16M%-7u\r\n", static_cast<unsigned>(i), stEntry.aucBMac,
                          static_cast<unsigned>(stEntry.usBVlan));
    }
    _pbb_l2vpn_DbgEnd(&stTable);
}

void _pbb_l2vpn_PrintDbgNoHardResMsg(const PbbNoHardResMsg* pstMsg, uint32_t uiEntries)
{
    if (PBB_log_IsDebugSwitchOn(PBB_DBG_EVENT) != 1) return;
    PbbNoHardResMsg stMsg;
    memcpy(&stMsg, pstMsg, sizeof(stMsg));
    PbbAgeDbgTable stTable;
    _pbb_l2vpn_DbgBegin(&stTable);
    _pbb_l2vpn_DbgRow(&stTable, "Receive %s event with Unicast Pseudo Wire number %u.\r\n", "NoHardResource",
                      static_cast<unsigned>(stMsg.uiPwNum));
    _pbb_l2vpn_DbgRow(&stTable, "%-6s%-10s%-10s%-10s%-16s%-7s\r\n", "No.", "SlotId", "VSIIndex", "I-SID", "B-MAC",
                      "B-VLAN");
    const uint8_t* pucEntries = reinterpret_cast<const uint8_t*>(pstMsg) + sizeof(PbbNoHardResMsg);
    for (uint32_t i = 0; i < uiEntries; ++i) {
        PbbNoHardResEntry stEntry;
        memcpy(&stEntry, pucEntries + i * sizeof(PbbNoHardResEntry), sizeof(stEntry));
        _pbb_l2vpn_DbgRow(&stTable, "%-6u%-10u%-10u%-10u%-16M%-7u\r\n", static_cast<unsigned>(i),
                          static_cast<unsigned>(stEntry.usSlotId), static_cast<unsigned>(stEntry.uiVsiIndex),
                          static_cast<unsigned>(stEntry.uiISid), stEntry.aucBMac,
                          static_cast<unsigned>(stEntry.usBVlan));
    }
    _pbb_l2vpn_DbgEnd(&stTable);
}
