#include "daemon/pbb_ctl.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_list.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "platform/dbm.h"
#include "platform/ifm.h"
#include "platform/l2vpn.h"

#include <cstdlib>
#include <cstring>

namespace {

// A VSI name into a 32-byte field: zero-filled, at most 31 characters.
void _pbb_ctl_CopyName(char* szDest, const char* szSrc)
{
    memset(szDest, 0, PBB_VSI_NAME_LEN);
    memcpy(szDest, szSrc, strnlen(szSrc, PBB_VSI_NAME_LEN - 1));
}

// ---------------------------------------------------------------------------
// Unicast resets
// ---------------------------------------------------------------------------

// Driver step of a bulk reset: every entry of the walk leaves the driver;
// the table is not changed. uiDriverVsi is the VSI index handed to the
// driver, or PBB_VSI_INVALID_INDEX for each entry's own.
void _pbb_ctl_DriverDeleteWalk(uint32_t uiType, const PbbUcPwFilter* pstFilter, uint32_t uiDriverVsi)
{
    PbbUcPw* pstEntry = PBB_ucpw_GetFirst(uiType, pstFilter);
    while (pstEntry != nullptr) {
        PbbUcPw* pstNext = PBB_ucpw_GetNext(uiType, pstEntry);
        uint32_t uiVsi = uiDriverVsi != PBB_VSI_INVALID_INDEX ? uiDriverVsi : pstEntry->uiVsiIndex;
        PBB_l2vpn_DeleteUcPw(uiVsi, pstEntry->uiISid, pstEntry->aucBMac);
        pstEntry = pstNext;
    }
}

bool _pbb_ctl_IfListHas(uint32_t uiCount, const uint32_t* puiIfIndex, uint32_t uiIfIndex)
{
    for (uint32_t i = 0; i < uiCount; ++i)
        if (puiIfIndex[i] == uiIfIndex) return true;
    return false;
}

// Deletes from the driver and at once from the table every entry of the
// walk that passes the filter function.
template <typename Pass>
void _pbb_ctl_DeleteWalkIf(uint32_t uiType, const PbbUcPwFilter* pstFilter, uint32_t uiDriverVsi, Pass pass)
{
    PbbUcPw* pstEntry = PBB_ucpw_GetFirst(uiType, pstFilter);
    while (pstEntry != nullptr) {
        PbbUcPw* pstNext = PBB_ucpw_GetNext(uiType, pstEntry);
        if (pass(pstEntry)) {
            uint32_t uiVsi = uiDriverVsi != PBB_VSI_INVALID_INDEX ? uiDriverVsi : pstEntry->uiVsiIndex;
            PBB_l2vpn_DeleteUcPw(uiVsi, pstEntry->uiISid, pstEntry->aucBMac);
            PBB_ucpw_Delete(pstEntry);
        }
        pstEntry = pstNext;
    }
}

}  // namespace

void PBB_ctl_ResetUcPw(uint32_t uiVsiIndex, uint16_t usBVlan, const uint8_t* pucBMac)
{
    if (pucBMac == nullptr) return;
    PbbUcPw* pstEntry = PBB_ucpw_Get(uiVsiIndex, usBVlan, pucBMac);
    if (pstEntry == nullptr) return;
    PBB_l2vpn_DeleteUcPw(pstEntry->uiVsiIndex, pstEntry->uiISid, pucBMac);
    (void)PBB_dbmsave_DeleteUcPw(pstEntry);
    PBB_ucpw_Delete(pstEntry);
}

// The bulk resets: driver, then database (whose scan is skipped when the
// table holds nothing of the selection, so it runs before the table step),
// then table.
void PBB_ctl_ResetUcPwByVsi(uint32_t uiVsiIndex)
{
    PbbUcPwFilter stFilter{};
    stFilter.uiVsiIndex = uiVsiIndex;
    _pbb_ctl_DriverDeleteWalk(PBB_UCPW_GET_BY_VSI, &stFilter, uiVsiIndex);
    (void)PBB_dbmsave_DeleteUcPwByVsi(uiVsiIndex);
    PBB_ucpw_DeleteByVsi(uiVsiIndex);
}

void PBB_ctl_ResetUcPwByIf(uint32_t uiIfIndex)
{
    PbbUcPwFilter stFilter{};
    stFilter.uiIfIndex = uiIfIndex;
    _pbb_ctl_DriverDeleteWalk(PBB_UCPW_GET_BY_IF, &stFilter, PBB_VSI_INVALID_INDEX);
    (void)PBB_dbmsave_DeleteUcPwByIf(uiIfIndex);
    PBB_ucpw_DeleteByIf(uiIfIndex);
}

void PBB_ctl_ResetUcPwByVlan(uint16_t usBVlan)
{
    PbbUcPwFilter stFilter{};
    stFilter.usVlanId = usBVlan;
    _pbb_ctl_DriverDeleteWalk(PBB_UCPW_GET_BY_VLAN, &stFilter, PBB_VSI_INVALID_INDEX);
    (void)PBB_dbmsave_DeleteUcPwByBVlan(usBVlan);
    PBB_ucpw_DeleteByVlan(usBVlan);
}

void PBB_ctl_ResetUcPwByVlanIf(uint16_t usBVlan, uint32_t uiIfIndex)
{
    PbbUcPwFilter stFilter{};
    stFilter.usVlanId = usBVlan;
    stFilter.uiIfIndex = uiIfIndex;
    _pbb_ctl_DriverDeleteWalk(PBB_UCPW_GET_BY_VLAN_IF, &stFilter, PBB_VSI_INVALID_INDEX);
    (void)PBB_dbmsave_DeleteUcPwByIfBVlan(uiIfIndex, usBVlan);
    PBB_ucpw_DeleteByVlanIf(usBVlan, uiIfIndex);
}

