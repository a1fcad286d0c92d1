// Unicast pseudo-wire table. Every learned entry sits in five indexes: the
// list of all entries (newest first), its VSI's list (ascending B-MAC), its
// interface's list, its B-VLAN's list and the B-MAC hash. Each bulk
// operation walks the one list that holds its entries; a lookup by key is
// one hash probe. Beside each VSI's list a red-black tree holds the same
// entries in the same order, so that an insert and a page find their place
// in logarithmic time instead of walking the list. The table programs
// nothing and stores nothing: callers take care of the driver and the
// database.
#include "daemon/pbb_ucpw.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_list.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_pool.h"
#include "platform/dev.h"
#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/vlan.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

static_assert(offsetof(PbbUcPw, stAllNode) == 0, "every node begins with its links");
static_assert(offsetof(PbbUcPw, stHashNode) == 4 * sizeof(PbbUcPwLink), "hash node after the four list links");
static_assert(offsetof(PbbUcPw, uiISid) == offsetof(PbbUcPw, uiVsiIndex) + 4);
static_assert(offsetof(PbbUcPw, aucBMac) == offsetof(PbbUcPw, usBVlan) + 2);
static_assert(offsetof(PbbUcPwHead, uiCount) == sizeof(PbbUcPwLink), "count follows the head's links");
static_assert(sizeof(HASH_NODE_S) == 2 * sizeof(void*));
// 112 bytes, which the entries' pool hands out as they are (the C
// allocator's block would be 128).
static_assert(sizeof(PbbUcPw) == 112);
static_assert(offsetof(PbbUcPwVsiHead, uiCount) == sizeof(PbbUcPwLink), "count follows the head's links");

PbbUcPwHead g_stPbb_UcPwList = {{&g_stPbb_UcPwList.stLink, &g_stPbb_UcPwList.stLink}, 0};
PbbUcPwVsiHead* g_pstPbb_VsiUcPwList = nullptr;
PbbUcPwLink* g_pstPbb_VlanUcPwList = nullptr;
uint32_t g_ulPbb_IfUcPwHandle = PBB_INVALID_HANDLE;
HASH_TABLE_S* g_pstPbb_BmacHashTbl = nullptr;
BITMAP_S* g_pstPbb_AgeStatusMap = nullptr;

