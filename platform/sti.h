// Spanning tree: the forwarding state of an interface in a VLAN, and
// topology-change notifications.
//
// STI_Event_Init opens the event descriptor, readable while notifications
// wait; STI_Event_Handle delivers them to the callback registered with
// TC_Register on the caller's thread. A repeated TC_Register replaces the
// callback. When the service goes away the descriptor reports hang-up, the
// registration ends, and STI_Event_Init and TC_Register fail until it is
// back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/bitmap.h"

constexpr uint16_t STI_STATE_DISCARDING = 1;
constexpr uint16_t STI_STATE_LEARNING = 2;
constexpr uint16_t STI_STATE_FORWARDING = 3;

// A topology change: the VLANs concerned (null: all) on the interfaces
// concerned (null: all). Owned by the service, valid during the callback.
struct TC_EVENT_S {
    BITMAP_S* pstVlanMap;
    uint32_t* puiIfList;
    uint32_t uiIfNum;
};
static_assert(offsetof(TC_EVENT_S, puiIfList) == sizeof(void*));
static_assert(offsetof(TC_EVENT_S, uiIfNum) == 2 * sizeof(void*));

// uiInstance: the spanning-tree instance that changed (0 here).
using TC_EVENT_FN = uint32_t (*)(uint32_t uiInstance, const TC_EVENT_S* pstEvent);

// 0 and the state (STI_STATE_*), or non-zero for an unknown interface or a
// VLAN ID above the highest.
uint32_t STI_GetVlanState(uint32_t uiIfIndex, uint16_t usVlanId, uint16_t* pusState);

int STI_Event_Init(void);
uint32_t STI_Event_Handle(int iFd);
void STI_Event_Fini(int iFd);
uint32_t TC_Register(TC_EVENT_FN pfCallback);
uint32_t TC_DeregisterTC(void);