void PBB_ctl_ResetUcPwAll()
{
    _pbb_ctl_DriverDeleteWalk(PBB_UCPW_GET_ALL, nullptr, PBB_VSI_INVALID_INDEX);
    (void)PBB_dbmsave_DeleteUcPwAll();
    PBB_ucpw_DeleteAll();
}

// The database takes an empty list as every interface; so do the driver
// and the table here, so that all three keep the same entries.
void PBB_ctl_ResetUcPwBatchWithVsi(uint32_t uiVsiIndex, uint32_t uiCount, const uint32_t* puiIfIndex)
{
    if (uiCount != 0 && puiIfIndex == nullptr) return;
    (void)PBB_dbmsave_DeleteUcPwByVsiIfList(uiVsiIndex, uiCount, puiIfIndex);
    PbbUcPwFilter stFilter{};
    stFilter.uiVsiIndex = uiVsiIndex;
    _pbb_ctl_DeleteWalkIf(PBB_UCPW_GET_BY_VSI, &stFilter, uiVsiIndex, [&](const PbbUcPw* pstEntry) {
        return uiCount == 0 || _pbb_ctl_IfListHas(uiCount, puiIfIndex, pstEntry->uiIfIndex);
    });
}

void PBB_ctl_ResetUcPwBatchWithoutVsi(const BITMAP_S* pstVlanBitmap, uint32_t uiCount, const uint32_t* puiIfIndex)
{
    if (pstVlanBitmap == nullptr || (uiCount != 0 && puiIfIndex == nullptr)) return;
    (void)PBB_dbmsave_DeleteUcPwByBVlanMapIfList(pstVlanBitmap, uiCount, puiIfIndex);
    auto inMap = [&](const PbbUcPw* pstEntry) { return Bitmap_Check(pstVlanBitmap, pstEntry->usBVlan) == 1; };

    if (uiCount != 0) {
        for (uint32_t i = 0; i < uiCount; ++i) {
            PbbUcPwFilter stFilter{};
            stFilter.uiIfIndex = puiIfIndex[i];
            _pbb_ctl_DeleteWalkIf(PBB_UCPW_GET_BY_IF, &stFilter, PBB_VSI_INVALID_INDEX, inMap);
        }
        return;
    }
    // Every interface: one walk of all entries.
    _pbb_ctl_DeleteWalkIf(PBB_UCPW_GET_ALL, nullptr, PBB_VSI_INVALID_INDEX, inMap);
}

// ---------------------------------------------------------------------------
// Multicast ports
// ---------------------------------------------------------------------------

uint32_t _pbb_ctl_IsNeedAddMcPwPort(const PbbVsi* pstVsi, const PbbIfCb* pstIfCb)
{
    if (pstVsi->usShutdownFlag == 1) return 0;
    if (pstIfCb->usAggMember == 1) return 0;
    if (pstIfCb->usLinkUp == 0) return 0;
    // No B-VLAN (0xFFFF) lies beyond every VLAN map and is never set.
    return Bitmap_Check(pstIfCb->pstVlanMap, pstVsi->usBVlan) != 0 ? 1 : 0;
}

void _pbb_ctl_AddMcPw(const PbbVsi* pstVsi, const uint32_t* puiPorts, uint32_t uiCount)
{
    if (PBB_l2vpn_AddMcPw(pstVsi->uiVsiIndex, pstVsi->uiISid, pstVsi->usBVlan, puiPorts, uiCount) != 0) return;
    PbbMcPw* pstMcPw = PBB_mcpw_Create(pstVsi->uiVsiIndex, pstVsi->uiISid, pstVsi->usBVlan);
    if (pstMcPw == nullptr) {
        PBB_l2vpn_DeleteMcPw(pstVsi->uiVsiIndex, pstVsi->uiISid);
        return;
    }
    for (uint32_t i = 0; i < uiCount; ++i) {
        if (PBB_mcpw_AddPort(pstMcPw, puiPorts[i]) != PBB_OK)
            PBB_l2vpn_DeleteMcPwPort(pstMcPw->uiVsiIndex, pstMcPw->uiISid, pstMcPw->usBVlan, puiPorts[i]);
    }
    if (pbb::list::empty(&pstMcPw->stPortList)) {
        PBB_l2vpn_DeleteMcPw(pstMcPw->uiVsiIndex, pstMcPw->uiISid);
        PBB_mcpw_Destroy(pstMcPw);
    }
}

uint32_t _pbb_ctl_AddMcPwPort(PbbMcPw* pstMcPw, uint32_t uiIfIndex)
{
    if (PBB_mcpw_IsPortExist(pstMcPw, uiIfIndex) == 1) return PBB_OK;
    uint32_t uiRet = PBB_l2vpn_AddMcPwPort(pstMcPw->uiVsiIndex, pstMcPw->uiISid, pstMcPw->usBVlan, uiIfIndex);
    if (uiRet != 0) return uiRet;
    uiRet = PBB_mcpw_AddPort(pstMcPw, uiIfIndex);
    if (uiRet != PBB_OK)
        PBB_l2vpn_DeleteMcPwPort(pstMcPw->uiVsiIndex, pstMcPw->uiISid, pstMcPw->usBVlan, uiIfIndex);
    return uiRet;
}

void PBB_ctl_ActiveMcPort(uint32_t uiVsiIndex, uint32_t uiIfIndex)
{
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(uiVsiIndex);
    if (pstIfCb == nullptr || pstVsi == nullptr) return;
    if (_pbb_ctl_IsNeedAddMcPwPort(pstVsi, pstIfCb) != 1) return;
    PbbMcPw* pstMcPw = PBB_mcpw_Get(uiVsiIndex);
    if (pstMcPw != nullptr) {
        (void)_pbb_ctl_AddMcPwPort(pstMcPw, uiIfIndex);
        return;
    }
    uint32_t auiPort[1] = {uiIfIndex};
    _pbb_ctl_AddMcPw(pstVsi, auiPort, 1);
}

