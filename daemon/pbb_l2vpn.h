// The L2VPN adapter: programming of the forwarding driver (entries, PBB
// port mode, encapsulation type, capabilities) over the L2VPN channel.
#pragma once

#include "platform/l2vpn.h"

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

extern int g_iL2vpnEvtFd;
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
