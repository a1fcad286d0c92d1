// L2VPN library: the L2VPN module's VSIs, its events and refresh windows,
// and the forwarding entries of its MAC-in-MAC clients.
//
// A client registers (L2VPN_Register) and gets a descriptor that is
// readable while events wait; L2VPN_HandleMsg delivers them to the client's
// callback on the caller's thread. Every other call that takes the
// descriptor is refused unless it is the current registration's.
//
// Forwarding entries (L2VPN_AddMinMEntry, L2VPN_DelMinMEntry) are checked
// and staged; L2VPN_FlushPwEntry commits what is staged to the hardware.
// Consecutive multicast adds of one VSI with no other call between them
// make one port set (a list sent in chunks); a multicast add after any
// other call replaces the entry's port set.
//
// Refresh window: L2VPN_SendGrEvent(phase 1) marks every entry, PBB port
// mode and encapsulation type the client has programmed; programming one
// again clears its mark; phase 2 removes whatever is still marked (a port
// leaves PBB mode, a VSI's encapsulation type returns to the default).
// Phase 1 while a window is open marks everything again; phase 2 without an
// open window does nothing.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t L2VPN_INSTANCE_DEFAULT = 0;  // first argument of L2VPN_Register
constexpr uint32_t L2VPN_CLIENT_MINM = 5;       // the MAC-in-MAC client

// Event types. A registration's event mask has bit n for VSI event type n
// (0 to 31); types 64 to 66 are always delivered.
constexpr uint32_t L2VPN_EVT_VSI_ADD = 0;
constexpr uint32_t L2VPN_EVT_VSI_DEL = 1;
constexpr uint32_t L2VPN_EVT_VSI_MODIFY_ISID = 3;
constexpr uint32_t L2VPN_EVT_VSI_STATE = 4;
constexpr uint32_t L2VPN_EVT_DISABLE = 64;
constexpr uint32_t L2VPN_EVT_BATCH_BEGIN = 65;
constexpr uint32_t L2VPN_EVT_BATCH_END = 66;

constexpr uint32_t L2VPN_VSI_FLAG_DOWN = 0x8;      // uiFlags: administratively down
constexpr uint32_t L2VPN_VSI_NAME_LEN = 32;
constexpr uint32_t L2VPN_BATCH_ALL_VSI = 4;        // L2VPN_RequestBatch: every VSI

// Operations of L2VPN_AddMinMEntry (0, 2, 4, 5) and L2VPN_DelMinMEntry (1, 3).
constexpr uint32_t L2VPN_MINM_ADD_UC = 0;
constexpr uint32_t L2VPN_MINM_DEL_UC = 1;
constexpr uint32_t L2VPN_MINM_ADD_MC = 2;
constexpr uint32_t L2VPN_MINM_DEL_MC = 3;
constexpr uint32_t L2VPN_MINM_ADD_MC_PORT = 4;
constexpr uint32_t L2VPN_MINM_DEL_MC_PORT = 5;
constexpr uint32_t L2VPN_MINM_MAX_PORTS = 256;     // ports of one multicast add

constexpr uint32_t L2VPN_IF_PBB_ENABLE = 2;
constexpr uint32_t L2VPN_IF_PBB_DISABLE = 3;
constexpr uint32_t L2VPN_VSI_ATTR_ENCAP = 1;       // value: uint32_t
constexpr uint32_t L2VPN_ENCAP_DEFAULT = 2;
constexpr uint32_t L2VPN_GR_BEGIN = 1;
constexpr uint32_t L2VPN_GR_END = 2;

// A VSI as the module reports it (events, L2VPN_GetVsiInfoByName).
struct L2VPN_VSI_INFO_S {
    uint32_t uiVsiIndex;
    uint32_t uiFlags;
    uint32_t auiReserved[3];
    uint32_t uiISid;                       // 0: no PBB I-SID
    char szVsiName[L2VPN_VSI_NAME_LEN];    // NUL-terminated
};
static_assert(offsetof(L2VPN_VSI_INFO_S, uiFlags) == 4);
static_assert(offsetof(L2VPN_VSI_INFO_S, uiISid) == 20);
static_assert(offsetof(L2VPN_VSI_INFO_S, szVsiName) == 24);
static_assert(sizeof(L2VPN_VSI_INFO_S) == 56);

// Forwarding capabilities.
struct L2VPN_L2VFIB_SPEC_S {
    uint32_t auiReserved0[4];
    uint32_t uiMaxPwPerVsi;     // unicast entries in one VSI
    uint32_t uiReserved1;
    uint16_t usVsiShare;        // 1: the VSIs share one MAC table
    uint16_t usReserved2;
    uint32_t uiMaxPwNum;        // unicast entries in all
    uint32_t auiReserved3[4];
};
static_assert(offsetof(L2VPN_L2VFIB_SPEC_S, uiMaxPwPerVsi) == 16);
static_assert(offsetof(L2VPN_L2VFIB_SPEC_S, usVsiShare) == 24);
static_assert(offsetof(L2VPN_L2VFIB_SPEC_S, uiMaxPwNum) == 28);
static_assert(sizeof(L2VPN_L2VFIB_SPEC_S) == 48);