void PBB_ctl_DeactiveMcPort(uint32_t uiVsiIndex, uint32_t uiIfIndex)
{
    PbbMcPw* pstMcPw = PBB_mcpw_Get(uiVsiIndex);
    if (pstMcPw == nullptr || PBB_mcpw_IsPortExist(pstMcPw, uiIfIndex) != 1) return;
    PBB_mcpw_DeletePort(pstMcPw, uiIfIndex);
    if (pbb::list::empty(&pstMcPw->stPortList)) {
        // The last port: the whole entry goes, the VSI is inactive.
        PBB_l2vpn_DeleteMcPw(pstMcPw->uiVsiIndex, pstMcPw->uiISid);
        PBB_mcpw_Destroy(pstMcPw);
        return;
    }
    PBB_l2vpn_DeleteMcPwPort(pstMcPw->uiVsiIndex, pstMcPw->uiISid, pstMcPw->usBVlan, uiIfIndex);
}

// ---------------------------------------------------------------------------
// VSI activation
// ---------------------------------------------------------------------------

uint32_t* _pbb_ctl_ReAllocMcPortList(uint32_t uiCount, uint32_t* puiList, uint32_t* puiCapacity)
{
    if (puiList == nullptr) return static_cast<uint32_t*>(calloc(*puiCapacity, sizeof(uint32_t)));
    if (uiCount < *puiCapacity) return puiList;
    uint32_t uiNewCapacity = *puiCapacity * 2;
    if (uiNewCapacity <= *puiCapacity) return nullptr;  // the count no longer fits 32 bits
    auto* puiNew = static_cast<uint32_t*>(realloc(puiList, static_cast<size_t>(uiNewCapacity) * sizeof(uint32_t)));
    if (puiNew == nullptr) return nullptr;
    *puiCapacity = uiNewCapacity;
    return puiNew;
}

namespace {

// A growing array of ifIndex values. Append returns false, and frees the
// array, when it cannot grow.
struct PbbCtlPortList {
    uint32_t* puiList = nullptr;
    uint32_t uiCount = 0;
    uint32_t uiCapacity = PBB_CTL_PORT_LIST_INIT;
};

bool _pbb_ctl_AppendPort(PbbCtlPortList* pstList, uint32_t uiIfIndex)
{
    uint32_t* puiNew = _pbb_ctl_ReAllocMcPortList(pstList->uiCount, pstList->puiList, &pstList->uiCapacity);
    if (puiNew == nullptr) {
        free(pstList->puiList);
        pstList->puiList = nullptr;
        pstList->uiCount = 0;
        return false;
    }
    pstList->puiList = puiNew;
    pstList->puiList[pstList->uiCount++] = uiIfIndex;
    return true;
}

void _pbb_ctl_FreePorts(PbbCtlPortList* pstList)
{
    free(pstList->puiList);
    pstList->puiList = nullptr;
    pstList->uiCount = 0;
}

// The control block of an uplink, or null: an uplink without one (which
// the uplink and interface handling do not leave behind) is no port.
PbbIfCb* _pbb_ctl_EligibleUplink(const PbbVsi* pstVsi, const PbbUplink* pstUplink)
{
    PbbIfCb* pstIfCb = PBB_ifcb_Get(pstUplink->uiIfIndex);
    if (pstIfCb == nullptr) return nullptr;
    return _pbb_ctl_IsNeedAddMcPwPort(pstVsi, pstIfCb) == 1 ? pstIfCb : nullptr;
}

// A B-VLAN request's result: 0 once every eligible uplink of the VSI is a
// port of its multicast entry; 0x40010001 while the driver's refusal (of
// the entry or of a port) leaves one out, so that the operator hears of it
// and repeats the request.
uint32_t _pbb_ctl_ActivationResult(const PbbVsi* pstVsi)
{
    PbbMcPw* pstMcPw = PBB_mcpw_Get(pstVsi->uiVsiIndex);
    const PbbUplink* pstHead = &pstVsi->stUplinkList;
    for (const PbbUplink* pstUplink = pstHead->pstNext; pstUplink != pstHead; pstUplink = pstUplink->pstNext) {
        if (_pbb_ctl_EligibleUplink(pstVsi, pstUplink) == nullptr) continue;
        if (pstMcPw == nullptr || PBB_mcpw_IsPortExist(pstMcPw, pstUplink->uiIfIndex) != 1) return PBB_ERR;
    }
    return PBB_OK;
}

}  // namespace

