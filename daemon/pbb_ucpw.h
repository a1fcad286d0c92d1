// Unicast pseudo-wire table: every learned entry, linked into five indexes
// (all entries, per VSI in B-MAC order, per interface, per B-VLAN, and a
// B-MAC hash), with each entry's per-slot age status. Each VSI's list has
// an ordered index beside it that finds a position in it.
#pragma once

#include "daemon/pbb_tree.h"
#include "platform/bitmap.h"
#include "platform/hash.h"

#include <cstddef>
#include <cstdint>

// A link of one index: previous, next. Lists are circular with the head as
// sentinel; an entry is found from its link by the link's offset.
struct PbbUcPwLink {
    PbbUcPwLink* pstPrev;
    PbbUcPwLink* pstNext;
};

// Head with an entry count (the list of all entries, the VSI lists).
struct PbbUcPwHead {
    PbbUcPwLink stLink;
    uint32_t uiCount;
};

struct PbbUcPw {
    PbbUcPwLink stAllNode;
    PbbUcPwLink stVsiNode;
    PbbUcPwLink stIfNode;
    PbbUcPwLink stVlanNode;
    HASH_NODE_S stHashNode;
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint16_t usBVlan;
    uint8_t aucBMac[6];
    uint32_t uiIfIndex;
    BITMAP_S* pstAgeStatus;
};

// Head of a VSI's list: the list, its count, and the index of the same
// entries by B-MAC, in the list's order.
struct PbbUcPwVsiHead {
    PbbUcPwLink stLink;
    uint32_t uiCount;
    PbbTree stOrder;
};

struct PbbUcPwFilter {
    uint32_t uiVsiIndex;
    uint16_t usVlanId;
    uint32_t uiIfIndex;
};

// Walk types of PBB_ucpw_GetFirst and PBB_ucpw_GetNext.
constexpr uint32_t PBB_UCPW_GET_BY_VSI = 0;
constexpr uint32_t PBB_UCPW_GET_BY_IF = 1;
constexpr uint32_t PBB_UCPW_GET_BY_VLAN = 2;
constexpr uint32_t PBB_UCPW_GET_BY_VLAN_IF = 3;
constexpr uint32_t PBB_UCPW_GET_BY_IF_VSI = 4;
constexpr uint32_t PBB_UCPW_GET_ALL = 5;

// Buckets of the B-MAC hash at start-up; the count doubles whenever the
// entries outnumber the buckets.
constexpr uint32_t PBB_UCPW_HASH_BUCKETS = 4096;

extern PbbUcPwHead g_stPbb_UcPwList;
extern PbbUcPwVsiHead* g_pstPbb_VsiUcPwList;
extern PbbUcPwLink* g_pstPbb_VlanUcPwList;
extern uint32_t g_ulPbb_IfUcPwHandle;
extern HASH_TABLE_S* g_pstPbb_BmacHashTbl;
extern BITMAP_S* g_pstPbb_AgeStatusMap;

uint32_t PBB_ucpw_Init();
void PBB_ucpw_Exit();
uint32_t PBB_ucpw_Add(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, const uint8_t* pucBMac,
                      uint32_t uiIfIndex);
PbbUcPw* PBB_ucpw_Get(uint32_t uiVsiIndex, uint16_t usBVlan, const uint8_t* pucBMac);
// Gives the B-MAC hash at once the buckets it would grow to while
// uiMore entries are added, so that a caller about to add that many (a
// recovery) does not have every entry moved at each doubling on the way.
// Lookups and orders are as without it; short of memory the hash keeps
// its size and grows as entries come.
void PBB_ucpw_ReserveHash(uint32_t uiMore);
// Reading ahead, without waiting and without changing anything: a caller
// about to look up or add many keys names them all first, so that their
// reads from memory overlap instead of following one another. First the
// hash bucket of each key: returns where it is (null without a table or
// key); the bucket's place holds until the table next changes.
HASH_NODE_S* const* PBB_ucpw_PrefetchBucket(uint32_t uiVsiIndex, uint16_t usBVlan, const uint8_t* pucBMac);
// Then, once the buckets have had time to arrive, the entry that a lookup
// of the key looks at first; the table must not have changed since.
void PBB_ucpw_PrefetchBucketEntry(HASH_NODE_S* const* ppstBucket);
PbbUcPw* PBB_ucpw_GetFirst(uint32_t uiType, const PbbUcPwFilter* pstFilter);
PbbUcPw* PBB_ucpw_GetNext(uint32_t uiType, const PbbUcPw* pstCurrent);
PbbUcPw* PBB_ucpw_GetNextByIndex(uint32_t uiVsiIndex, const uint8_t* pucBMac);
uint32_t PBB_ucpw_GetTotalNum();
uint32_t PBB_ucpw_GetNumByVsi(uint32_t uiVsiIndex);
uint32_t PBB_ucpw_IsEmpty();
uint32_t PBB_ucpw_IsEmptyByVsi(uint32_t uiVsiIndex);
uint32_t PBB_ucpw_IsEmptyByVlan(uint16_t usVlanId);
uint32_t PBB_ucpw_IsEmptyByIf(uint32_t uiIfIndex);

// Deletion (memory only; callers withdraw from the driver and database).
void PBB_ucpw_Delete(PbbUcPw* pstEntry);
void PBB_ucpw_DeleteByVsi(uint32_t uiVsiIndex);
void PBB_ucpw_DeleteByVlan(uint16_t usVlanId);
void PBB_ucpw_DeleteByVlanIf(uint16_t usVlanId, uint32_t uiIfIndex);
void PBB_ucpw_DeleteByIf(uint32_t uiIfIndex);
void PBB_ucpw_DeleteByIfVsi(uint32_t uiIfIndex, uint32_t uiVsiIndex);
void PBB_ucpw_DeleteAll();

// Age status: 1 clears the slot's bit (aged there), any other value sets it.
void PBB_ucpw_SetAgeStatus(uint16_t usStatus, uint16_t usSlot, PbbUcPw* pstEntry);
void PBB_ucpw_SetAgeStatusSlot(uint16_t usStatus, uint16_t usSlot);

uint32_t _pbb_ucpw_GetBmacHashIndex(const void* pKey);
int _pbb_ucpw_BmacHashKeyCmp(const HASH_NODE_S* pstNode, const void* pKey);
