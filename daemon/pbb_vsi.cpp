#include "daemon/pbb_vsi.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_list.h"
#include "daemon/pbb_log.h"
#include "platform/l2vpn.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

PbbVsi** g_ppstVsi = nullptr;
uint32_t g_uiPbbMaxVsiIndex = 0;
HASH_TABLE_S* g_pstPbb_IsidHashTbl = nullptr;

namespace {

// Lookups by name. A scan of the table from index 0 answers the lowest
// index whose name matches over at most PBB_VSI_NAME_LEN bytes. Once a
// table that has not changed is asked by name again and again (every step
// of a management walk names its VSI), an index of the names answers
// instead: each name to the lowest index that holds it, built from the
// table after PBB_VSI_NAME_SCANS scans since a VSI was created or deleted.
// The daemon names a VSI right after creating it and renames none, so the
// index holds every name as the table does; still, an answer is checked
// against the record, and a name the index does not hold is scanned for.
constexpr uint32_t PBB_VSI_NAME_SCANS = 16;

struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
std::unordered_map<std::string, uint32_t, NameHash, std::equal_to<>> g_mapPbbVsiByName;
bool g_bPbbVsiNamesIndexed = false;
uint32_t g_uiPbbVsiNameScans = 0;

// A name as the lookups compare it: up to its NUL, at most
// PBB_VSI_NAME_LEN bytes.
std::string_view _pbb_vsi_NameKey(const char* szName)
{
    return {szName, strnlen(szName, PBB_VSI_NAME_LEN)};
}

// A VSI was created or deleted: the index no longer holds the table, and
// its memory goes.
void _pbb_vsi_NamesChanged()
{
    g_bPbbVsiNamesIndexed = false;
    g_uiPbbVsiNameScans = 0;
    if (!g_mapPbbVsiByName.empty()) decltype(g_mapPbbVsiByName)().swap(g_mapPbbVsiByName);
}

void _pbb_vsi_IndexNames()
{
    try {
        for (uint32_t i = 0; i <= g_uiPbbMaxVsiIndex; ++i)
            if (g_ppstVsi[i] != nullptr) (void)g_mapPbbVsiByName.emplace(_pbb_vsi_NameKey(g_ppstVsi[i]->szVsiName), i);
        g_bPbbVsiNamesIndexed = true;
    } catch (...) {
        // Short of memory: the scans go on.
        _pbb_vsi_NamesChanged();
    }
}

// The record at the index, when there is one and it has the name.
PbbVsi* _pbb_vsi_NamedAt(uint32_t uiVsiIndex, const char* szVsiName)
{
    PbbVsi* pstVsi = g_ppstVsi[uiVsiIndex];
    return pstVsi != nullptr && strncmp(pstVsi->szVsiName, szVsiName, PBB_VSI_NAME_LEN) == 0 ? pstVsi : nullptr;
}

PbbVsi* _pbb_vsi_ScanByName(const char* szVsiName)
{
    for (uint32_t i = 0; i <= g_uiPbbMaxVsiIndex; ++i)
        if (PbbVsi* pstVsi = _pbb_vsi_NamedAt(i, szVsiName)) return pstVsi;
    return nullptr;
}

// The I-SID node and the hash service's node share their first two links
// (checked in the header); these two are the only conversions between them.
HASH_NODE_S* _pbb_vsi_AsHashNode(PbbISidNode* pstNode)
{
    return reinterpret_cast<HASH_NODE_S*>(pstNode);
}

const PbbISidNode* _pbb_vsi_AsISidNode(const HASH_NODE_S* pstNode)
{
    return reinterpret_cast<const PbbISidNode*>(pstNode);
}

void _pbb_vsi_FreeISidNode(HASH_NODE_S* pstNode)
{
    free(pstNode);
}

bool _pbb_vsi_IndexValid(uint32_t uiVsiIndex)
{
    return g_ppstVsi != nullptr && uiVsiIndex <= g_uiPbbMaxVsiIndex;
}

// Removes the first node of the I-SID's bucket that carries the I-SID.
void _pbb_vsi_UnlinkISid(uint32_t uiISid)
{
    if (g_pstPbb_IsidHashTbl == nullptr) return;
    HASH_NODE_S* pstNode = HASH_Find(g_pstPbb_IsidHashTbl, &uiISid, _pbb_vsi_ISidKeyCmp);
    if (pstNode == nullptr) return;
    *pstNode->ppstPrev = pstNode->pstNext;
    if (pstNode->pstNext != nullptr) pstNode->pstNext->ppstPrev = pstNode->ppstPrev;
    free(pstNode);
}

// Links a new node for the I-SID at the head of its bucket.
void _pbb_vsi_LinkISid(uint32_t uiVsiIndex, uint32_t uiISid)
{
    if (g_pstPbb_IsidHashTbl == nullptr) return;
    auto* pstISid = static_cast<PbbISidNode*>(calloc(1, sizeof(PbbISidNode)));
    if (pstISid == nullptr) {
        if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) == 1)
            PBB_log_Print("ERROR", "Failed to allocate memory for hash node for VSI(VsiIndex %u).\r\n", uiVsiIndex);
        return;
    }
    pstISid->uiISid = uiISid;
    pstISid->uiVsiIndex = uiVsiIndex;

    HASH_NODE_S* pstNode = _pbb_vsi_AsHashNode(pstISid);
    HASH_NODE_S** ppstHead = &g_pstPbb_IsidHashTbl->ppstBuckets[g_pstPbb_IsidHashTbl->pfIndex(&uiISid)];
    pstNode->ppstPrev = ppstHead;
    pstNode->pstNext = *ppstHead;
    if (*ppstHead != nullptr) (*ppstHead)->ppstPrev = &pstNode->pstNext;
    *ppstHead = pstNode;
}

}  // namespace