void PBB_ctl_ActiveVsi(uint32_t uiVsiIndex)
{
    PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(uiVsiIndex);
    if (pstVsi == nullptr) return;
    const PbbUplink* pstHead = &pstVsi->stUplinkList;
    PbbMcPw* pstMcPw = PBB_mcpw_Get(uiVsiIndex);
    PbbCtlPortList stPorts;

    if (pstMcPw != nullptr) {
        // Program the entry again with its current ports ...
        bool bComplete = true;
        const PbbMcPortLink* pstPortHead = &pstMcPw->stPortList;
        for (const PbbMcPortLink* pstLink = pstPortHead->pstNext; pstLink != pstPortHead; pstLink = pstLink->pstNext) {
            if (!_pbb_ctl_AppendPort(&stPorts, PBB_mcpw_PortOf(pstLink)->uiIfIndex)) {
                bComplete = false;
                break;
            }
        }
        bool bWithdrawn = bComplete && stPorts.uiCount > 0 &&
                          PBB_l2vpn_AddMcPw(pstMcPw->uiVsiIndex, pstMcPw->uiISid, pstMcPw->usBVlan, stPorts.puiList,
                                            stPorts.uiCount) != 0;
        _pbb_ctl_FreePorts(&stPorts);
        if (bWithdrawn) {
            // A refused entry is withdrawn from the driver whole: the table
            // follows, and the VSI is inactive, without its learned entries,
            // until it is activated again.
            PBB_mcpw_Destroy(pstMcPw);
            PBB_ctl_ResetUcPwByVsi(uiVsiIndex);
            return;
        }
        // ... then add the eligible uplinks it lacks.
        for (const PbbUplink* pstUplink = pstHead->pstNext; pstUplink != pstHead; pstUplink = pstUplink->pstNext) {
            PbbIfCb* pstIfCb = _pbb_ctl_EligibleUplink(pstVsi, pstUplink);
            if (pstIfCb != nullptr) (void)_pbb_ctl_AddMcPwPort(pstMcPw, pstIfCb->uiIfIndex);
        }
        return;
    }

    for (const PbbUplink* pstUplink = pstHead->pstNext; pstUplink != pstHead; pstUplink = pstUplink->pstNext) {
        PbbIfCb* pstIfCb = _pbb_ctl_EligibleUplink(pstVsi, pstUplink);
        if (pstIfCb == nullptr) continue;
        if (!_pbb_ctl_AppendPort(&stPorts, pstIfCb->uiIfIndex)) return;  // nothing is created
    }
    if (stPorts.uiCount > 0) _pbb_ctl_AddMcPw(pstVsi, stPorts.puiList, stPorts.uiCount);
    _pbb_ctl_FreePorts(&stPorts);
}

void PBB_ctl_DeactiveVsi(uint32_t uiVsiIndex)
{
    PbbMcPw* pstMcPw = PBB_mcpw_Get(uiVsiIndex);
    if (pstMcPw == nullptr) return;
    PBB_l2vpn_DeleteMcPw(pstMcPw->uiVsiIndex, pstMcPw->uiISid);
    PBB_mcpw_Destroy(pstMcPw);
    PBB_ctl_ResetUcPwByVsi(uiVsiIndex);
}

// ---------------------------------------------------------------------------
// Encapsulation and B-VLAN
// ---------------------------------------------------------------------------

void _pbb_ctl_DeleteVsi(uint32_t uiVsiIndex)
{
    PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(uiVsiIndex);
    if (pstVsi == nullptr) return;
    (void)PBB_dbmsave_DeleteUcPwByVsi(uiVsiIndex);
    PBB_ucpw_DeleteByVsi(uiVsiIndex);
    PbbMcPw* pstMcPw = PBB_mcpw_Get(uiVsiIndex);
    if (pstMcPw != nullptr) PBB_mcpw_Destroy(pstMcPw);
    const PbbUplink* pstHead = &pstVsi->stUplinkList;
    for (const PbbUplink* pstUplink = pstHead->pstNext; pstUplink != pstHead; pstUplink = pstUplink->pstNext)
        PBB_ifcb_DeleteRunVsiNode(pstUplink->uiIfIndex, uiVsiIndex);
    (void)PBB_dbmsave_DeleteVsiCfg(pstVsi->szVsiName);
    PBB_vsi_SetISid(uiVsiIndex, 0);
    PBB_vsi_DeleteVsi(uiVsiIndex);
}

uint32_t _pbb_ctl_UpdateVsiCfgDbm(const PbbVsi* pstVsi)
{
    if (pstVsi->uiEncapType == PBB_ENCAP_DEFAULT && pstVsi->usBVlan == PBB_BVLAN_NONE) {
        uint32_t uiRet = PBB_dbmsave_DeleteVsiCfg(pstVsi->szVsiName);
        return uiRet == DBM_OK || uiRet == DBM_ERR_NOT_FOUND ? PBB_OK : PBB_ERR;
    }
    return PBB_dbmsave_AddVsiCfg(pstVsi->uiVsiIndex, pstVsi->szVsiName, pstVsi->uiISid, pstVsi->usBVlan,
                                 pstVsi->uiEncapType) == DBM_OK
               ? PBB_OK
               : PBB_ERR;
}

namespace {

// A setting's result once it is in effect: saved, or PBB_ERR_NOT_SAVED when
// the configuration database refused the record (the setting then holds
// until the daemon restarts, and repeating the request saves it).
uint32_t _pbb_ctl_Saved(const PbbVsi* pstVsi, uint32_t uiResult)
{
    if (_pbb_ctl_UpdateVsiCfgDbm(pstVsi) != PBB_OK) return uiResult == PBB_OK ? PBB_ERR_NOT_SAVED : uiResult;
    return uiResult;
}

// The same for a request that changes nothing: the record is written only
// when the database does not hold the VSI's settings as they are (a save
// refused before).
uint32_t _pbb_ctl_SavedBefore(const PbbVsi* pstVsi, uint32_t uiResult)
{
    if (uiResult != PBB_OK) return uiResult;
    PbbDbmVsiRec stRec{};
    const int32_t iLen = PBB_dbmsave_GetVsiCfg(pstVsi->szVsiName, &stRec);
    const bool bDefault = pstVsi->uiEncapType == PBB_ENCAP_DEFAULT && pstVsi->usBVlan == PBB_BVLAN_NONE;
    const bool bStored = bDefault ? iLen < 0
                                  : iLen == static_cast<int32_t>(sizeof(stRec)) &&
                                        stRec.uiVsiIndex == pstVsi->uiVsiIndex && stRec.uiISid == pstVsi->uiISid &&
                                        stRec.uiEncapType == pstVsi->uiEncapType && stRec.usBVlan == pstVsi->usBVlan;
    return bStored ? PBB_OK : _pbb_ctl_Saved(pstVsi, PBB_OK);
}

}  // namespace