namespace {

constexpr uint32_t PBB_UCPW_BMAC_LEN = 6;

// Heads in the VSI and B-VLAN arrays: an index from anywhere else (a
// frame, an event, a request, a stored record) is checked against them.
uint32_t g_uiPbb_VsiUcPwHeadNum = 0;
uint32_t g_uiPbb_VlanUcPwHeadNum = 0;

// Bucket counts are powers of two: an index is the key's hash masked.
static_assert((PBB_UCPW_HASH_BUCKETS & (PBB_UCPW_HASH_BUCKETS - 1)) == 0);
constexpr uint32_t PBB_UCPW_HASH_MAX_BUCKETS = 1u << 31;

// Number of entries above which the hash gets twice its buckets. After a
// failed attempt it moves on by the bucket count, so that a daemon short
// of memory does not try again on every add.
uint32_t g_uiPbb_BmacHashGrowAt = PBB_UCPW_HASH_BUCKETS;

// The entries in huge pages: learning a new entry touches older ones
// anywhere in the table after every read from the packet socket (see the
// pool). The order index's nodes keep small pages: they are few and a VSI's
// last ones are touched again and again, so huge pages gained them little,
// and their last slab would add to the resident size as much again.
PbbPool g_stPbb_UcPwPool = {sizeof(PbbUcPw), PBB_POOL_SLAB_SIZE, 0, nullptr, nullptr, true};

// The entry that holds a link, given the link's offset in the entry.
inline PbbUcPw* _pbb_ucpw_EntryOf(PbbUcPwLink* pstLink, size_t ulOffset)
{
    return reinterpret_cast<PbbUcPw*>(reinterpret_cast<char*>(pstLink) - ulOffset);
}

inline PbbUcPw* _pbb_ucpw_EntryOfHash(const HASH_NODE_S* pstNode)
{
    return reinterpret_cast<PbbUcPw*>(reinterpret_cast<char*>(const_cast<HASH_NODE_S*>(pstNode)) -
                                      offsetof(PbbUcPw, stHashNode));
}

// The B-MAC as a number, first byte most significant: numbers compare as
// the addresses do byte by byte.
inline uint64_t _pbb_ucpw_MacOrder(const uint8_t* pucBMac)
{
    uint32_t uiHigh = 0;
    uint16_t usLow = 0;
    std::memcpy(&uiHigh, pucBMac, sizeof(uiHigh));
    std::memcpy(&usLow, pucBMac + sizeof(uiHigh), sizeof(usLow));
    if constexpr (std::endian::native == std::endian::little) {
        uiHigh = __builtin_bswap32(uiHigh);
        usLow = __builtin_bswap16(usLow);
    }
    return (static_cast<uint64_t>(uiHigh) << 16) | usLow;
}

// Hash of the fields the key compare looks at: B-MAC, B-VLAN and, outside
// shared-VSI mode, the VSI index. Every bit of the fields reaches every bit
// of the result (the finaliser of MurmurHash3), so that consecutive
// addresses spread over all buckets.
uint32_t _pbb_ucpw_BmacHash(const PbbUcPw* pstKey)
{
    uint64_t ulKey = _pbb_ucpw_MacOrder(pstKey->aucBMac) | (static_cast<uint64_t>(pstKey->usBVlan) << 48);
    if (PBB_l2vpn_IsShareVsi() != 1) ulKey ^= static_cast<uint64_t>(pstKey->uiVsiIndex) * 0x9E3779B97F4A7C15ull;
    ulKey ^= ulKey >> 33;
    ulKey *= 0xFF51AFD7ED558CCDull;
    ulKey ^= ulKey >> 33;
    ulKey *= 0xC4CEB9FE1A85EC53ull;
    ulKey ^= ulKey >> 33;
    return static_cast<uint32_t>(ulKey);
}

// Bucket of a linked entry in a hash of uiBuckets buckets, for a resize.
uint32_t _pbb_ucpw_BmacNodeIndex(const HASH_NODE_S* pstNode, uint32_t uiBuckets)
{
    return _pbb_ucpw_BmacHash(_pbb_ucpw_EntryOfHash(pstNode)) & (uiBuckets - 1);
}

// First entry of a list, or null when the list is empty.
inline PbbUcPw* _pbb_ucpw_First(PbbUcPwLink* pstHead, size_t ulOffset)
{
    if (pstHead == nullptr || pstHead->pstNext == pstHead) return nullptr;
    return _pbb_ucpw_EntryOf(pstHead->pstNext, ulOffset);
}

// Entry after the one whose link is given, or null at the head.
inline PbbUcPw* _pbb_ucpw_After(PbbUcPwLink* pstHead, const PbbUcPwLink* pstLink, size_t ulOffset)
{
    if (pstHead == nullptr || pstLink->pstNext == pstHead) return nullptr;
    return _pbb_ucpw_EntryOf(pstLink->pstNext, ulOffset);
}

constexpr size_t PBB_UCPW_OFF_ALL = offsetof(PbbUcPw, stAllNode);
constexpr size_t PBB_UCPW_OFF_VSI = offsetof(PbbUcPw, stVsiNode);
constexpr size_t PBB_UCPW_OFF_IF = offsetof(PbbUcPw, stIfNode);
constexpr size_t PBB_UCPW_OFF_VLAN = offsetof(PbbUcPw, stVlanNode);

// The interface's list head, or null when the interface has no entry.
PbbUcPwLink* _pbb_ucpw_GetIfHead(uint32_t uiIfIndex)
{
    if (g_ulPbb_IfUcPwHandle == PBB_INVALID_HANDLE) return nullptr;
    void* pData = nullptr;
    if (IF_GetPrivateData(g_ulPbb_IfUcPwHandle, uiIfIndex, &pData) != 0) return nullptr;
    return static_cast<PbbUcPwLink*>(pData);
}

PbbUcPwLink* _pbb_ucpw_GetVsiHead(uint32_t uiVsiIndex)
{
    if (g_pstPbb_VsiUcPwList == nullptr || uiVsiIndex >= g_uiPbb_VsiUcPwHeadNum) return nullptr;
    return &g_pstPbb_VsiUcPwList[uiVsiIndex].stLink;
}

// Links the entry into its VSI's list at the place its index gave it: in
// front of the entry it precedes, else behind the one it follows, else
// (the VSI had no entry) as the only one.
void _pbb_ucpw_OrderLink(PbbUcPwVsiHead* pstHead, PbbUcPw* pstEntry, void* pPrev, void* pNext)
{
    if (pNext != nullptr)
        pbb::list::insertBefore(&static_cast<PbbUcPw*>(pNext)->stVsiNode, &pstEntry->stVsiNode);
    else if (pPrev != nullptr)
        pbb::list::insertBefore(static_cast<PbbUcPw*>(pPrev)->stVsiNode.pstNext, &pstEntry->stVsiNode);
    else
        pbb::list::pushBack(&pstHead->stLink, &pstEntry->stVsiNode);
}

// Gives the hash uiBuckets buckets, to grow again once the entries
// outnumber them. false when memory is short: the hash keeps its size.
bool _pbb_ucpw_HashResize(uint32_t uiBuckets)
{
    if (HASH_Resize(g_pstPbb_BmacHashTbl, uiBuckets, _pbb_ucpw_BmacNodeIndex) == 0) {
        g_uiPbb_BmacHashGrowAt = uiBuckets;
        return true;
    }
    if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) == 1)
        PBB_log_Print("ERROR", "Failed to allocate memory for %u Unicast Pseudo Wire hash buckets.\r\n", uiBuckets);
    return false;
}

// Makes the hash twice as large once the entries outnumber its buckets,
// keeping chains at one entry or less on average. After a failed attempt
// it tries again once the entries outnumber another bucket count, so that
// a daemon short of memory does not try on every add.
void _pbb_ucpw_HashGrow()
{
    const HASH_TABLE_S* pstTbl = g_pstPbb_BmacHashTbl;
    if (g_stPbb_UcPwList.uiCount <= g_uiPbb_BmacHashGrowAt || pstTbl->uiBuckets >= PBB_UCPW_HASH_MAX_BUCKETS) return;
    if (!_pbb_ucpw_HashResize(pstTbl->uiBuckets * 2)) g_uiPbb_BmacHashGrowAt += pstTbl->uiBuckets;
}

PbbUcPwLink* _pbb_ucpw_GetVlanHead(uint16_t usVlanId)
{
    if (g_pstPbb_VlanUcPwList == nullptr || usVlanId >= g_uiPbb_VlanUcPwHeadNum) return nullptr;
    return &g_pstPbb_VlanUcPwList[usVlanId];
}

// Release function of the interface list heads; ignores null.
void _pbb_ucpw_DestroyIfCb(void* pData)
{
    free(pData);
}

// Slot bitmap of the age status: one bit per global slot up to the
// highest slot number.
BITMAP_S* _pbb_ucpw_MallocAgeStatusMap()
{
    uint16_t usMinSlot = 0;
    uint16_t usMaxSlot = 0;
    (void)DEV_GetSlotRange(&usMinSlot, &usMaxSlot);
    return Bitmap_Create(usMaxSlot);
}

