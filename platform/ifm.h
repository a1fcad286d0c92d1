// Interface manager: interface attributes, name lookup, per-interface
// private data of a client, and interface, link and slot events.
//
// Interfaces are known by a 32-bit interface index (ifIndex, never 0).
// Ports sit on a slot; an aggregate interface (type IF_TYPE_AGG) has member
// ports (lagg.h). An interface on a slot that is not present exists only as
// configuration: it is temporary (IF_IsTempIf returns 1).
//
// Events: IF_Event_Init opens the client's event descriptor, which is
// readable while events wait. Registrations name the event codes wanted
// (a mask that is the OR of the codes) and a callback; IF_ResponseEventPkt
// reads what waits on the descriptor and calls the callbacks on the
// caller's thread. Interface and slot events are acknowledged with
// IF_NotifyFinalStatus (handle, code, list, count and the context word the
// callback was given). When the manager goes away the descriptor reports
// hang-up and IF_Event_Init fails until it is back; registrations do not
// survive it.
#pragma once

#include <cstddef>
#include <cstdint>

// Selectors of IF_GetDataByIfIndex and what they write.
constexpr uint32_t IF_DATA_SLOT = 2;          // uint16_t slot number (ports only)
constexpr uint32_t IF_DATA_FULL_NAME = 10;    // char[IF_NAME_BUF_LEN], NUL-terminated
constexpr uint32_t IF_DATA_TYPE = 18;         // uint32_t interface type
constexpr uint32_t IF_DATA_LINK_STATE = 30;   // uint32_t IF_LINK_UP or IF_LINK_DOWN

constexpr uint32_t IF_NAME_BUF_LEN = 48;      // full names have at most 47 characters
constexpr uint32_t IF_LINK_UP = 1;
constexpr uint32_t IF_LINK_DOWN = 2;

// Interface types. The Ethernet-like ones carry PBB.
constexpr uint32_t IF_TYPE_FE = 18;
constexpr uint32_t IF_TYPE_GE = 19;
constexpr uint32_t IF_TYPE_XGE = 21;
constexpr uint32_t IF_TYPE_AGG = 56;
constexpr uint32_t IF_TYPE_40GE = 68;
constexpr uint32_t IF_TYPE_100GE = 69;
constexpr uint32_t IF_TYPE_25GE = 88;
constexpr uint32_t IF_TYPE_LOOPBACK = 24;

// Event codes. The top three bits are the class (interface, link, slot);
// a registration's mask is the OR of the codes it wants.
constexpr uint32_t IF_EVT_CLASS_MASK = 0xE0000000u;
constexpr uint32_t IF_EVT_DELETE = 0x20000004u;
constexpr uint32_t IF_EVT_INACTIVE = 0x20000008u;
constexpr uint32_t IF_EVT_ACTIVE = 0x20000010u;
constexpr uint32_t IF_EVT_AGG_JOIN = 0x20100000u;
constexpr uint32_t IF_EVT_AGG_LEAVE = 0x20200000u;
constexpr uint32_t IF_EVT_LINK_UP = 0x40000001u;
constexpr uint32_t IF_EVT_LINK_DOWN = 0x40000002u;
constexpr uint32_t IF_EVT_SLOT_INSERT = 0x60000001u;
constexpr uint32_t IF_EVT_SLOT_REMOVE = 0x60000008u;

// Data word of an inactive event: keep the interface's configuration for
// its return. Any other value: the configuration is discarded.
constexpr uint32_t IF_INACTIVE_PARK = 1;

// One element of an event list. Interface and link events carry an
// ifIndex, slot events a slot number in the first 16 bits.
struct IF_EVENT_S {
    union {
        uint32_t uiIfIndex;
        uint16_t usSlot;
    };
    uint32_t uiInfo;  // interface and link events: the interface type; slot events: 0
};
static_assert(sizeof(IF_EVENT_S) == 8);
static_assert(offsetof(IF_EVENT_S, uiInfo) == 4);

// Selection of interface events, built with the IF_Select* calls. Only the
// type list filters events (an empty list selects every type); kind,
// properties and condition are kept as given.
constexpr uint32_t IF_SEL_MAX_TYPES = 16;
struct IF_EVENT_SEL_S {
    uint32_t uiKind;
    uint32_t uiTypeNum;
    uint32_t auiTypes[IF_SEL_MAX_TYPES];
    uint32_t uiProperties;  // bit n set by IF_SelectProperty_Set(n)
    uint32_t uiCondition;
};
static_assert(sizeof(IF_EVENT_SEL_S) == 80);