PbbVsi* _pbb_ctl_GetAndCheckVsi(const char* szVsiName, uint32_t uiISid)
{
    if (szVsiName == nullptr) return nullptr;
    PbbL2vpnVsiInfo stInfo{};
    if (L2VPN_GetVsiInfoByName(szVsiName, &stInfo) != 0 || stInfo.uiISid != uiISid) return nullptr;

    bool bDeleted = false;
    PbbVsi* pstByName = PBB_vsi_GetVsiByName(szVsiName);
    if (pstByName != nullptr && pstByName->uiVsiIndex != stInfo.uiVsiIndex) {
        // The L2VPN module renumbered the VSI: the old record goes.
        _pbb_ctl_DeleteVsi(pstByName->uiVsiIndex);
        bDeleted = true;
    }
    PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(stInfo.uiVsiIndex);
    if (pstVsi != nullptr) {
        if (strncmp(pstVsi->szVsiName, szVsiName, PBB_VSI_NAME_LEN) != 0)
            _pbb_ctl_DeleteVsi(stInfo.uiVsiIndex);
        else if (!bDeleted)
            return pstVsi;
    }

    pstVsi = PBB_vsi_CreateVsi(stInfo.uiVsiIndex);
    if (pstVsi == nullptr) return nullptr;
    pstVsi->usShutdownFlag = (stInfo.uiFlags & L2VPN_VSI_FLAG_DOWN) != 0 ? 1 : 0;
    _pbb_ctl_CopyName(pstVsi->szVsiName, stInfo.szVsiName);
    PBB_vsi_SetISid(pstVsi->uiVsiIndex, stInfo.uiISid);

    PbbIfCb* pstIfCb = PBB_ifcb_GetFirst();
    while (pstIfCb != nullptr) {
        PbbIfCb* pstNext = PBB_ifcb_GetNext(pstIfCb->uiIfIndex);
        if (pstIfCb->usUplinkAll == 1 || PBB_ifcb_IsCfgVsiExist(pstIfCb->uiIfIndex, stInfo.szVsiName) == 1) {
            (void)PBB_ifcb_AddRunVsiNode(pstIfCb->uiIfIndex, pstVsi->uiVsiIndex);
            (void)PBB_vsi_AddUplink(pstVsi->uiVsiIndex, pstIfCb->uiIfIndex);
        }
        pstIfCb = pstNext;
    }
    return pstVsi;
}

uint32_t PBB_ctl_SetEncapType(uint32_t uiEncapType, const char* szVsiName, uint32_t uiISid)
{
    PbbVsi* pstVsi = _pbb_ctl_GetAndCheckVsi(szVsiName, uiISid);
    if (pstVsi == nullptr) return PBB_ERR;
    if (pstVsi->uiEncapType == uiEncapType) return _pbb_ctl_SavedBefore(pstVsi, PBB_OK);
    // A type the driver refuses is not kept, and the request fails.
    if (PBB_l2vpn_SetEncapType(pstVsi->uiVsiIndex, uiEncapType) != 0) return PBB_ERR;
    pstVsi->uiEncapType = uiEncapType;
    return _pbb_ctl_Saved(pstVsi, PBB_OK);
}

uint32_t PBB_ctl_ResetEncapType(const char* szVsiName, uint32_t uiISid)
{
    if (szVsiName == nullptr) return PBB_OK;
    PbbVsi* pstVsi = PBB_vsi_GetVsiByName(szVsiName);
    if (pstVsi == nullptr) return PBB_OK;
    if (pstVsi->uiISid != uiISid) return PBB_ERR;
    if (pstVsi->uiEncapType == PBB_ENCAP_DEFAULT) return _pbb_ctl_SavedBefore(pstVsi, PBB_OK);
    // Kept until the driver takes the default, so that the request can be
    // repeated.
    if (PBB_l2vpn_SetEncapType(pstVsi->uiVsiIndex, PBB_ENCAP_DEFAULT) != 0) return PBB_ERR;
    pstVsi->uiEncapType = PBB_ENCAP_DEFAULT;
    return _pbb_ctl_Saved(pstVsi, PBB_OK);
}

uint32_t PBB_ctl_SetBVlan(uint16_t usBVlan, const char* szVsiName, uint32_t uiISid)
{
    // A VLAN ID beyond the highest (0xFFFF, no B-VLAN, among them) is no
    // B-VLAN: the unicast table has no list for it.
    if (usBVlan > g_usPbbMaxVlanId) return PBB_ERR;
    PbbVsi* pstVsi = _pbb_ctl_GetAndCheckVsi(szVsiName, uiISid);
    if (pstVsi == nullptr) return PBB_ERR;
    uint32_t uiVsiIndex = pstVsi->uiVsiIndex;
    if (pstVsi->usBVlan == PBB_BVLAN_NONE) {
        // Also while the VSI is down: the port rule then refuses every uplink.
        pstVsi->usBVlan = usBVlan;
        PBB_ctl_ActiveVsi(uiVsiIndex);
        return _pbb_ctl_Saved(pstVsi, _pbb_ctl_ActivationResult(pstVsi));
    }
    if (pstVsi->usBVlan == usBVlan) {
        // The same B-VLAN again: an activation the driver left short is
        // made again, a save refused before is made again; a complete one
        // is left alone.
        if (_pbb_ctl_ActivationResult(pstVsi) != PBB_OK) PBB_ctl_ActiveVsi(uiVsiIndex);
        return _pbb_ctl_SavedBefore(pstVsi, _pbb_ctl_ActivationResult(pstVsi));
    }
    if (pstVsi->usShutdownFlag == 1) {
        pstVsi->usBVlan = usBVlan;
        return _pbb_ctl_Saved(pstVsi, PBB_OK);
    }
    // The old multicast entry and every learned entry go before the new
    // entry is built.
    PBB_ctl_DeactiveVsi(uiVsiIndex);
    pstVsi->usBVlan = usBVlan;
    PBB_ctl_ActiveVsi(uiVsiIndex);
    return _pbb_ctl_Saved(pstVsi, _pbb_ctl_ActivationResult(pstVsi));
}

