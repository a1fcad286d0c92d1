#include "daemon/pbb_l2vpn.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_mcpw.h"
#include "platform/ifm.h"
#include "platform/lagg.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

int g_iL2vpnEvtFd = PBB_INVALID_FD;
uint16_t g_bIsVsiShare = 0;
uint32_t g_uiMaxPwNum = 0;
uint32_t g_uiMaxPwNumPerVsi = 0;

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