// Multiplicative hashing: the top bits of the I-SID times 2^32 over the
// golden ratio. Consecutive I-SIDs, and I-SIDs a constant step apart, land
// in different buckets.
uint32_t _pbb_vsi_GetISidHashIndex(const void* pKey)
{
    uint32_t uiBuckets = g_pstPbb_IsidHashTbl != nullptr ? g_pstPbb_IsidHashTbl->uiBuckets : PBB_VSI_ISID_BUCKETS;
    uint32_t uiHash = *static_cast<const uint32_t*>(pKey) * 0x9E3779B1u;
    return uiHash >> (32 - std::countr_zero(uiBuckets));
}

int _pbb_vsi_ISidKeyCmp(const HASH_NODE_S* pstNode, const void* pKey)
{
    return _pbb_vsi_AsISidNode(pstNode)->uiISid == *static_cast<const uint32_t*>(pKey) ? 0 : 1;
}

uint32_t PBB_vsi_Init()
{
    if (g_ppstVsi != nullptr) return PBB_OK;

    uint32_t uiMaxVsiNum = 0;
    uint32_t uiUsedVsiNum = 0;
    // A count of 0 would leave no usable index (and no maximum index to
    // store), so it fails start-up like an unreadable count.
    if (L2VPN_GetMaxVsiNum(&uiMaxVsiNum, &uiUsedVsiNum) != 0 || uiMaxVsiNum == 0) return PBB_ERR;

    auto** ppstVsi = static_cast<PbbVsi**>(calloc(uiMaxVsiNum, sizeof(PbbVsi*)));
    if (ppstVsi == nullptr) return PBB_ERR;

    // One bucket or more per VSI, a power of two.
    uint32_t uiBuckets = PBB_VSI_ISID_BUCKETS;
    while (uiBuckets < uiMaxVsiNum && uiBuckets < (1u << 31)) uiBuckets <<= 1;
    HASH_TABLE_S* pstTable = HASH_Create(uiBuckets, _pbb_vsi_GetISidHashIndex);
    if (pstTable == nullptr) {
        free(static_cast<void*>(ppstVsi));
        return PBB_ERR;
    }

    g_ppstVsi = ppstVsi;
    g_uiPbbMaxVsiIndex = uiMaxVsiNum - 1;
    g_pstPbb_IsidHashTbl = pstTable;
    return PBB_OK;
}