uint32_t PBB_ctl_ResetBVlan(const char* szVsiName, uint32_t uiISid)
{
    if (szVsiName == nullptr) return PBB_OK;
    PbbVsi* pstVsi = PBB_vsi_GetVsiByName(szVsiName);
    if (pstVsi == nullptr) return PBB_OK;
    if (pstVsi->uiISid != uiISid) return PBB_ERR;
    if (pstVsi->usBVlan == PBB_BVLAN_NONE) return _pbb_ctl_SavedBefore(pstVsi, PBB_OK);
    PBB_ctl_DeactiveVsi(pstVsi->uiVsiIndex);
    pstVsi->usBVlan = PBB_BVLAN_NONE;
    return _pbb_ctl_Saved(pstVsi, PBB_OK);
}

// ---------------------------------------------------------------------------
// Uplinks
// ---------------------------------------------------------------------------

namespace {

// Full name of a temporary interface, the key part of its parked records.
void _pbb_ctl_GetIfName(uint32_t uiIfIndex, char* szIfName)
{
    szIfName[0] = '\0';
    (void)IF_GetDataByIfIndex(uiIfIndex, IF_DATA_FULL_NAME, szIfName);
    szIfName[PBB_IF_NAME_LEN - 1] = '\0';
}

bool _pbb_ctl_IsTempUplinkAll(const char* szIfName)
{
    uint16_t usValue = 0;
    (void)PBB_dbmsave_GetIfCfg(PBB_DBM_SEL_UNUSED, szIfName, &usValue);
    return usValue == 1;
}

// A present interface without a control block becomes a PBB port; one the
// driver does not put into PBB mode gets no control block, so that the
// request fails and can be repeated.
uint32_t _pbb_ctl_CreateUplinkIf(uint32_t uiIfIndex, PbbIfCb** ppstIfCb)
{
    if (PBB_l2vpn_IsSupportByIf(uiIfIndex) == 0) return PBB_ERR_NOT_SUPPORT;
    PbbIfCb* pstIfCb = PBB_ifcb_Create(uiIfIndex);
    if (pstIfCb == nullptr) return PBB_ERR;
    if (PBB_l2vpn_SetIfPBB(uiIfIndex) != 0) {
        (void)PBB_ifcb_Delete(uiIfIndex);
        return PBB_ERR;
    }
    *ppstIfCb = pstIfCb;
    return PBB_OK;
}

// An interface left without any uplink role stops being a PBB port; a
// control block the interface manager would not give up is a failure.
uint32_t _pbb_ctl_ReleaseUplinkIf(uint32_t uiIfIndex)
{
    PBB_l2vpn_ResetIfPBB(uiIfIndex);
    return PBB_ifcb_Delete(uiIfIndex) == 0 ? PBB_OK : PBB_ERR;
}

// The result of deleting a record: one that was not there is gone all the
// same; any other refusal leaves it stored.
uint32_t _pbb_ctl_RecordDeleted(uint32_t uiDbmRet)
{
    return uiDbmRet == DBM_OK || uiDbmRet == DBM_ERR_NOT_FOUND ? PBB_OK : PBB_ERR;
}

// Whether none of the names is left in the interface's stored VSI list.
bool _pbb_ctl_NamesGone(uint16_t usDbSel, const char* szIfName, uint32_t uiCount,
                        const char (*aszVsiName)[PBB_VSI_NAME_LEN])
{
    char szName[PBB_VSI_NAME_LEN];
    for (uint32_t i = 0; i < uiCount; ++i) {
        _pbb_ctl_CopyName(szName, aszVsiName[i]);
        if (PBB_dbmsave_HasIfVsiCfg(usDbSel, szIfName, szName)) return false;
    }
    return true;
}

// The all-VSI mode's records in the used database: the VSI list deleted,
// the all-VSI record written. With bMissingOnly, a mode set before writes
// only what an earlier request could not store.
uint32_t _pbb_ctl_SaveUplinkAll(const char* szIfName, bool bMissingOnly)
{
    uint32_t uiRet = PBB_OK;
    if (!bMissingOnly || PBB_dbmsave_HasIfVsiCfg(PBB_DBM_SEL_USED, szIfName, nullptr))
        if (_pbb_ctl_RecordDeleted(PBB_dbmsave_DeleteIfVsiAllCfg(PBB_DBM_SEL_USED, szIfName)) != PBB_OK)
            uiRet = PBB_ERR_NOT_SAVED;
    uint16_t usValue = 0;
    if (bMissingOnly) (void)PBB_dbmsave_GetIfCfg(PBB_DBM_SEL_USED, szIfName, &usValue);
    if (usValue != 1 && PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_USED, szIfName) != DBM_OK) uiRet = PBB_ERR_NOT_SAVED;
    return uiRet;
}

}  // namespace