// Callbacks. puiData points at the event's data word: the aggregate's
// ifIndex for join and leave, the park word for inactive, 0 otherwise.
using IF_IF_EVENT_FN = uint32_t (*)(uint32_t uiEvent, IF_EVENT_S* pstIfList, uint32_t uiIfNum,
                                    uint32_t uiContext, uint32_t* puiData);
using IF_LINK_EVENT_FN = uint32_t (*)(uint32_t uiEvent, IF_EVENT_S* pstIfList, uint32_t uiIfNum);
using IF_SLOT_EVENT_FN = uint32_t (*)(uint32_t uiEvent, IF_EVENT_S* pstSlotList, uint32_t uiSlotNum,
                                      uint32_t uiContext);
using IF_PD_DESTROY_FN = void (*)(void* pData);

// Attributes. Returns 0 and writes the selector's output, or non-zero and
// leaves the output as it was (unknown interface, selector or an attribute
// the interface does not have, such as the slot of an aggregate).
uint32_t IF_GetDataByIfIndex(uint32_t uiIfIndex, uint32_t uiSelector, void* pData);
// 1 for an interface that exists only as configuration, else 0.
uint32_t IF_IsTempIf(uint32_t uiIfIndex);
// ifIndex of the interface with this full name, 0 when there is none.
uint32_t IF_GetIfIndexByFullName(const char* szFullName);

// Private data: a client's store of one pointer per interface.
// Instance kind IF_PD_KIND_IFINDEX (2) with flags 0 is the only kind
// offered; anything else gives PLAT_INVALID_HANDLE. Data can be attached
// only to an interface the manager knows and only once; a walk visits the
// interfaces with data in ascending ifIndex order.
constexpr uint32_t IF_PD_KIND_IFINDEX = 2;
uint32_t IF_CreatePDInstance(uint32_t uiKind, uint32_t uiFlags);
uint32_t IF_DestroyPDInstance(uint32_t uiHandle, IF_PD_DESTROY_FN pfDestroy);
uint32_t IF_SetPrivateData(uint32_t uiHandle, uint32_t uiIfIndex, void* pData);
uint32_t IF_GetPrivateData(uint32_t uiHandle, uint32_t uiIfIndex, void** ppData);
uint32_t IF_DelPrivateData(uint32_t uiHandle, uint32_t uiIfIndex, IF_PD_DESTROY_FN pfDestroy);
uint32_t IF_GetFirstPrivateData(uint32_t uiHandle, uint32_t* puiIfIndex, void** ppData);
uint32_t IF_GetNextPrivateData(uint32_t uiHandle, uint32_t* puiIfIndex, void** ppData);

// Event services.
int IF_Event_Init(void);
void IF_Event_Fini(int iFd);
uint32_t IF_Select_Init(uint32_t uiKind, IF_EVENT_SEL_S* pstSel);
uint32_t IF_SelectType_Set(uint32_t uiType, IF_EVENT_SEL_S* pstSel);
uint32_t IF_SelectProperty_Set(uint32_t uiProperty, IF_EVENT_SEL_S* pstSel);
uint32_t IF_SelectCondition_Set(uint32_t uiCondition, IF_EVENT_SEL_S* pstSel);
// uiBatch: the most list elements one callback receives; longer lists are
// delivered in several events. Each returns a non-zero handle, 0 when
// refused (no open event descriptor, manager away, bad mask).
uint32_t IF_RegIfEvent(uint32_t uiModuleId, uint32_t uiMask, uint32_t uiBatch, const IF_EVENT_SEL_S* pstSel,
                       IF_IF_EVENT_FN pfCallback, uint32_t uiFlags);
uint32_t IF_RegLinkEvent(uint32_t uiModuleId, uint32_t uiMask, uint32_t uiBatch, uint32_t uiLinkArg,
                         IF_LINK_EVENT_FN pfCallback, uint32_t uiFlags);
uint32_t IF_RegSlotEvent(uint32_t uiModuleId, uint32_t uiMask, uint32_t uiBatch, IF_SLOT_EVENT_FN pfCallback);
// Ends a registration; the mask must be the one it was made with.
uint32_t IF_UnRegEvent(uint32_t uiHandle, uint32_t uiMask);
uint32_t IF_ResponseEventPkt(int iFd);
uint32_t IF_NotifyFinalStatus(uint32_t uiHandle, uint32_t uiEvent, const IF_EVENT_S* pstList, uint32_t uiNum,
                              uint32_t uiContext);
