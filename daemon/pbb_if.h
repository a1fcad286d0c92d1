// Interface, link and slot events of the interface manager: control blocks,
// uplinks, multicast ports, learned entries, PBB port mode and the
// interface records of the configuration databases follow the interfaces.
#pragma once

#include "daemon/pbb_common.h"
#include "platform/ifm.h"

#include <cstdint>

constexpr uint32_t PBB_IF_EVT_DELETE = 0x20000004u;
constexpr uint32_t PBB_IF_EVT_DEACTIVE = 0x20000008u;
constexpr uint32_t PBB_IF_EVT_ACTIVE = 0x20000010u;
constexpr uint32_t PBB_IF_EVT_AGG_JOIN = 0x20100000u;
constexpr uint32_t PBB_IF_EVT_AGG_LEAVE = 0x20200000u;
constexpr uint32_t PBB_IF_EVT_LINK_UP = 0x40000001u;
constexpr uint32_t PBB_IF_EVT_LINK_DOWN = 0x40000002u;
constexpr uint32_t PBB_IF_EVT_SLOT_INSERT = 0x60000001u;
constexpr uint32_t PBB_IF_EVT_SLOT_REMOVE = 0x60000008u;
constexpr uint32_t PBB_IF_MASK_IF = PBB_IF_EVT_DELETE | PBB_IF_EVT_DEACTIVE | PBB_IF_EVT_ACTIVE |
                                   PBB_IF_EVT_AGG_JOIN | PBB_IF_EVT_AGG_LEAVE;
constexpr uint32_t PBB_IF_MASK_LINK = PBB_IF_EVT_LINK_UP | PBB_IF_EVT_LINK_DOWN;
constexpr uint32_t PBB_IF_MASK_SLOT = PBB_IF_EVT_SLOT_INSERT | PBB_IF_EVT_SLOT_REMOVE;
static_assert(PBB_IF_MASK_IF == 0x2030001Cu && PBB_IF_MASK_LINK == 0x40000003u && PBB_IF_MASK_SLOT == 0x60000009u);

// One element of an event list: an ifIndex, or a slot in the first 16 bits.
using PbbIfEvent = IF_EVENT_S;
static_assert(sizeof(PbbIfEvent) == 8);
using PbbIfEventSel = IF_EVENT_SEL_S;

// The channel's state in the service manager's status file
// ("INTERFACE_EVENTS=open", or "closed" while it cannot be opened again).
constexpr const char* PBB_IF_STATE_NAME = "INTERFACE_EVENTS";

struct PbbReopen;
extern PbbReopen g_stPbbIfReopen;
extern int g_iIfHandle;
extern uint32_t g_uiPbbIfEventHandle;
extern uint32_t g_uiPbbLinkEventHandle;
extern uint32_t g_uiPbbSlotEventHandle;

uint32_t PBB_if_Init();
void PBB_if_Exit();
uint32_t _pbb_if_Register();
void _pbb_if_Deregister();
uint32_t _pbb_if_ProcEpollEvent(uint32_t uiEvents, int iFd);
uint32_t _pbb_if_IfEventCallback(uint32_t uiEvent, PbbIfEvent* pstIfList, uint32_t uiIfNum, uint32_t uiContext,
                                 uint32_t* puiData);
uint32_t _pbb_if_LinkEventCallback(uint32_t uiEvent, PbbIfEvent* pstIfList, uint32_t uiIfNum);
uint32_t _pbb_if_SlotEventCallback(uint32_t uiEvent, PbbIfEvent* pstSlotList, uint32_t uiSlotNum, uint32_t uiContext);
void _pbb_if_ProcIfActive(uint32_t uiIfIndex, const uint32_t* puiData);
void _pbb_if_ProcIfDeactive(uint32_t uiIfIndex, const uint32_t* puiData);
void _pbb_if_ProcIfDelete(uint32_t uiIfIndex);
void _pbb_if_ProcAggJoin(uint32_t uiIfIndex, uint32_t uiAggIfIndex);
void _pbb_if_ProcAggLeave(uint32_t uiIfIndex, uint32_t uiAggIfIndex);
void _pbb_if_ProcLinkUp(uint32_t uiIfIndex);
void _pbb_if_ProcLinkDown(uint32_t uiIfIndex);
void _pbb_if_ProcSlotInsert(uint16_t usSlot);
void _pbb_if_ProcSlotRemove(uint16_t usSlot);
void _pbb_if_PrintEvtDebug(uint32_t uiEvent, uint32_t uiIfIndex);