void _pbb_ctl_DeleteUplinkVsi(uint32_t uiIfIndex, const char* szVsiName)
{
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb == nullptr) return;
    uint32_t uiVsiIndex = PBB_vsi_GetIndexByName(szVsiName);
    if (uiVsiIndex != PBB_VSI_INVALID_INDEX) {
        PbbUcPwFilter stFilter{};
        stFilter.uiVsiIndex = uiVsiIndex;
        stFilter.uiIfIndex = uiIfIndex;
        _pbb_ctl_DriverDeleteWalk(PBB_UCPW_GET_BY_IF_VSI, &stFilter, uiVsiIndex);
        (void)PBB_dbmsave_DeleteUcPwByIfVsi(uiIfIndex, uiVsiIndex);
        PBB_ucpw_DeleteByIfVsi(uiIfIndex, uiVsiIndex);
        PBB_ctl_DeactiveMcPort(uiVsiIndex, uiIfIndex);
        PBB_ifcb_DeleteRunVsiNode(uiIfIndex, uiVsiIndex);
        PBB_vsi_DeleteUplink(uiVsiIndex, uiIfIndex);
    }
    PBB_ifcb_DeleteCfgVsiNode(uiIfIndex, szVsiName);
    (void)PBB_dbmsave_DeleteIfVsiCfg(PBB_DBM_SEL_USED, pstIfCb->szIfName, szVsiName);
}

uint32_t PBB_ctl_AddUplink(uint32_t uiIfIndex, uint32_t uiCount, const char (*aszVsiName)[PBB_VSI_NAME_LEN])
{
    if (uiCount != 0 && aszVsiName == nullptr) return PBB_ERR;
    char szName[PBB_VSI_NAME_LEN];

    if (IF_IsTempIf(uiIfIndex) == 1) {
        char szIfName[PBB_IF_NAME_LEN];
        _pbb_ctl_GetIfName(uiIfIndex, szIfName);
        if (_pbb_ctl_IsTempUplinkAll(szIfName)) return PBB_OK;
        // The records are all there is of the setting: one refused fails
        // the request, which stores them when repeated.
        uint32_t uiRet = PBB_OK;
        for (uint32_t i = 0; i < uiCount; ++i) {
            _pbb_ctl_CopyName(szName, aszVsiName[i]);
            if (PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_UNUSED, szIfName, szName) != DBM_OK) uiRet = PBB_ERR;
        }
        return uiRet;
    }

    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb == nullptr) {
        uint32_t uiRet = _pbb_ctl_CreateUplinkIf(uiIfIndex, &pstIfCb);
        if (uiRet != PBB_OK) return uiRet;
    }
    if (pstIfCb->usUplinkAll == 1 || uiCount == 0) return PBB_OK;

    // Indexes into the request of the names this request added, for the
    // roll-back; a request longer than the fixed list gets one of its size.
    uint32_t auiAdded[PBB_CTL_ROLLBACK_NAMES];
    uint32_t* puiAdded = auiAdded;
    if (uiCount > PBB_CTL_ROLLBACK_NAMES) {
        puiAdded = static_cast<uint32_t*>(calloc(uiCount, sizeof(uint32_t)));
        if (puiAdded == nullptr) return PBB_ERR;
    }
    uint32_t uiAdded = 0;
    uint32_t uiResult = PBB_OK;
    bool bUnsaved = false;  // a name in effect whose record the database refused

    for (uint32_t i = 0; i < uiCount; ++i) {
        _pbb_ctl_CopyName(szName, aszVsiName[i]);
        uint32_t uiRet = PBB_ifcb_AddCfgVsiNode(uiIfIndex, szName);
        if (uiRet == PBB_ERR_EXIST) {
            // Configured before: its record is written again only when an
            // earlier request could not store it.
            if (!PBB_dbmsave_HasIfVsiCfg(PBB_DBM_SEL_USED, pstIfCb->szIfName, szName) &&
                PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_USED, pstIfCb->szIfName, szName) != DBM_OK)
                bUnsaved = true;
            continue;
        }
        if (uiRet != PBB_OK) {
            for (uint32_t j = 0; j < uiAdded; ++j) {
                _pbb_ctl_CopyName(szName, aszVsiName[puiAdded[j]]);
                _pbb_ctl_DeleteUplinkVsi(uiIfIndex, szName);
            }
            uiResult = PBB_ERR;
            break;
        }
        uint32_t uiVsiIndex = PBB_vsi_GetIndexByName(szName);
        if (uiVsiIndex != PBB_VSI_INVALID_INDEX) {
            (void)PBB_ifcb_AddRunVsiNode(uiIfIndex, uiVsiIndex);
            (void)PBB_vsi_AddUplink(uiVsiIndex, uiIfIndex);
            PBB_ctl_ActiveMcPort(uiVsiIndex, uiIfIndex);
        }
        if (PBB_dbmsave_AddIfVsiCfg(PBB_DBM_SEL_USED, pstIfCb->szIfName, szName) != DBM_OK) bUnsaved = true;
        puiAdded[uiAdded++] = i;
    }
    if (puiAdded != auiAdded) free(puiAdded);
    return uiResult == PBB_OK && bUnsaved ? PBB_ERR_NOT_SAVED : uiResult;
}

