// VLAN service: the highest VLAN ID, each interface's VLAN membership and
// membership events.
//
// An access interface carries one VLAN, its port VLAN ID; a trunk carries
// a set of VLANs. Membership events tell that an interface was added to or
// deleted from one VLAN (usVlanId) or a set of VLANs (usVlanId
// VLAN_ID_SET and the set in pstVlanBitmap). The event descriptor is
// readable while events wait; VLAN_HandleEvent delivers at most the
// registration's batch count of events per call, the rest on later calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/bitmap.h"

// Attributes of VLAN_GetIfDataByIndex.
constexpr uint32_t VLAN_DATA_LINK_TYPE = 1;  // uint8_t VLAN_LINK_ACCESS or VLAN_LINK_TRUNK
constexpr uint32_t VLAN_DATA_PVID = 3;       // uint16_t port VLAN ID
constexpr uint32_t VLAN_DATA_VLAN_MAP = 7;   // a BITMAP_S, rewritten with the VLANs carried

constexpr uint8_t VLAN_LINK_ACCESS = 1;
constexpr uint8_t VLAN_LINK_TRUNK = 2;

// Event kinds; a registration's kind mask has bit (kind - 1) for each.
constexpr uint32_t VLAN_EVT_ADDED = 1;
constexpr uint32_t VLAN_EVT_DELETED = 2;
constexpr uint16_t VLAN_ID_SET = 0xFFFF;

struct VLAN_EVENT_S {
    uint32_t uiIfIndex;
    uint16_t usVlanId;        // the VLAN, or VLAN_ID_SET
    uint16_t usReserved;
    BITMAP_S* pstVlanBitmap;  // the VLANs when usVlanId is VLAN_ID_SET, else null
};
static_assert(offsetof(VLAN_EVENT_S, usVlanId) == 4);
static_assert(offsetof(VLAN_EVENT_S, pstVlanBitmap) == 8);
static_assert(sizeof(VLAN_EVENT_S) == 8 + sizeof(void*));

// The event record and its bitmap belong to the service and live for the
// callback only.
using VLAN_EVENT_FN = uint32_t (*)(uint32_t uiKind, const VLAN_EVENT_S* pstEvent);

uint16_t VLAN_GetMaxVlanID(void);
uint32_t VLAN_GetIfDataByIndex(uint32_t uiIfIndex, uint32_t uiAttr, void* pData);

int VLAN_EventInit(void);
void VLAN_EventFini(int iFd);
// Non-zero handle, or 0 when refused (no open descriptor, service away).
uint32_t VLAN_RegisterEvent(uint32_t uiModuleId, uint32_t uiKindMask, uint32_t uiBatch, uint32_t uiFlags,
                            VLAN_EVENT_FN pfCallback);
uint32_t VLAN_DeregisterEvent(uint32_t uiHandle, uint32_t uiKindMask);
uint32_t VLAN_HandleEvent(int iFd);