void PBB_vsi_Exit()
{
    if (g_pstPbb_IsidHashTbl != nullptr) {
        HASH_Destroy(g_pstPbb_IsidHashTbl, _pbb_vsi_FreeISidNode);
        g_pstPbb_IsidHashTbl = nullptr;
    }
    if (g_ppstVsi != nullptr) {
        for (uint32_t i = 0; i <= g_uiPbbMaxVsiIndex; ++i) PBB_vsi_DeleteVsi(i);
        free(static_cast<void*>(g_ppstVsi));
        g_ppstVsi = nullptr;
    }
    _pbb_vsi_NamesChanged();
    g_uiPbbMaxVsiIndex = 0;
}

PbbVsi* PBB_vsi_GetVsiByIndex(uint32_t uiVsiIndex)
{
    if (!_pbb_vsi_IndexValid(uiVsiIndex)) return nullptr;
    return g_ppstVsi[uiVsiIndex];
}

PbbVsi* PBB_vsi_CreateVsi(uint32_t uiVsiIndex)
{
    if (!_pbb_vsi_IndexValid(uiVsiIndex)) return nullptr;
    if (g_ppstVsi[uiVsiIndex] != nullptr) return g_ppstVsi[uiVsiIndex];

    auto* pstVsi = static_cast<PbbVsi*>(calloc(1, sizeof(PbbVsi)));
    if (pstVsi == nullptr) {
        if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) == 1)
            PBB_log_Print("ERROR", "Failed to allocate memory for control block on VSI(VsiIndex %u).\r\n",
                          uiVsiIndex);
        return nullptr;
    }
    pstVsi->uiVsiIndex = uiVsiIndex;
    pstVsi->uiISid = 0;
    pstVsi->usBVlan = PBB_BVLAN_NONE;
    pstVsi->uiEncapType = PBB_ENCAP_DEFAULT;
    pbb::list::init(&pstVsi->stUplinkList);
    g_ppstVsi[uiVsiIndex] = pstVsi;
    _pbb_vsi_NamesChanged();
    return pstVsi;
}

void PBB_vsi_DeleteVsi(uint32_t uiVsiIndex)
{
    PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(uiVsiIndex);
    if (pstVsi == nullptr) return;
    PbbUplink* pstHead = &pstVsi->stUplinkList;
    while (!pbb::list::empty(pstHead)) {
        PbbUplink* pstUplink = pstHead->pstNext;
        pbb::list::unlink(pstUplink);
        free(pstUplink);
    }
    free(pstVsi);
    g_ppstVsi[uiVsiIndex] = nullptr;
    _pbb_vsi_NamesChanged();
}

void PBB_vsi_SetISid(uint32_t uiVsiIndex, uint32_t uiISid)
{
    PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(uiVsiIndex);
    if (pstVsi == nullptr) return;
    _pbb_vsi_UnlinkISid(pstVsi->uiISid);
    if (uiISid != 0) _pbb_vsi_LinkISid(uiVsiIndex, uiISid);
    // Recorded even when the node could not be allocated: the VSI then has
    // its I-SID but cannot be found by it.
    pstVsi->uiISid = uiISid;
}

uint32_t PBB_vsi_GetIndexByISid(uint32_t uiISid)
{
    if (g_pstPbb_IsidHashTbl == nullptr) return PBB_VSI_INVALID_INDEX;
    const HASH_NODE_S* pstNode = HASH_Find(g_pstPbb_IsidHashTbl, &uiISid, _pbb_vsi_ISidKeyCmp);
    if (pstNode == nullptr) return PBB_VSI_INVALID_INDEX;
    return _pbb_vsi_AsISidNode(pstNode)->uiVsiIndex;
}