// A MAC-in-MAC forwarding entry. Deletions read only the key, bytes 0 to
// 15; unicast entries are keyed by VSI index and B-MAC, multicast entries
// by VSI index. The all-ones fields and uiEntryFlags are carried as given.
// The port list is an array of ifIndex values; on a 64-bit host the pointer
// is 8 bytes and the last word and the size follow from it.
struct L2VPN_MINM_ENTRY_S {
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint8_t aucBMac[6];       // learned B-MAC, or the group address
    uint16_t usZero;
    uint32_t uiAllOnes;
    uint16_t usAllOnes;
    uint8_t aucCMac[6];       // customer MAC of a unicast entry
    uint32_t uiEntryFlags;
    uint32_t uiBVlan;
    uint32_t uiPortNum;
    uint32_t* puiPortList;
    uint32_t uiZero;
};
static_assert(offsetof(L2VPN_MINM_ENTRY_S, aucBMac) == 8);
static_assert(offsetof(L2VPN_MINM_ENTRY_S, uiAllOnes) == 16);
static_assert(offsetof(L2VPN_MINM_ENTRY_S, usAllOnes) == 20);
static_assert(offsetof(L2VPN_MINM_ENTRY_S, aucCMac) == 22);
static_assert(offsetof(L2VPN_MINM_ENTRY_S, uiEntryFlags) == 28);
static_assert(offsetof(L2VPN_MINM_ENTRY_S, uiBVlan) == 32);
static_assert(offsetof(L2VPN_MINM_ENTRY_S, uiPortNum) == 36);
static_assert(offsetof(L2VPN_MINM_ENTRY_S, puiPortList) == 40);
static_assert(offsetof(L2VPN_MINM_ENTRY_S, uiZero) == 40 + sizeof(void*));
static_assert(sizeof(void*) == 4 ? sizeof(L2VPN_MINM_ENTRY_S) == 48 : sizeof(L2VPN_MINM_ENTRY_S) == 56);

// pstVsiInfo is null for types 64 to 66. The record lives for the callback.
using L2VPN_EVENT_FN = uint32_t (*)(uint32_t uiEventType, const L2VPN_VSI_INFO_S* pstVsiInfo);

// VSI indexes run from 0 to *puiMaxVsiNum - 1; *puiUsedVsiNum is the number
// of VSIs that exist.
uint32_t L2VPN_GetMaxVsiNum(uint32_t* puiMaxVsiNum, uint32_t* puiUsedVsiNum);
uint32_t L2VPN_GetL2VFIBSpec(L2VPN_L2VFIB_SPEC_S* pstSpec);
uint32_t L2VPN_GetVsiInfoByName(const char* szVsiName, L2VPN_VSI_INFO_S* pstInfo);
// 1 when the slot's board handles MAC-in-MAC, else 0. The answer is the
// slot's configured board and holds while the board is removed.
uint32_t L2VPN_IsSupportMinM(uint16_t usSlot);

// A descriptor (0 or more), or -1 when the module cannot be reached, the
// arguments are refused or the client is already registered.
int L2VPN_Register(uint32_t uiInstance, uint32_t uiEventMask, uint32_t uiClient, L2VPN_EVENT_FN pfCallback);
uint32_t L2VPN_Deregister(int iFd);
uint32_t L2VPN_HandleMsg(int iFd);
uint32_t L2VPN_SendGrEvent(int iFd, uint32_t uiClient, uint32_t uiPhase);
// Queues the batch: type 65, one type 0 per VSI in ascending index order, 66.
uint32_t L2VPN_RequestBatch(int iFd, uint32_t uiSelector);
uint32_t L2VPN_FinalStatusNotify(int iFd, uint32_t uiEventType, const L2VPN_VSI_INFO_S* pstVsiInfo);

uint32_t L2VPN_AddMinMEntry(int iFd, uint32_t uiClient, uint32_t uiOp, const L2VPN_MINM_ENTRY_S* pstEntry);
uint32_t L2VPN_DelMinMEntry(int iFd, uint32_t uiClient, uint32_t uiOp, const L2VPN_MINM_ENTRY_S* pstEntry);
uint32_t L2VPN_FlushPwEntry(int iFd);
// PBB mode of a port (not of an aggregate); enabling needs a present port
// on a MAC-in-MAC slot.
uint32_t L2VPN_SetInterface(int iFd, uint32_t uiIfIndex, uint32_t uiMode);
uint32_t L2VPN_SetVSI(int iFd, uint32_t uiVsiIndex, uint32_t uiAttr, const void* pValue);