// The template: every slot that is present, in normal state and able to
// handle PBB.
void _pbb_ucpw_FillAgeStatusMap(BITMAP_S* pstMap)
{
    uint16_t usMinSlot = 0xFFFF;
    uint16_t usMaxSlot = 0xFFFF;
    (void)DEV_GetSlotRange(&usMinSlot, &usMaxSlot);
    // A 32-bit counter so that a range ending at 0xFFFF still ends.
    for (uint32_t uiSlot = usMinSlot; uiSlot <= usMaxSlot; ++uiSlot) {
        uint16_t usSlot = static_cast<uint16_t>(uiSlot);
        if (PBB_l2vpn_IsSupportBySlot(usSlot) == 0) continue;
        uint16_t usChassis = 0;
        uint16_t usPhySlot = 0;
        if (DEV_GetPhysicalSlotByGlobalSlot(usSlot, &usChassis, &usPhySlot) != 0) continue;
        uint32_t uiStatus = 0;
        if (DEV_GetDeviceStatus(usChassis, usPhySlot, 0xFFFF, &uiStatus) != 0) continue;
        if (uiStatus != DEV_STATUS_NORMAL) continue;
        Bitmap_Set(pstMap, uiSlot);
    }
}

void _pbb_ucpw_FreeNode(PbbUcPw* pstEntry)
{
    if (pstEntry->pstAgeStatus != nullptr) Bitmap_Destroy(pstEntry->pstAgeStatus);
    PBB_pool_Free(&g_stPbb_UcPwPool, pstEntry);
}

void _pbb_ucpw_HashInsert(PbbUcPw* pstEntry)
{
    HASH_TABLE_S* pstTbl = g_pstPbb_BmacHashTbl;
    uint32_t uiBucket = pstTbl->pfIndex(pstEntry);
    HASH_NODE_S* pstNode = &pstEntry->stHashNode;
    HASH_NODE_S** ppstHead = &pstTbl->ppstBuckets[uiBucket];
    pstNode->pstNext = *ppstHead;
    pstNode->ppstPrev = ppstHead;
    if (*ppstHead != nullptr) (*ppstHead)->ppstPrev = &pstNode->pstNext;
    *ppstHead = pstNode;
}

void _pbb_ucpw_HashRemove(PbbUcPw* pstEntry)
{
    HASH_NODE_S* pstNode = &pstEntry->stHashNode;
    if (pstNode->ppstPrev != nullptr) *pstNode->ppstPrev = pstNode->pstNext;
    if (pstNode->pstNext != nullptr) pstNode->pstNext->ppstPrev = pstNode->ppstPrev;
    pstNode->pstNext = nullptr;
    pstNode->ppstPrev = nullptr;
}

// Unlinks the entry from every index, in the order VSI, B-VLAN, interface,
// hash, all entries, keeping the counts. A VSI whose index has been
// cleared (it is being emptied whole) only loses the entry from its list.
void _pbb_ucpw_RemoveFromAllList(PbbUcPw* pstEntry)
{
    PbbUcPwVsiHead* pstVsiHead = &g_pstPbb_VsiUcPwList[pstEntry->uiVsiIndex];
    if (pstVsiHead->stOrder.uiHeight != 0)
        (void)pbb::tree::erase(&pstVsiHead->stOrder, _pbb_ucpw_MacOrder(pstEntry->aucBMac), pstEntry);
    pbb::list::unlink(&pstEntry->stVsiNode);
    pstVsiHead->uiCount--;
    pbb::list::unlink(&pstEntry->stVlanNode);
    pbb::list::unlink(&pstEntry->stIfNode);
    _pbb_ucpw_HashRemove(pstEntry);
    pbb::list::unlink(&pstEntry->stAllNode);
    g_stPbb_UcPwList.uiCount--;
}

// Deletion of an entry inside a walk of its interface's list: the head is
// dealt with once by the caller.
void _pbb_ucpw_DeleteIfNode(PbbUcPw* pstEntry)
{
    _pbb_ucpw_RemoveFromAllList(pstEntry);
    _pbb_ucpw_FreeNode(pstEntry);
}

// The interface's list head goes with its last entry.
void _pbb_ucpw_DropIfHeadWhenEmpty(uint32_t uiIfIndex)
{
    PbbUcPwLink* pstIfHead = _pbb_ucpw_GetIfHead(uiIfIndex);
    if (pstIfHead != nullptr && pbb::list::empty(pstIfHead))
        (void)IF_DelPrivateData(g_ulPbb_IfUcPwHandle, uiIfIndex, _pbb_ucpw_DestroyIfCb);
}

// Deletion of one entry.
void _pbb_ucpw_DeleteNode(PbbUcPw* pstEntry)
{
    uint32_t uiIfIndex = pstEntry->uiIfIndex;
    _pbb_ucpw_DeleteIfNode(pstEntry);
    _pbb_ucpw_DropIfHeadWhenEmpty(uiIfIndex);
}

// Deletion of one entry while every entry goes: only its interface's list
// loses it, so that the interface's head goes with its last entry as
// before; the lists by VSI and by B-VLAN and the hash are emptied whole
// once the walk is done (PBB_ucpw_DeleteAll), instead of unlinking each
// entry from neighbours that go too.
void _pbb_ucpw_DeleteEveryNode(PbbUcPw* pstEntry)
{
    uint32_t uiIfIndex = pstEntry->uiIfIndex;
    pbb::list::unlink(&pstEntry->stIfNode);
    _pbb_ucpw_FreeNode(pstEntry);
    _pbb_ucpw_DropIfHeadWhenEmpty(uiIfIndex);
}

