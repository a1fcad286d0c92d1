// Interface control blocks: per-interface PBB state kept as the daemon's
// private data in the interface manager.
#pragma once

#include "daemon/pbb_vsi.h"
#include "platform/bitmap.h"

#include <cstdint>

constexpr uint32_t PBB_IF_NAME_LEN = 48;  // 47 characters and the NUL

struct PbbIfVsiNode {
    PbbIfVsiNode* pstPrev;
    PbbIfVsiNode* pstNext;
    uint32_t uiVsiIndex;
};

struct PbbIfVsiCfgNode {
    PbbIfVsiCfgNode* pstPrev;
    PbbIfVsiCfgNode* pstNext;
    char szVsiName[PBB_VSI_NAME_LEN];
};

struct PbbIfCb {
    char szIfName[PBB_IF_NAME_LEN];
    uint32_t uiIfIndex;
    uint16_t usAggMember;
    uint16_t usLinkUp;
    BITMAP_S* pstVlanMap;
    uint16_t usUplinkAll;
    PbbIfVsiCfgNode stCfgVsiList;  // head; in order of addition, no duplicates
    PbbIfVsiNode stRunVsiList;     // head; in order of addition, no duplicates
};

extern uint32_t g_ulPbbIfCBHandle;
extern uint16_t g_usPbbMaxVlanId;

uint32_t PBB_ifcb_Init();
void PBB_ifcb_Exit();
PbbIfCb* PBB_ifcb_Create(uint32_t uiIfIndex);
uint32_t PBB_ifcb_Delete(uint32_t uiIfIndex);
PbbIfCb* PBB_ifcb_Get(uint32_t uiIfIndex);
PbbIfCb* PBB_ifcb_GetFirst();
PbbIfCb* PBB_ifcb_GetNext(uint32_t uiIfIndex);
void _pbb_ifcb_Destroy(void* pBlock);
uint32_t PBB_ifcb_IsDefaultCfg(uint32_t uiIfIndex);
PbbIfVsiCfgNode* PBB_ifcb_GetCfgVsiList(uint32_t uiIfIndex);
PbbIfVsiNode* PBB_ifcb_GetRunVsiList(uint32_t uiIfIndex);
uint32_t PBB_ifcb_AddCfgVsiNode(uint32_t uiIfIndex, const char* szVsiName);
void PBB_ifcb_DeleteCfgVsiNode(uint32_t uiIfIndex, const char* szVsiName);
uint32_t PBB_ifcb_IsCfgVsiExist(uint32_t uiIfIndex, const char* szVsiName);
uint32_t PBB_ifcb_AddRunVsiNode(uint32_t uiIfIndex, uint32_t uiVsiIndex);
void PBB_ifcb_DeleteRunVsiNode(uint32_t uiIfIndex, uint32_t uiVsiIndex);
uint32_t PBB_ifcb_IsRunVsiExist(uint32_t uiIfIndex, uint32_t uiVsiIndex);
void PBB_ifcb_DeleteAllCfgVsiNode(uint32_t uiIfIndex);
void PBB_ifcb_DeleteAllRunVsiNode(uint32_t uiIfIndex);
