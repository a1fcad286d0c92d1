// The VSI table: one control block per L2VPN VSI the daemon knows, indexed
// by VSI index, with an I-SID index and each VSI's sorted uplink list.
#pragma once

#include "platform/hash.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t PBB_VSI_NAME_LEN = 32;     // 31 characters and the NUL
constexpr uint16_t PBB_BVLAN_NONE = 0xFFFF;
constexpr uint32_t PBB_ENCAP_DEFAULT = 2;
constexpr uint32_t PBB_VSI_INVALID_INDEX = 0xFFFFFFFFu;
// Least bucket count of the I-SID hash; a table of more VSIs gets the
// power of two at or above its VSI count.
constexpr uint32_t PBB_VSI_ISID_BUCKETS = 4096;

struct PbbUplink {
    PbbUplink* pstPrev;
    PbbUplink* pstNext;
    uint32_t uiIfIndex;
};

struct PbbVsi {
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    char szVsiName[PBB_VSI_NAME_LEN];
    uint16_t usBVlan;
    uint32_t uiEncapType;
    uint16_t usStaleFlag;
    uint16_t usShutdownFlag;
    PbbUplink stUplinkList;  // head; sorted by ascending ifIndex, no duplicates
};

// Node of the I-SID hash: begins with the hash service's two links.
struct PbbISidNode {
    PbbISidNode* pstNext;
    PbbISidNode** ppstLink;
    uint32_t uiISid;
    uint32_t uiVsiIndex;
};
static_assert(offsetof(PbbISidNode, pstNext) == offsetof(HASH_NODE_S, pstNext));
static_assert(offsetof(PbbISidNode, ppstLink) == offsetof(HASH_NODE_S, ppstPrev));

extern PbbVsi** g_ppstVsi;
extern uint32_t g_uiPbbMaxVsiIndex;
extern HASH_TABLE_S* g_pstPbb_IsidHashTbl;

uint32_t PBB_vsi_Init();
void PBB_vsi_Exit();
PbbVsi* PBB_vsi_GetVsiByIndex(uint32_t uiVsiIndex);
PbbVsi* PBB_vsi_CreateVsi(uint32_t uiVsiIndex);
void PBB_vsi_DeleteVsi(uint32_t uiVsiIndex);
void PBB_vsi_SetISid(uint32_t uiVsiIndex, uint32_t uiISid);
uint32_t PBB_vsi_GetIndexByISid(uint32_t uiISid);
PbbVsi* PBB_vsi_GetFirstVsi();
PbbVsi* PBB_vsi_GetNextVsi(uint32_t uiVsiIndex);
PbbVsi* PBB_vsi_GetVsiByName(const char* szVsiName);
uint32_t PBB_vsi_GetIndexByName(const char* szVsiName);
PbbUplink* PBB_vsi_GetUplinkList(uint32_t uiVsiIndex);
PbbUplink* PBB_vsi_AddUplink(uint32_t uiVsiIndex, uint32_t uiIfIndex);
void PBB_vsi_DeleteUplink(uint32_t uiVsiIndex, uint32_t uiIfIndex);
PbbUplink* _pbb_vsi_GetUplink(uint32_t uiVsiIndex, uint32_t uiIfIndex);
uint32_t _pbb_vsi_GetISidHashIndex(const void* pKey);
int _pbb_vsi_ISidKeyCmp(const HASH_NODE_S* pstNode, const void* pKey);