// Walks one index's list from its head, reading the next link before it
// acts, and deletes with pfDelete every entry that match accepts.
template <typename Match>
void _pbb_ucpw_DeleteWalk(PbbUcPwLink* pstHead, size_t ulOffset, void (*pfDelete)(PbbUcPw*), Match match)
{
    for (PbbUcPwLink* pstLink = pstHead->pstNext; pstLink != pstHead;) {
        PbbUcPwLink* pstNext = pstLink->pstNext;
        PbbUcPw* pstEntry = _pbb_ucpw_EntryOf(pstLink, ulOffset);
        if (match(pstEntry)) pfDelete(pstEntry);
        pstLink = pstNext;
    }
}

constexpr auto PBB_UCPW_EVERY = [](const PbbUcPw*) { return true; };

// Status 1: the slot no longer holds the entry; any other: it does again.
void _pbb_ucpw_ApplyAgeStatus(BITMAP_S* pstMap, uint16_t usStatus, uint16_t usSlot)
{
    if (usStatus == 1)
        Bitmap_Clear(pstMap, usSlot);
    else
        Bitmap_Set(pstMap, usSlot);
}

void _pbb_ucpw_LogNoMemory(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, const uint8_t* pucBMac,
                           uint32_t uiIfIndex)
{
    if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) != 1) return;
    char szIfName[IF_NAME_BUF_LEN] = "";
    (void)IF_GetDataByIfIndex(uiIfIndex, IF_DATA_FULL_NAME, szIfName);
    PBB_log_Print("ERROR",
                  "Failed to allocate memory for Unicast Pseudo Wire entry with VsiIndex %u, I-SID %u, "
                  "B-VLAN %u, B-MAC %M on interface %s.\r\n",
                  uiVsiIndex, uiISid, static_cast<uint32_t>(usBVlan), pucBMac, szIfName);
}

}  // namespace

uint32_t _pbb_ucpw_GetBmacHashIndex(const void* pKey)
{
    uint32_t uiBuckets = g_pstPbb_BmacHashTbl != nullptr ? g_pstPbb_BmacHashTbl->uiBuckets : PBB_UCPW_HASH_BUCKETS;
    return _pbb_ucpw_BmacHash(static_cast<const PbbUcPw*>(pKey)) & (uiBuckets - 1);
}

int _pbb_ucpw_BmacHashKeyCmp(const HASH_NODE_S* pstNode, const void* pKey)
{
    const PbbUcPw* pstEntry = _pbb_ucpw_EntryOfHash(pstNode);
    const auto* pstKey = static_cast<const PbbUcPw*>(pKey);
    if (pstEntry->usBVlan != pstKey->usBVlan) return 1;
    if (PBB_l2vpn_IsShareVsi() != 1 && pstEntry->uiVsiIndex != pstKey->uiVsiIndex) return 1;
    for (uint32_t i = 0; i < PBB_UCPW_BMAC_LEN; i += 2) {
        if (pstEntry->aucBMac[i] != pstKey->aucBMac[i] || pstEntry->aucBMac[i + 1] != pstKey->aucBMac[i + 1])
            return 1;
    }
    return 0;
}

uint32_t PBB_ucpw_Init()
{
    bool bFailed = false;

    uint32_t uiVsiNum = 0;
    uint32_t uiUsedVsiNum = 0;
    if (L2VPN_GetMaxVsiNum(&uiVsiNum, &uiUsedVsiNum) != 0) {
        bFailed = true;
    } else {
        uint32_t uiHeads = uiVsiNum + 1;
        g_pstPbb_VsiUcPwList = static_cast<PbbUcPwVsiHead*>(calloc(uiHeads, sizeof(PbbUcPwVsiHead)));
        if (g_pstPbb_VsiUcPwList == nullptr) {
            PBB_log_TracePrint("Failed to allocate memory for VSI Unicast Pseudo Wire list with VSI number %u.\r\n",
                               uiHeads);
            bFailed = true;
        } else {
            for (uint32_t i = 0; i < uiHeads; ++i) pbb::list::init(&g_pstPbb_VsiUcPwList[i].stLink);
            g_uiPbb_VsiUcPwHeadNum = uiHeads;
        }
    }

    uint16_t usVlanNum = static_cast<uint16_t>(VLAN_GetMaxVlanID() + 1);
    g_pstPbb_VlanUcPwList = static_cast<PbbUcPwLink*>(calloc(usVlanNum, sizeof(PbbUcPwLink)));
    if (g_pstPbb_VlanUcPwList == nullptr) {
        PBB_log_TracePrint("Failed to allocate memory for vlan Unicast Pseudo Wire list with VLAN number %u.\r\n",
                           static_cast<uint32_t>(usVlanNum));
        bFailed = true;
    } else {
        for (uint32_t i = 0; i < usVlanNum; ++i) pbb::list::init(&g_pstPbb_VlanUcPwList[i]);
        g_uiPbb_VlanUcPwHeadNum = usVlanNum;
    }

    g_ulPbb_IfUcPwHandle = IF_CreatePDInstance(IF_PD_KIND_IFINDEX, 0);
    if (g_ulPbb_IfUcPwHandle == PBB_INVALID_HANDLE) {
        PBB_log_TracePrint("Failed to create Unicast Pseudo Wire PdInstance.\r\n");
        bFailed = true;
    }

    g_pstPbb_BmacHashTbl = HASH_Create(PBB_UCPW_HASH_BUCKETS, _pbb_ucpw_GetBmacHashIndex);
    g_uiPbb_BmacHashGrowAt = PBB_UCPW_HASH_BUCKETS;
    if (g_pstPbb_BmacHashTbl == nullptr) {
        PBB_log_TracePrint("Failed to create Unicast Pseudo Wire hash table.\r\n");
        bFailed = true;
    }

    pbb::list::init(&g_stPbb_UcPwList.stLink);
    g_stPbb_UcPwList.uiCount = 0;

    BITMAP_S* pstMap = _pbb_ucpw_MallocAgeStatusMap();
    if (pstMap == nullptr) {
        PBB_log_TracePrint("Failed to allocate memory for Unicast Pseudo Wire age status map.\r\n");
        PBB_ucpw_Exit();
        return PBB_ERR;
    }
    _pbb_ucpw_FillAgeStatusMap(pstMap);
    g_pstPbb_AgeStatusMap = pstMap;

    if (bFailed) {
        PBB_ucpw_Exit();
        return PBB_ERR;
    }
    return PBB_OK;
}

