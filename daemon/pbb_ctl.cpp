#include "daemon/pbb_ctl.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_list.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "platform/ifm.h"
#include "platform/l2vpn.h"

#include <cstdlib>
#include <cstring>

namespace {

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