PbbVsi* PBB_vsi_GetFirstVsi()
{
    if (g_ppstVsi == nullptr) return nullptr;
    for (uint32_t i = 0; i <= g_uiPbbMaxVsiIndex; ++i)
        if (g_ppstVsi[i] != nullptr) return g_ppstVsi[i];
    return nullptr;
}

PbbVsi* PBB_vsi_GetNextVsi(uint32_t uiVsiIndex)
{
    if (g_ppstVsi == nullptr || uiVsiIndex >= g_uiPbbMaxVsiIndex) return nullptr;
    for (uint32_t i = uiVsiIndex + 1; i <= g_uiPbbMaxVsiIndex; ++i)
        if (g_ppstVsi[i] != nullptr) return g_ppstVsi[i];
    return nullptr;
}

PbbVsi* PBB_vsi_GetVsiByName(const char* szVsiName)
{
    if (g_ppstVsi == nullptr || szVsiName == nullptr) return nullptr;
    if (!g_bPbbVsiNamesIndexed && ++g_uiPbbVsiNameScans >= PBB_VSI_NAME_SCANS) _pbb_vsi_IndexNames();
    if (g_bPbbVsiNamesIndexed) {
        auto it = g_mapPbbVsiByName.find(_pbb_vsi_NameKey(szVsiName));
        if (it != g_mapPbbVsiByName.end())
            if (PbbVsi* pstVsi = _pbb_vsi_NamedAt(it->second, szVsiName)) return pstVsi;
    }
    return _pbb_vsi_ScanByName(szVsiName);
}

uint32_t PBB_vsi_GetIndexByName(const char* szVsiName)
{
    const PbbVsi* pstVsi = PBB_vsi_GetVsiByName(szVsiName);
    return pstVsi != nullptr ? pstVsi->uiVsiIndex : PBB_VSI_INVALID_INDEX;
}

PbbUplink* PBB_vsi_GetUplinkList(uint32_t uiVsiIndex)
{
    PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(uiVsiIndex);
    return pstVsi != nullptr ? &pstVsi->stUplinkList : nullptr;
}

PbbUplink* _pbb_vsi_GetUplink(uint32_t uiVsiIndex, uint32_t uiIfIndex)
{
    PbbUplink* pstHead = PBB_vsi_GetUplinkList(uiVsiIndex);
    if (pstHead == nullptr) return nullptr;
    // The list is sorted: stop at the first node that is not smaller.
    PbbUplink* pstNode = pstHead->pstNext;
    while (pstNode != pstHead && pstNode->uiIfIndex < uiIfIndex) pstNode = pstNode->pstNext;
    if (pstNode != pstHead && pstNode->uiIfIndex == uiIfIndex) return pstNode;
    return nullptr;
}

PbbUplink* PBB_vsi_AddUplink(uint32_t uiVsiIndex, uint32_t uiIfIndex)
{
    PbbUplink* pstUplink = _pbb_vsi_GetUplink(uiVsiIndex, uiIfIndex);
    if (pstUplink != nullptr) return pstUplink;

    PbbUplink* pstHead = PBB_vsi_GetUplinkList(uiVsiIndex);
    if (pstHead == nullptr) return nullptr;

    pstUplink = static_cast<PbbUplink*>(calloc(1, sizeof(PbbUplink)));
    if (pstUplink == nullptr) {
        if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) == 1)
            PBB_log_Print("ERROR", "Failed to allocate memory for uplink node for VSI(VsiIndex %u).\r\n", uiVsiIndex);
        return nullptr;
    }
    pstUplink->uiIfIndex = uiIfIndex;
    pbb::list::insertOrdered(pstHead, pstUplink,
                             [](const PbbUplink* a, const PbbUplink* b) { return a->uiIfIndex < b->uiIfIndex; });
    return pstUplink;
}

void PBB_vsi_DeleteUplink(uint32_t uiVsiIndex, uint32_t uiIfIndex)
{
    PbbUplink* pstUplink = _pbb_vsi_GetUplink(uiVsiIndex, uiIfIndex);
    if (pstUplink == nullptr) return;
    pbb::list::unlink(pstUplink);
    free(pstUplink);
}