void PBB_ucpw_Exit()
{
    if (g_pstPbb_AgeStatusMap != nullptr) {
        Bitmap_Destroy(g_pstPbb_AgeStatusMap);
        g_pstPbb_AgeStatusMap = nullptr;
    }

    PBB_ucpw_DeleteAll();
    PBB_pool_Exit(&g_stPbb_UcPwPool);
    pbb::tree::releaseNodes();

    if (g_pstPbb_BmacHashTbl != nullptr) {
        HASH_Destroy(g_pstPbb_BmacHashTbl, nullptr);
        g_pstPbb_BmacHashTbl = nullptr;
    }
    if (g_ulPbb_IfUcPwHandle != PBB_INVALID_HANDLE) {
        (void)IF_DestroyPDInstance(g_ulPbb_IfUcPwHandle, _pbb_ucpw_DestroyIfCb);
        g_ulPbb_IfUcPwHandle = PBB_INVALID_HANDLE;
    }
    g_uiPbb_VlanUcPwHeadNum = 0;
    g_uiPbb_VsiUcPwHeadNum = 0;
    if (g_pstPbb_VlanUcPwList != nullptr) {
        free(g_pstPbb_VlanUcPwList);
        g_pstPbb_VlanUcPwList = nullptr;
    }
    if (g_pstPbb_VsiUcPwList != nullptr) {
        free(g_pstPbb_VsiUcPwList);
        g_pstPbb_VsiUcPwList = nullptr;
    }
}

uint32_t PBB_ucpw_Add(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, const uint8_t* pucBMac,
                      uint32_t uiIfIndex)
{
    // A table that is not set up takes nothing.
    if (g_pstPbb_VsiUcPwList == nullptr || g_pstPbb_VlanUcPwList == nullptr || g_pstPbb_BmacHashTbl == nullptr ||
        g_ulPbb_IfUcPwHandle == PBB_INVALID_HANDLE || g_pstPbb_AgeStatusMap == nullptr)
        return PBB_ERR;
    // Nor an entry whose VSI or B-VLAN has no list.
    if (_pbb_ucpw_GetVsiHead(uiVsiIndex) == nullptr || _pbb_ucpw_GetVlanHead(usBVlan) == nullptr) return PBB_ERR;

    BITMAP_S* pstAgeStatus = _pbb_ucpw_MallocAgeStatusMap();
    if (pstAgeStatus == nullptr) return PBB_ERR;

    auto* pstEntry = static_cast<PbbUcPw*>(PBB_pool_Alloc(&g_stPbb_UcPwPool));
    if (pstEntry == nullptr) {
        _pbb_ucpw_LogNoMemory(uiVsiIndex, uiISid, usBVlan, pucBMac, uiIfIndex);
        Bitmap_Destroy(pstAgeStatus);
        return PBB_ERR;
    }
    Bitmap_Copy(pstAgeStatus, g_pstPbb_AgeStatusMap);
    pstEntry->pstAgeStatus = pstAgeStatus;
    pstEntry->uiVsiIndex = uiVsiIndex;
    pstEntry->uiISid = uiISid;
    pstEntry->usBVlan = usBVlan;
    std::memcpy(pstEntry->aucBMac, pucBMac, PBB_UCPW_BMAC_LEN);
    pstEntry->uiIfIndex = uiIfIndex;

    // Filed in the VSI's index behind every entry whose B-MAC is less than
    // or equal to the new one; pPrev and pNext, its neighbours there, place
    // it in the VSI's list below. The index may have no memory for a node.
    PbbUcPwVsiHead* pstVsiHead = &g_pstPbb_VsiUcPwList[uiVsiIndex];
    const uint64_t ulOrderKey = _pbb_ucpw_MacOrder(pucBMac);
    void* pPrev = nullptr;
    void* pNext = nullptr;
    if (pbb::tree::insert(&pstVsiHead->stOrder, ulOrderKey, pstEntry, &pPrev, &pNext) != PBB_OK) {
        _pbb_ucpw_LogNoMemory(uiVsiIndex, uiISid, usBVlan, pucBMac, uiIfIndex);
        _pbb_ucpw_FreeNode(pstEntry);
        return PBB_ERR;
    }

    PbbUcPwLink* pstIfHead = _pbb_ucpw_GetIfHead(uiIfIndex);
    if (pstIfHead == nullptr) {
        pstIfHead = static_cast<PbbUcPwLink*>(calloc(1, sizeof(PbbUcPwLink)));
        if (pstIfHead == nullptr) {
            if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) == 1) {
                char szIfName[IF_NAME_BUF_LEN] = "";
                (void)IF_GetDataByIfIndex(uiIfIndex, IF_DATA_FULL_NAME, szIfName);
                PBB_log_Print("ERROR",
                              "Failed to allocate memory for Unicast Pseudo Wire interface control block on "
                              "interface %s.\r\n",
                              szIfName);
            }
            (void)pbb::tree::erase(&pstVsiHead->stOrder, ulOrderKey, pstEntry);
            _pbb_ucpw_FreeNode(pstEntry);
            return PBB_ERR;
        }
        pbb::list::init(pstIfHead);
        if (IF_SetPrivateData(g_ulPbb_IfUcPwHandle, uiIfIndex, pstIfHead) != 0) {
            free(pstIfHead);
            (void)pbb::tree::erase(&pstVsiHead->stOrder, ulOrderKey, pstEntry);
            _pbb_ucpw_FreeNode(pstEntry);
            return PBB_ERR;
        }
    }

    pbb::list::pushFront(pstIfHead, &pstEntry->stIfNode);

    pbb::list::pushFront(&g_stPbb_UcPwList.stLink, &pstEntry->stAllNode);
    g_stPbb_UcPwList.uiCount++;

    _pbb_ucpw_OrderLink(pstVsiHead, pstEntry, pPrev, pNext);
    pstVsiHead->uiCount++;

    pbb::list::pushFront(&g_pstPbb_VlanUcPwList[usBVlan], &pstEntry->stVlanNode);

    _pbb_ucpw_HashInsert(pstEntry);
    _pbb_ucpw_HashGrow();
    return PBB_OK;
}

