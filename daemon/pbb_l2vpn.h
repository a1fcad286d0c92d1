// The L2VPN adapter: programming of the forwarding driver (entries, PBB
// port mode, encapsulation type, capabilities) over the L2VPN channel, the
// L2VPN module's VSI events with the refresh batch that follows every
// registration, and the line cards' ageing and hardware-resource reports.
#pragma once

#include "platform/l2vpn.h"
#include "platform/l2vpn_age.h"
#include "platform/lipc.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t PBB_L2VPN_CLIENT = 5;
constexpr uint32_t PBB_MINM_ADD_UCPW = 0;
constexpr uint32_t PBB_MINM_DEL_UCPW = 1;
constexpr uint32_t PBB_MINM_ADD_MCPW = 2;
constexpr uint32_t PBB_MINM_DEL_MCPW = 3;
constexpr uint32_t PBB_MINM_ADD_MCPW_PORT = 4;
constexpr uint32_t PBB_MINM_DEL_MCPW_PORT = 5;
constexpr uint32_t PBB_L2VPN_IF_PBB_ENABLE = 2;
constexpr uint32_t PBB_L2VPN_IF_PBB_DISABLE = 3;
constexpr uint32_t PBB_L2VPN_VSI_ATTR_ENCAP = 1;
constexpr uint32_t PBB_L2VPN_GR_BEGIN = 1;
constexpr uint32_t PBB_L2VPN_GR_END = 2;
constexpr uint32_t PBB_MINM_FLAGS_UC = 0x14;
constexpr uint32_t PBB_MINM_FLAGS_MC = 0x24;
constexpr uint32_t PBB_MINM_PORTS_PER_CALL = 256;

// The forwarding entry record handed to the L2VPN library. The port list
// pointer takes the host's pointer width; the fields after it follow.
struct PbbMinMEntry {
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint8_t aucBMac[6];
    uint16_t usZero;
    uint32_t uiAllOnes;
    uint16_t usAllOnes;
    uint8_t aucCMac[6];
    uint32_t uiEntryFlags;
    uint32_t uiBVlan;
    uint32_t uiPortNum;
    uint32_t* puiPortList;
    uint32_t uiZero;
};
static_assert(offsetof(PbbMinMEntry, aucBMac) == 8);
static_assert(offsetof(PbbMinMEntry, uiAllOnes) == 16);
static_assert(offsetof(PbbMinMEntry, usAllOnes) == 20);
static_assert(offsetof(PbbMinMEntry, aucCMac) == 22);
static_assert(offsetof(PbbMinMEntry, uiEntryFlags) == 28);
static_assert(offsetof(PbbMinMEntry, uiBVlan) == 32);
static_assert(offsetof(PbbMinMEntry, uiPortNum) == 36);
static_assert(offsetof(PbbMinMEntry, puiPortList) == 40);
static_assert(sizeof(PbbMinMEntry) == sizeof(L2VPN_MINM_ENTRY_S), "the library takes the record by address");
static_assert(offsetof(PbbMinMEntry, uiZero) == offsetof(L2VPN_MINM_ENTRY_S, uiZero));

// The L2VPN module's record of a VSI (events, L2VPN_GetVsiInfoByName).
using PbbL2vpnVsiInfo = L2VPN_VSI_INFO_S;

// VSI event types: the L2VPN library's.
constexpr uint32_t PBB_L2VPN_EVT_VSI_ADD = L2VPN_EVT_VSI_ADD;
constexpr uint32_t PBB_L2VPN_EVT_VSI_DEL = L2VPN_EVT_VSI_DEL;
constexpr uint32_t PBB_L2VPN_EVT_VSI_MODIFY_ISID = L2VPN_EVT_VSI_MODIFY_ISID;
constexpr uint32_t PBB_L2VPN_EVT_VSI_STATE = L2VPN_EVT_VSI_STATE;
constexpr uint32_t PBB_L2VPN_EVT_DISABLE = L2VPN_EVT_DISABLE;
constexpr uint32_t PBB_L2VPN_EVT_BATCH_BEGIN = L2VPN_EVT_BATCH_BEGIN;
constexpr uint32_t PBB_L2VPN_EVT_BATCH_END = L2VPN_EVT_BATCH_END;
constexpr uint32_t PBB_L2VPN_VSI_SHUTDOWN = 0x8;  // uiFlags: administratively down
constexpr uint32_t PBB_L2VPN_REG_INSTANCE = 0;
constexpr uint32_t PBB_L2VPN_REG_EVENTS = 27;
constexpr uint32_t PBB_L2VPN_BATCH_ALL = 4;

// The forwarding capability record filled by L2VPN_GetL2VFIBSpec.
using PbbL2vfibSpec = L2VPN_L2VFIB_SPEC_S;
static_assert(sizeof(PbbL2vfibSpec) == 48);

