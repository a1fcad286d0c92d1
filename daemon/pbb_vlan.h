// VLAN membership events: each interface control block's VLAN set follows
// the VLAN service, and the interface becomes or stops being a multicast
// port of the VSIs whose B-VLAN it gains or loses; the unicast entries
// learned on it in a B-VLAN it leaves are withdrawn. After an error or
// hang-up the channel is opened again, every second until it opens;
// changes made while it was closed are not seen.
#pragma once

#include "platform/bitmap.h"
#include "platform/vlan.h"

#include <cstdint>

// The event record handed to the callback; it belongs to the platform.
using PbbVlanEvent = VLAN_EVENT_S;

constexpr uint32_t PBB_VLAN_EVT_ADDED = 1;    // the interface was added to the VLANs
constexpr uint32_t PBB_VLAN_EVT_DELETED = 2;  // it was deleted from them
// Registration: both kinds, at most 64 events per dispatch, no flags.
constexpr uint32_t PBB_VLAN_EVT_KINDS = 3;
constexpr uint32_t PBB_VLAN_EVT_BATCH = 64;
constexpr uint32_t PBB_VLAN_EVT_FLAGS = 0;

// The channel's state in the service manager's status file
// ("VLAN_EVENTS=open", or "closed" while it cannot be opened again).
constexpr const char* PBB_VLAN_STATE_NAME = "VLAN_EVENTS";

struct PbbReopen;
extern PbbReopen g_stPbbVlanReopen;
extern int g_iPbbVlanEvtFd;
extern uint32_t g_uiPbbVlanEvt;

uint32_t PBB_vlan_Init();
void PBB_vlan_Exit();
uint32_t _pbb_vlan_EpollCallBack(uint32_t uiEvents, int iFd);
uint32_t _pbb_vlan_EventCallBack(uint32_t uiKind, const PbbVlanEvent* pstEvent);
uint32_t _pbb_vlan_ProcVlanEvent(uint32_t uiKind, uint16_t usVlanId, uint32_t uiIfIndex);
void _pbb_vlan_PrintDebug(uint32_t uiKind, uint32_t uiIfIndex, uint16_t usVlanId, const BITMAP_S* pstVlanBitmap);