void PBB_ucpw_ReserveHash(uint32_t uiMore)
{
    const HASH_TABLE_S* pstTbl = g_pstPbb_BmacHashTbl;
    if (pstTbl == nullptr) return;
    const uint64_t ulWanted = static_cast<uint64_t>(g_stPbb_UcPwList.uiCount) + uiMore;
    uint32_t uiBuckets = pstTbl->uiBuckets;
    while (uiBuckets < ulWanted && uiBuckets < PBB_UCPW_HASH_MAX_BUCKETS) uiBuckets *= 2;
    if (uiBuckets != pstTbl->uiBuckets) (void)_pbb_ucpw_HashResize(uiBuckets);
}

PbbUcPw* PBB_ucpw_Get(uint32_t uiVsiIndex, uint16_t usBVlan, const uint8_t* pucBMac)
{
    if (g_pstPbb_BmacHashTbl == nullptr || pucBMac == nullptr) return nullptr;
    PbbUcPw stKey{};
    stKey.uiVsiIndex = uiVsiIndex;
    stKey.usBVlan = usBVlan;
    std::memcpy(stKey.aucBMac, pucBMac, PBB_UCPW_BMAC_LEN);
    HASH_NODE_S* pstNode = HASH_Find(g_pstPbb_BmacHashTbl, &stKey, _pbb_ucpw_BmacHashKeyCmp);
    return pstNode == nullptr ? nullptr : _pbb_ucpw_EntryOfHash(pstNode);
}

namespace {

// The B-MAC hash's bucket slot of the key; null without a table or key.
HASH_NODE_S* const* _pbb_ucpw_BucketOf(uint32_t uiVsiIndex, uint16_t usBVlan, const uint8_t* pucBMac)
{
    const HASH_TABLE_S* pstTbl = g_pstPbb_BmacHashTbl;
    if (pstTbl == nullptr || pucBMac == nullptr) return nullptr;
    PbbUcPw stKey{};
    stKey.uiVsiIndex = uiVsiIndex;
    stKey.usBVlan = usBVlan;
    std::memcpy(stKey.aucBMac, pucBMac, PBB_UCPW_BMAC_LEN);
    uint32_t uiBucket = pstTbl->pfIndex(&stKey);
    return uiBucket < pstTbl->uiBuckets ? &pstTbl->ppstBuckets[uiBucket] : nullptr;
}

}  // namespace

void PBB_ucpw_PrefetchBucketEntry(HASH_NODE_S* const* ppstBucket)
{
    if (ppstBucket == nullptr || *ppstBucket == nullptr) return;
    // The chain link and the fields the key compare reads.
    const PbbUcPw* pstEntry = _pbb_ucpw_EntryOfHash(*ppstBucket);
    __builtin_prefetch(&pstEntry->stHashNode);
    __builtin_prefetch(&pstEntry->aucBMac[PBB_UCPW_BMAC_LEN - 1]);
}

HASH_NODE_S* const* PBB_ucpw_PrefetchBucket(uint32_t uiVsiIndex, uint16_t usBVlan, const uint8_t* pucBMac)
{
    HASH_NODE_S* const* ppstBucket = _pbb_ucpw_BucketOf(uiVsiIndex, usBVlan, pucBMac);
    if (ppstBucket != nullptr) __builtin_prefetch(ppstBucket);
    return ppstBucket;
}

PbbUcPw* PBB_ucpw_GetFirst(uint32_t uiType, const PbbUcPwFilter* pstFilter)
{
    if (uiType == PBB_UCPW_GET_ALL) return _pbb_ucpw_First(&g_stPbb_UcPwList.stLink, PBB_UCPW_OFF_ALL);
    if (pstFilter == nullptr) return nullptr;

    switch (uiType) {
    case PBB_UCPW_GET_BY_VSI:
        return _pbb_ucpw_First(_pbb_ucpw_GetVsiHead(pstFilter->uiVsiIndex), PBB_UCPW_OFF_VSI);
    case PBB_UCPW_GET_BY_IF:
        return _pbb_ucpw_First(_pbb_ucpw_GetIfHead(pstFilter->uiIfIndex), PBB_UCPW_OFF_IF);
    case PBB_UCPW_GET_BY_VLAN:
        return _pbb_ucpw_First(_pbb_ucpw_GetVlanHead(pstFilter->usVlanId), PBB_UCPW_OFF_VLAN);
    case PBB_UCPW_GET_BY_VLAN_IF: {
        PbbUcPwLink* pstHead = _pbb_ucpw_GetVlanHead(pstFilter->usVlanId);
        for (PbbUcPw* pstEntry = _pbb_ucpw_First(pstHead, PBB_UCPW_OFF_VLAN); pstEntry != nullptr;
             pstEntry = _pbb_ucpw_After(pstHead, &pstEntry->stVlanNode, PBB_UCPW_OFF_VLAN)) {
            if (pstEntry->uiIfIndex == pstFilter->uiIfIndex) return pstEntry;
        }
        return nullptr;
    }
    case PBB_UCPW_GET_BY_IF_VSI: {
        PbbUcPwLink* pstHead = _pbb_ucpw_GetIfHead(pstFilter->uiIfIndex);
        for (PbbUcPw* pstEntry = _pbb_ucpw_First(pstHead, PBB_UCPW_OFF_IF); pstEntry != nullptr;
             pstEntry = _pbb_ucpw_After(pstHead, &pstEntry->stIfNode, PBB_UCPW_OFF_IF)) {
            if (pstEntry->uiVsiIndex == pstFilter->uiVsiIndex) return pstEntry;
        }
        return nullptr;
    }
    default:
        return nullptr;
    }
}