uint32_t PBB_ctl_DeleteUplink(uint32_t uiIfIndex, uint32_t uiCount, const char (*aszVsiName)[PBB_VSI_NAME_LEN])
{
    if (uiCount != 0 && aszVsiName == nullptr) return PBB_ERR;
    char szName[PBB_VSI_NAME_LEN];

    if (IF_IsTempIf(uiIfIndex) == 1) {
        char szIfName[PBB_IF_NAME_LEN];
        _pbb_ctl_GetIfName(uiIfIndex, szIfName);
        if (_pbb_ctl_IsTempUplinkAll(szIfName)) return PBB_ERR_UPLINK_ALL;
        for (uint32_t i = 0; i < uiCount; ++i) {
            _pbb_ctl_CopyName(szName, aszVsiName[i]);
            (void)PBB_dbmsave_DeleteIfVsiCfg(PBB_DBM_SEL_UNUSED, szIfName, szName);
        }
        return _pbb_ctl_NamesGone(PBB_DBM_SEL_UNUSED, szIfName, uiCount, aszVsiName) ? PBB_OK : PBB_ERR;
    }

    char szIfName[PBB_IF_NAME_LEN];
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb == nullptr) {
        // Nothing is in effect; records an earlier request could not delete
        // go now.
        _pbb_ctl_GetIfName(uiIfIndex, szIfName);
        uint32_t uiRet = PBB_OK;
        for (uint32_t i = 0; i < uiCount; ++i) {
            _pbb_ctl_CopyName(szName, aszVsiName[i]);
            if (!PBB_dbmsave_HasIfVsiCfg(PBB_DBM_SEL_USED, szIfName, szName)) continue;
            (void)PBB_dbmsave_DeleteIfVsiCfg(PBB_DBM_SEL_USED, szIfName, szName);
            if (PBB_dbmsave_HasIfVsiCfg(PBB_DBM_SEL_USED, szIfName, szName)) uiRet = PBB_ERR_NOT_SAVED;
        }
        return uiRet;
    }
    if (pstIfCb->usUplinkAll == 1) return PBB_ERR_UPLINK_ALL;
    std::memcpy(szIfName, pstIfCb->szIfName, sizeof(szIfName));
    for (uint32_t i = 0; i < uiCount; ++i) {
        _pbb_ctl_CopyName(szName, aszVsiName[i]);
        _pbb_ctl_DeleteUplinkVsi(uiIfIndex, szName);
    }
    if (PBB_ifcb_IsDefaultCfg(uiIfIndex) == 1) {
        (void)PBB_dbmsave_DeleteIfVsiAllCfg(PBB_DBM_SEL_USED, szIfName);
        (void)_pbb_ctl_ReleaseUplinkIf(uiIfIndex);
    }
    return _pbb_ctl_NamesGone(PBB_DBM_SEL_USED, szIfName, uiCount, aszVsiName) ? PBB_OK : PBB_ERR_NOT_SAVED;
}

uint32_t PBB_ctl_SetAllVsiUplink(uint32_t uiIfIndex)
{
    if (IF_IsTempIf(uiIfIndex) == 1) {
        char szIfName[PBB_IF_NAME_LEN];
        _pbb_ctl_GetIfName(uiIfIndex, szIfName);
        // The records are all there is of the setting: a refused one fails
        // the request, which writes them when repeated.
        uint32_t uiRet = _pbb_ctl_RecordDeleted(PBB_dbmsave_DeleteIfVsiAllCfg(PBB_DBM_SEL_UNUSED, szIfName));
        if (PBB_dbmsave_AddIfCfg(PBB_DBM_SEL_UNUSED, szIfName) != DBM_OK) uiRet = PBB_ERR;
        return uiRet;
    }

    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb != nullptr) {
        if (pstIfCb->usUplinkAll == 1) return _pbb_ctl_SaveUplinkAll(pstIfCb->szIfName, true);
        // The names go; the VSIs they attached stay attached.
        PBB_ifcb_DeleteAllCfgVsiNode(uiIfIndex);
    } else {
        uint32_t uiRet = _pbb_ctl_CreateUplinkIf(uiIfIndex, &pstIfCb);
        if (uiRet != PBB_OK) return uiRet;
    }
    pstIfCb->usUplinkAll = 1;

    for (PbbVsi* pstVsi = PBB_vsi_GetFirstVsi(); pstVsi != nullptr; pstVsi = PBB_vsi_GetNextVsi(pstVsi->uiVsiIndex)) {
        (void)PBB_ifcb_AddRunVsiNode(uiIfIndex, pstVsi->uiVsiIndex);
        (void)PBB_vsi_AddUplink(pstVsi->uiVsiIndex, uiIfIndex);
        PBB_ctl_ActiveMcPort(pstVsi->uiVsiIndex, uiIfIndex);
    }
    return _pbb_ctl_SaveUplinkAll(pstIfCb->szIfName, false);
}

// Every step is made whatever the others gave; the result says whether a
// record or the control block could not be deleted.
uint32_t PBB_ctl_ResetAllVsiUplink(uint32_t uiIfIndex)
{
    if (IF_IsTempIf(uiIfIndex) == 1) {
        char szIfName[PBB_IF_NAME_LEN];
        _pbb_ctl_GetIfName(uiIfIndex, szIfName);
        uint32_t uiRet = _pbb_ctl_RecordDeleted(PBB_dbmsave_DeleteIfVsiAllCfg(PBB_DBM_SEL_UNUSED, szIfName));
        uiRet |= _pbb_ctl_RecordDeleted(PBB_dbmsave_DeleteIfCfg(PBB_DBM_SEL_UNUSED, szIfName));
        return uiRet;
    }

    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb == nullptr) return PBB_OK;
    pstIfCb->usUplinkAll = 0;
    PBB_ctl_ResetUcPwByIf(uiIfIndex);
    const PbbIfVsiNode* pstHead = &pstIfCb->stRunVsiList;
    for (const PbbIfVsiNode* pstNode = pstHead->pstNext; pstNode != pstHead; pstNode = pstNode->pstNext) {
        PBB_ctl_DeactiveMcPort(pstNode->uiVsiIndex, uiIfIndex);
        PBB_vsi_DeleteUplink(pstNode->uiVsiIndex, uiIfIndex);
    }
    PBB_ifcb_DeleteAllRunVsiNode(uiIfIndex);
    PBB_ifcb_DeleteAllCfgVsiNode(uiIfIndex);
    uint32_t uiRet = _pbb_ctl_RecordDeleted(PBB_dbmsave_DeleteIfVsiAllCfg(PBB_DBM_SEL_USED, pstIfCb->szIfName));
    uiRet |= _pbb_ctl_RecordDeleted(PBB_dbmsave_DeleteIfCfg(PBB_DBM_SEL_USED, pstIfCb->szIfName));
    uiRet |= _pbb_ctl_ReleaseUplinkIf(uiIfIndex);
    return uiRet;
}