// Ageing and hardware-resource reports: the report socket and its TLVs,
// with the records the line cards send (l2vpn_age.h).
constexpr uint16_t PBB_AGE_PORT = L2VPN_AGE_PORT;
constexpr uint32_t PBB_AGE_BUF_LEN = L2VPN_AGE_MSG_MAX;
constexpr uint16_t PBB_AGE_TLV_AGING = L2VPN_AGE_TLV_AGING;
constexpr uint16_t PBB_AGE_TLV_NO_HARD_RES = L2VPN_AGE_TLV_NO_HARD_RES;
constexpr uint32_t PBB_AGE_TYPE_AGED = L2VPN_AGE_TYPE_AGED;
constexpr uint32_t PBB_AGE_TYPE_CANCELLED = L2VPN_AGE_TYPE_CANCELLED;
static_assert(PBB_AGE_PORT == 1125 && PBB_AGE_BUF_LEN == 4096);

using PbbAgeSockAddr = LipcSockAddr;
using PbbAgeMsg = L2VPN_AGE_MSG_S;
using PbbAgeEntry = L2VPN_AGE_ENTRY_S;
using PbbNoHardResMsg = L2VPN_NO_HARD_RES_MSG_S;
using PbbNoHardResEntry = L2VPN_NO_HARD_RES_ENTRY_S;

extern int g_iL2vpnEvtFd;
extern uint32_t g_ulL2vpnTimerFd;
extern int g_iAgeFd;
// The ageing socket's state in the service manager's status file
// ("AGE_SOCKET=open", or "closed" while it cannot be opened again), and
// how it is opened again (its retry timer).
constexpr const char* PBB_AGE_STATE_NAME = "AGE_SOCKET";
struct PbbReopen;
extern PbbReopen g_stPbbAgeReopen;
extern uint16_t g_bIsVsiShare;
extern uint32_t g_uiMaxPwNum;
extern uint32_t g_uiMaxPwNumPerVsi;

uint32_t PBB_l2vpn_AddUcPw(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, uint32_t uiIfIndex,
                           const uint8_t* pucBMac, const uint8_t* pucCMac);
void PBB_l2vpn_DeleteUcPw(uint32_t uiVsiIndex, uint32_t uiISid, const uint8_t* pucBMac);
uint32_t PBB_l2vpn_AddMcPw(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, const uint32_t* puiIfIndexList,
                           uint32_t uiIfIndexNum);
void PBB_l2vpn_DeleteMcPw(uint32_t uiVsiIndex, uint32_t uiISid);
uint32_t PBB_l2vpn_AddMcPwPort(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, uint32_t uiIfIndex);
void PBB_l2vpn_DeleteMcPwPort(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, uint32_t uiIfIndex);
uint32_t PBB_l2vpn_SetEncapType(uint32_t uiVsiIndex, uint32_t uiEncapType);
uint32_t PBB_l2vpn_SetIfPBB(uint32_t uiIfIndex);
void PBB_l2vpn_ResetIfPBB(uint32_t uiIfIndex);
uint32_t PBB_l2vpn_IsSupportBySlot(uint16_t usSlot);
uint32_t PBB_l2vpn_IsSupportByIf(uint32_t uiIfIndex);
uint16_t PBB_l2vpn_IsShareVsi();
uint32_t PBB_l2vpn_GetMaxPwNum();
uint32_t PBB_l2vpn_GetMaxPwPerVsi();
uint32_t PBB_l2vpn_DeleteAllPw();

uint32_t PBB_l2vpn_Init();
void PBB_l2vpn_Exit();

// VSI events.
uint32_t _pbb_l2vpn_EpollCallBack(uint32_t uiEvents, int iFd);
uint32_t _pbb_l2vpn_ProcEvent(uint32_t uiEventType, const PbbL2vpnVsiInfo* pstVsiInfo);
void _pbb_l2vpn_ConnectTimerExpiry(void* pArg);
uint32_t _pbb_l2vpn_CreateTimer();
void _pbb_l2vpn_EventExit();
void _pbb_l2vpn_ProcNewVsi(uint32_t uiVsiIndex, const char* szVsiName, uint32_t uiISid, uint16_t usShutdown);
void _pbb_l2vpn_DeleteVsi(uint32_t uiVsiIndex);
void _pbb_l2vpn_PrintDebug(uint32_t uiEventType, const PbbL2vpnVsiInfo* pstVsiInfo);

// Ageing and hardware-resource reports.
uint32_t _pbb_l2vpn_AgeInit();
void _pbb_l2vpn_AgeExit();
uint32_t _pbb_l2vpn_ProcAgeMsg(uint32_t uiEvents, int iFd);
// The debug tables of one report; uiEntries is the number of entries the
// received value holds (at most the report's count).
void _pbb_l2vpn_PrintDbgAgedMsg(const PbbAgeMsg* pstMsg, uint32_t uiEntries);
void _pbb_l2vpn_PrintDbgNoHardResMsg(const PbbNoHardResMsg* pstMsg, uint32_t uiEntries);