PbbUcPw* PBB_ucpw_GetNext(uint32_t uiType, const PbbUcPw* pstCurrent)
{
    if (pstCurrent == nullptr) return nullptr;

    switch (uiType) {
    case PBB_UCPW_GET_BY_VSI:
        return _pbb_ucpw_After(_pbb_ucpw_GetVsiHead(pstCurrent->uiVsiIndex), &pstCurrent->stVsiNode,
                               PBB_UCPW_OFF_VSI);
    case PBB_UCPW_GET_BY_IF:
        return _pbb_ucpw_After(_pbb_ucpw_GetIfHead(pstCurrent->uiIfIndex), &pstCurrent->stIfNode, PBB_UCPW_OFF_IF);
    case PBB_UCPW_GET_BY_VLAN:
        return _pbb_ucpw_After(_pbb_ucpw_GetVlanHead(pstCurrent->usBVlan), &pstCurrent->stVlanNode,
                               PBB_UCPW_OFF_VLAN);
    case PBB_UCPW_GET_BY_VLAN_IF: {
        PbbUcPwLink* pstHead = _pbb_ucpw_GetVlanHead(pstCurrent->usBVlan);
        for (PbbUcPw* pstEntry = _pbb_ucpw_After(pstHead, &pstCurrent->stVlanNode, PBB_UCPW_OFF_VLAN);
             pstEntry != nullptr; pstEntry = _pbb_ucpw_After(pstHead, &pstEntry->stVlanNode, PBB_UCPW_OFF_VLAN)) {
            if (pstEntry->uiIfIndex == pstCurrent->uiIfIndex) return pstEntry;
        }
        return nullptr;
    }
    case PBB_UCPW_GET_BY_IF_VSI: {
        PbbUcPwLink* pstHead = _pbb_ucpw_GetIfHead(pstCurrent->uiIfIndex);
        for (PbbUcPw* pstEntry = _pbb_ucpw_After(pstHead, &pstCurrent->stIfNode, PBB_UCPW_OFF_IF);
             pstEntry != nullptr; pstEntry = _pbb_ucpw_After(pstHead, &pstEntry->stIfNode, PBB_UCPW_OFF_IF)) {
            if (pstEntry->uiVsiIndex == pstCurrent->uiVsiIndex) return pstEntry;
        }
        return nullptr;
    }
    case PBB_UCPW_GET_ALL:
        return _pbb_ucpw_After(&g_stPbb_UcPwList.stLink, &pstCurrent->stAllNode, PBB_UCPW_OFF_ALL);
    default:
        return nullptr;
    }
}

// The first entry of the list greater than the B-MAC, found in the VSI's
// index, or the entry after the index's answer when that is the last entry
// of its leaf not greater.
PbbUcPw* PBB_ucpw_GetNextByIndex(uint32_t uiVsiIndex, const uint8_t* pucBMac)
{
    PbbUcPwLink* pstHead = _pbb_ucpw_GetVsiHead(uiVsiIndex);
    if (pstHead == nullptr || pucBMac == nullptr) return nullptr;
    bool bLast = false;
    auto* pstEntry = static_cast<PbbUcPw*>(
        pbb::tree::upperBound(&g_pstPbb_VsiUcPwList[uiVsiIndex].stOrder, _pbb_ucpw_MacOrder(pucBMac), &bLast));
    if (pstEntry == nullptr || !bLast) return pstEntry;
    return _pbb_ucpw_After(pstHead, &pstEntry->stVsiNode, PBB_UCPW_OFF_VSI);
}

uint32_t PBB_ucpw_GetTotalNum()
{
    return g_stPbb_UcPwList.uiCount;
}

uint32_t PBB_ucpw_GetNumByVsi(uint32_t uiVsiIndex)
{
    if (_pbb_ucpw_GetVsiHead(uiVsiIndex) == nullptr) return 0;
    return g_pstPbb_VsiUcPwList[uiVsiIndex].uiCount;
}

uint32_t PBB_ucpw_IsEmpty()
{
    return pbb::list::empty(&g_stPbb_UcPwList.stLink) ? 1 : 0;
}

uint32_t PBB_ucpw_IsEmptyByVsi(uint32_t uiVsiIndex)
{
    PbbUcPwLink* pstHead = _pbb_ucpw_GetVsiHead(uiVsiIndex);
    return (pstHead == nullptr || pbb::list::empty(pstHead)) ? 1 : 0;
}

uint32_t PBB_ucpw_IsEmptyByVlan(uint16_t usVlanId)
{
    PbbUcPwLink* pstHead = _pbb_ucpw_GetVlanHead(usVlanId);
    return (pstHead == nullptr || pbb::list::empty(pstHead)) ? 1 : 0;
}

