#include "daemon/pbb_mcpw.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_list.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_vsi.h"

#include <cstddef>
#include <cstdlib>

PbbMcNode g_stPbbMcList = {&g_stPbbMcList, &g_stPbbMcList};

// Beside the list, the entry of each VSI index, so that a lookup (made for
// every received frame) does not walk the list: slot i holds the first
// entry of the list with VSI index i, or null. Sized from the VSI table at
// initialisation; without it, or for an index beyond it, lookups walk the
// list as before.
PbbMcPw** g_ppstPbbMcByVsi = nullptr;
uint32_t g_uiPbbMcByVsiNum = 0;

// The list link is the entry's first field, so an entry and its link share
// their address.
static_assert(offsetof(PbbMcPw, stMcNode) == 0);
static_assert(offsetof(PbbMcPort, stLink) == 0);
static_assert(sizeof(PbbMcPortLink) == 2 * sizeof(void*));

namespace {

PbbMcPw* _pbb_mcpw_Entry(PbbMcNode* pstNode)
{
    return reinterpret_cast<PbbMcPw*>(pstNode);
}

PbbMcPort* _pbb_mcpw_Port(PbbMcPortLink* pstLink)
{
    return reinterpret_cast<PbbMcPort*>(pstLink);
}

void _pbb_mcpw_FreeNode(PbbMcPw* pstMcPw)
{
    if (pstMcPw == nullptr) return;
    PbbMcPortLink* pstHead = &pstMcPw->stPortList;
    while (!pbb::list::empty(pstHead)) {
        PbbMcPortLink* pstLink = pstHead->pstNext;
        pbb::list::unlink(pstLink);
        free(_pbb_mcpw_Port(pstLink));
    }
    pstMcPw->uiPortNum = 0;
    free(pstMcPw);
}

PbbMcPort* _pbb_mcpw_FindPort(const PbbMcPw* pstMcPw, uint32_t uiIfIndex)
{
    const PbbMcPortLink* pstHead = &pstMcPw->stPortList;
    for (PbbMcPortLink* pstLink = pstHead->pstNext; pstLink != pstHead; pstLink = pstLink->pstNext)
        if (_pbb_mcpw_Port(pstLink)->uiIfIndex == uiIfIndex) return _pbb_mcpw_Port(pstLink);
    return nullptr;
}

}  // namespace

void PBB_mcpw_GroupMac(uint32_t uiISid, uint8_t* pucMac)
{
    pucMac[0] = 0x01;
    pucMac[1] = 0x1E;
    pucMac[2] = 0x83;
    pucMac[3] = static_cast<uint8_t>(uiISid >> 16);
    pucMac[4] = static_cast<uint8_t>(uiISid >> 8);
    pucMac[5] = static_cast<uint8_t>(uiISid);
}

uint32_t PBB_mcpw_Init()
{
    // Entries left from an earlier run of the module are not kept.
    PBB_mcpw_Exit();
    pbb::list::init(&g_stPbbMcList);
    if (g_ppstVsi != nullptr) {
        uint32_t uiNum = g_uiPbbMaxVsiIndex + 1;
        g_ppstPbbMcByVsi = static_cast<PbbMcPw**>(calloc(uiNum, sizeof(PbbMcPw*)));
        if (g_ppstPbbMcByVsi != nullptr) g_uiPbbMcByVsiNum = uiNum;
    }
    return PBB_OK;
}

void PBB_mcpw_Exit()
{
    PbbMcNode* pstHead = &g_stPbbMcList;
    while (!pbb::list::empty(pstHead)) {
        PbbMcNode* pstNode = pstHead->pstNext;
        pbb::list::unlink(pstNode);
        _pbb_mcpw_FreeNode(_pbb_mcpw_Entry(pstNode));
    }
    free(static_cast<void*>(g_ppstPbbMcByVsi));
    g_ppstPbbMcByVsi = nullptr;
    g_uiPbbMcByVsiNum = 0;
}

PbbMcPw* PBB_mcpw_Create(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan)
{
    auto* pstMcPw = static_cast<PbbMcPw*>(calloc(1, sizeof(PbbMcPw)));
    if (pstMcPw == nullptr) {
        if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) == 1)
            PBB_log_Print("ERROR",
                          "Failed to allocate memory for Multicast Pseudo Wire entry with VsiIndex %u, I-SID %u, "
                          "B-VLAN %u.\r\n",
                          uiVsiIndex, uiISid, static_cast<unsigned>(usBVlan));
        return nullptr;
    }
    pbb::list::init(&pstMcPw->stPortList);
    pstMcPw->usBVlan = usBVlan;
    pstMcPw->uiVsiIndex = uiVsiIndex;
    pstMcPw->uiISid = uiISid;
    PBB_mcpw_GroupMac(uiISid, pstMcPw->aucMcMac);
    pstMcPw->uiPortNum = 0;
    // Behind every entry whose VSI index is not greater: before the first
    // entry above its index, else at the back.
    PbbMcPw* pstAbove = PBB_mcpw_GetNextByIndex(uiVsiIndex);
    pbb::list::insertBefore(pstAbove != nullptr ? &pstAbove->stMcNode : &g_stPbbMcList, &pstMcPw->stMcNode);
    // An entry goes behind those of its index: the slot keeps the first.
    if (uiVsiIndex < g_uiPbbMcByVsiNum && g_ppstPbbMcByVsi[uiVsiIndex] == nullptr)
        g_ppstPbbMcByVsi[uiVsiIndex] = pstMcPw;
    return pstMcPw;
}