uint32_t PBB_ucpw_IsEmptyByIf(uint32_t uiIfIndex)
{
    return _pbb_ucpw_GetIfHead(uiIfIndex) == nullptr ? 1 : 0;
}

void PBB_ucpw_Delete(PbbUcPw* pstEntry)
{
    if (pstEntry == nullptr) return;
    _pbb_ucpw_DeleteNode(pstEntry);
}

void PBB_ucpw_DeleteByVsi(uint32_t uiVsiIndex)
{
    PbbUcPwLink* pstHead = _pbb_ucpw_GetVsiHead(uiVsiIndex);
    if (pstHead == nullptr) return;
    pbb::tree::clear(&g_pstPbb_VsiUcPwList[uiVsiIndex].stOrder);  // every entry goes
    _pbb_ucpw_DeleteWalk(pstHead, PBB_UCPW_OFF_VSI, _pbb_ucpw_DeleteNode, PBB_UCPW_EVERY);
    pbb::list::init(pstHead);
    g_pstPbb_VsiUcPwList[uiVsiIndex].uiCount = 0;
}

void PBB_ucpw_DeleteByVlan(uint16_t usVlanId)
{
    PbbUcPwLink* pstHead = _pbb_ucpw_GetVlanHead(usVlanId);
    if (pstHead == nullptr) return;
    _pbb_ucpw_DeleteWalk(pstHead, PBB_UCPW_OFF_VLAN, _pbb_ucpw_DeleteNode, PBB_UCPW_EVERY);
    pbb::list::init(pstHead);
}

void PBB_ucpw_DeleteByVlanIf(uint16_t usVlanId, uint32_t uiIfIndex)
{
    PbbUcPwLink* pstHead = _pbb_ucpw_GetVlanHead(usVlanId);
    if (pstHead == nullptr) return;
    _pbb_ucpw_DeleteWalk(pstHead, PBB_UCPW_OFF_VLAN, _pbb_ucpw_DeleteNode,
                         [uiIfIndex](const PbbUcPw* pstEntry) { return pstEntry->uiIfIndex == uiIfIndex; });
}

void PBB_ucpw_DeleteByIf(uint32_t uiIfIndex)
{
    PbbUcPwLink* pstHead = _pbb_ucpw_GetIfHead(uiIfIndex);
    if (pstHead == nullptr) return;
    _pbb_ucpw_DeleteWalk(pstHead, PBB_UCPW_OFF_IF, _pbb_ucpw_DeleteIfNode, PBB_UCPW_EVERY);
    pbb::list::init(pstHead);
    (void)IF_DelPrivateData(g_ulPbb_IfUcPwHandle, uiIfIndex, _pbb_ucpw_DestroyIfCb);
}

void PBB_ucpw_DeleteByIfVsi(uint32_t uiIfIndex, uint32_t uiVsiIndex)
{
    PbbUcPwLink* pstHead = _pbb_ucpw_GetIfHead(uiIfIndex);
    if (pstHead == nullptr) return;
    _pbb_ucpw_DeleteWalk(pstHead, PBB_UCPW_OFF_IF, _pbb_ucpw_DeleteIfNode,
                         [uiVsiIndex](const PbbUcPw* pstEntry) { return pstEntry->uiVsiIndex == uiVsiIndex; });
    if (pbb::list::empty(pstHead)) (void)IF_DelPrivateData(g_ulPbb_IfUcPwHandle, uiIfIndex, _pbb_ucpw_DestroyIfCb);
}

void PBB_ucpw_DeleteAll()
{
    for (uint32_t i = 0; i < g_uiPbb_VsiUcPwHeadNum; ++i) pbb::tree::clear(&g_pstPbb_VsiUcPwList[i].stOrder);
    PbbUcPwLink* pstHead = &g_stPbb_UcPwList.stLink;
    _pbb_ucpw_DeleteWalk(pstHead, PBB_UCPW_OFF_ALL, _pbb_ucpw_DeleteEveryNode, PBB_UCPW_EVERY);
    // What the walk left linked to the freed entries.
    for (uint32_t i = 0; i < g_uiPbb_VsiUcPwHeadNum; ++i) {
        pbb::list::init(&g_pstPbb_VsiUcPwList[i].stLink);
        g_pstPbb_VsiUcPwList[i].uiCount = 0;
    }
    for (uint32_t i = 0; i < g_uiPbb_VlanUcPwHeadNum; ++i) pbb::list::init(&g_pstPbb_VlanUcPwList[i]);
    if (g_pstPbb_BmacHashTbl != nullptr)
        std::fill_n(g_pstPbb_BmacHashTbl->ppstBuckets, g_pstPbb_BmacHashTbl->uiBuckets, nullptr);
    pbb::list::init(pstHead);
    g_stPbb_UcPwList.uiCount = 0;
}

void PBB_ucpw_SetAgeStatus(uint16_t usStatus, uint16_t usSlot, PbbUcPw* pstEntry)
{
    if (pstEntry == nullptr || pstEntry->pstAgeStatus == nullptr) return;
    _pbb_ucpw_ApplyAgeStatus(pstEntry->pstAgeStatus, usStatus, usSlot);
}

void PBB_ucpw_SetAgeStatusSlot(uint16_t usStatus, uint16_t usSlot)
{
    if (g_pstPbb_AgeStatusMap != nullptr) _pbb_ucpw_ApplyAgeStatus(g_pstPbb_AgeStatusMap, usStatus, usSlot);
    PbbUcPwLink* pstHead = &g_stPbb_UcPwList.stLink;
    for (PbbUcPwLink* pstLink = pstHead->pstNext; pstLink != pstHead; pstLink = pstLink->pstNext)
        PBB_ucpw_SetAgeStatus(usStatus, usSlot, _pbb_ucpw_EntryOf(pstLink, PBB_UCPW_OFF_ALL));
}