void PBB_mcpw_Destroy(PbbMcPw* pstMcPw)
{
    if (pstMcPw == nullptr) return;
    const uint32_t uiVsiIndex = pstMcPw->uiVsiIndex;
    if (uiVsiIndex < g_uiPbbMcByVsiNum && g_ppstPbbMcByVsi[uiVsiIndex] == pstMcPw) {
        PbbMcNode* pstNext = pstMcPw->stMcNode.pstNext;
        g_ppstPbbMcByVsi[uiVsiIndex] =
            pstNext != &g_stPbbMcList && _pbb_mcpw_Entry(pstNext)->uiVsiIndex == uiVsiIndex ? _pbb_mcpw_Entry(pstNext)
                                                                                          : nullptr;
    }
    pbb::list::unlink(&pstMcPw->stMcNode);
    _pbb_mcpw_FreeNode(pstMcPw);
}

uint32_t PBB_mcpw_AddPort(PbbMcPw* pstMcPw, uint32_t uiIfIndex)
{
    if (pstMcPw == nullptr) return PBB_ERR;
    auto* pstPort = static_cast<PbbMcPort*>(calloc(1, sizeof(PbbMcPort)));
    if (pstPort == nullptr) return PBB_ERR;
    pstPort->uiIfIndex = uiIfIndex;
    pbb::list::insertOrdered(&pstMcPw->stPortList, &pstPort->stLink, [](PbbMcPortLink* a, PbbMcPortLink* b) {
        return _pbb_mcpw_Port(a)->uiIfIndex < _pbb_mcpw_Port(b)->uiIfIndex;
    });
    ++pstMcPw->uiPortNum;
    return PBB_OK;
}

void PBB_mcpw_DeletePort(PbbMcPw* pstMcPw, uint32_t uiIfIndex)
{
    if (pstMcPw == nullptr) return;
    PbbMcPort* pstPort = _pbb_mcpw_FindPort(pstMcPw, uiIfIndex);
    if (pstPort == nullptr) return;
    pbb::list::unlink(&pstPort->stLink);
    free(pstPort);
    --pstMcPw->uiPortNum;
}

uint32_t PBB_mcpw_IsPortExist(const PbbMcPw* pstMcPw, uint32_t uiIfIndex)
{
    if (pstMcPw == nullptr) return 0;
    return _pbb_mcpw_FindPort(pstMcPw, uiIfIndex) != nullptr ? 1 : 0;
}

PbbMcPw* PBB_mcpw_Get(uint32_t uiVsiIndex)
{
    if (uiVsiIndex < g_uiPbbMcByVsiNum) return g_ppstPbbMcByVsi[uiVsiIndex];
    PbbMcNode* pstHead = &g_stPbbMcList;
    for (PbbMcNode* pstNode = pstHead->pstNext; pstNode != pstHead; pstNode = pstNode->pstNext)
        if (_pbb_mcpw_Entry(pstNode)->uiVsiIndex == uiVsiIndex) return _pbb_mcpw_Entry(pstNode);
    return nullptr;
}

PbbMcPw* PBB_mcpw_GetFirst()
{
    if (pbb::list::empty(&g_stPbbMcList)) return nullptr;
    return _pbb_mcpw_Entry(g_stPbbMcList.pstNext);
}

PbbMcPw* PBB_mcpw_GetNext(const PbbMcPw* pstMcPw)
{
    if (pstMcPw == nullptr) return nullptr;
    PbbMcNode* pstNext = pstMcPw->stMcNode.pstNext;
    return pstNext != &g_stPbbMcList ? _pbb_mcpw_Entry(pstNext) : nullptr;
}

PbbMcPw* PBB_mcpw_GetNextByIndex(uint32_t uiVsiIndex)
{
    // The list is in VSI index order: when its last entry is not above the
    // index, none is (a walk's last step, additions in ascending order).
    PbbMcNode* pstHead = &g_stPbbMcList;
    if (pstHead->pstPrev == pstHead || _pbb_mcpw_Entry(pstHead->pstPrev)->uiVsiIndex <= uiVsiIndex) return nullptr;
    // The first filled slot above the index holds the first entry above it.
    // A walk of every entry reads each slot once in all, where a walk of
    // the list from its head for each step read half the list a step.
    for (uint64_t i = static_cast<uint64_t>(uiVsiIndex) + 1; i < g_uiPbbMcByVsiNum; ++i)
        if (g_ppstPbbMcByVsi[i] != nullptr) return g_ppstPbbMcByVsi[i];
    // Without slots, or with none filled above the index: an entry beyond
    // the slots, found in the list.
    for (PbbMcNode* pstNode = pstHead->pstNext; pstNode != pstHead; pstNode = pstNode->pstNext)
        if (_pbb_mcpw_Entry(pstNode)->uiVsiIndex > uiVsiIndex) return _pbb_mcpw_Entry(pstNode);
    return nullptr;
}
