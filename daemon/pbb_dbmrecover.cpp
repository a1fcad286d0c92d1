// Opening and closing the daemon's three databases: the configuration pair
// ("ePBB" used, "pPBB" unused) and the local run database "lPBB" of the
// learned entries, all in group "pbb"; and rebuilding the tables from them
// at start-up. Recovery fills the VSI table, the control blocks, the
// uplink lists and the unicast table, and programs nothing: the L2VPN
// module's batch that follows start-up does.
#include "daemon/pbb_dbmrecover.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "platform/dbm.h"
#include "platform/ifm.h"
#include "platform/log.h"

#include <cstdio>
#include <cstring>

uint32_t g_hPbbUsedCfgDB = DBM_INVALID_HANDLE;
uint32_t g_hPbbUnusedCfgDB = DBM_INVALID_HANDLE;
uint32_t g_hPbbLocalRunDB = DBM_INVALID_HANDLE;

// Rows are handled in order, every key of a row before the next row: the
// interface rows look up the VSIs that the VSI row has recovered.
const PbbDbmProcKey g_astPBB_RunProcKey[PBB_DBM_RUN_PROC_ROWS] = {
    {PBB_DBM_VT_UCPW, _pbb_dbmrecover_UcPw, nullptr},
};
const PbbDbmProcKey g_astPBB_CfgProcKey[PBB_DBM_CFG_PROC_ROWS] = {
    {PBB_DBM_VT_VSI, _pbb_dbmrecover_Vsi, nullptr},
    {PBB_DBM_VT_IFVSI, _pbb_dbmrecover_IfVsi, _pbb_dbmrecover_IfVsi},
    {PBB_DBM_VT_IF, _pbb_dbmrecover_If, _pbb_dbmrecover_If},
};

namespace {

constexpr const char* PBB_DBM_USED_CFG_NAME = "ePBB";
constexpr const char* PBB_DBM_UNUSED_CFG_NAME = "pPBB";
constexpr const char* PBB_DBM_RUN_NAME = "lPBB";
constexpr const char* PBB_DBM_GROUP = "pbb";
constexpr uint32_t PBB_DBM_CFG_FLAGS = 0;
constexpr uint32_t PBB_DBM_RUN_MODE = 7;  // read, write, create
// Durability classes of the parameter blocks: configuration is written
// through, the run database (entries that can be learned again) behind.
constexpr uint32_t PBB_DBM_CFG_CLASS = 1;
constexpr uint32_t PBB_DBM_RUN_CLASS = 2;

DBM_PARAM_S _pbb_dbmrecover_Param(uint32_t uiClass)
{
    DBM_PARAM_S stParam{};
    stParam.auiWord[0] = 1;
    stParam.auiWord[2] = uiClass;
    return stParam;
}

constexpr uint32_t PBB_RECOVER_UCPW_BATCH = 128;  // elements read per call
constexpr uint32_t PBB_RECOVER_IF_TYPE_NONE = 128;
constexpr uint32_t PBB_RECOVER_PBB_IF_TYPES[] = {IF_TYPE_FE,  IF_TYPE_GE,    IF_TYPE_XGE,  IF_TYPE_AGG,
                                                 IF_TYPE_40GE, IF_TYPE_100GE, IF_TYPE_25GE};

bool _pbb_dbmrecover_IsPbbIfType(uint32_t uiType)
{
    for (uint32_t uiPbbType : PBB_RECOVER_PBB_IF_TYPES)
        if (uiType == uiPbbType) return true;
    return false;
}

// What a "ucpw." key names: VSI index, ifIndex, B-VLAN, interface name.
struct PbbRecoverUcPwKey {
    uint32_t uiVsiIndex;
    uint32_t uiIfIndex;
    uint16_t usBVlan;
    char szIfName[IF_NAME_BUF_LEN];
};

// The key is read as the format that wrote it; the name is the whole rest
// of the key, so that a name with a blank in it is read back whole. A key
// without the three numbers or without a name, or with a name longer than
// any interface name, is not a key this daemon wrote.
bool _pbb_dbmrecover_ParseUcPwKey(const char* pcKey, PbbRecoverUcPwKey* pstKey)
{
    int iNameAt = -1;
    if (sscanf(pcKey, "ucpw.%u.%u.%hu.%n", &pstKey->uiVsiIndex, &pstKey->uiIfIndex, &pstKey->usBVlan, &iNameAt) !=
            3 ||
        iNameAt < 0)
        return false;
    const char* pcName = pcKey + iNameAt;
    size_t ulLen = strlen(pcName);
    if (ulLen == 0 || ulLen >= IF_NAME_BUF_LEN) return false;
    std::memcpy(pstKey->szIfName, pcName, ulLen + 1);
    return true;
}

// An element belongs in the table only under the key that names it, and
// only once: the walks and deletions find entries by their key.
bool _pbb_dbmrecover_UcPwFits(const PbbDbmUcPwRec* pstRec, const PbbRecoverUcPwKey* pstKey)
{
    if (pstRec->uiVsiIndex != pstKey->uiVsiIndex || pstRec->uiIfIndex != pstKey->uiIfIndex ||
        pstRec->usBVlan != pstKey->usBVlan)
        return false;
    return PBB_ucpw_Get(pstRec->uiVsiIndex, pstRec->usBVlan, pstRec->aucBMac) == nullptr;
}

// The interface serves the VSI: in its running list and among the VSI's
// uplinks.
void _pbb_dbmrecover_Attach(uint32_t uiIfIndex, uint32_t uiVsiIndex)
{
    (void)PBB_ifcb_AddRunVsiNode(uiIfIndex, uiVsiIndex);
    (void)PBB_vsi_AddUplink(uiVsiIndex, uiIfIndex);
}

// Every name of an "ifvsi." list goes into the block's configured list;
// with bAttach, the interface also serves every VSI of those names that
// exists.
void _pbb_dbmrecover_WalkIfVsi(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen, uint32_t uiIfIndex, bool bAttach)
{
    uint32_t uiIterator = 0;
    char szVsiName[PBB_DBM_VSI_NAME_LEN];
    for (;;) {
        std::memset(szVsiName, 0, sizeof(szVsiName));
        if (DBM_GetNextSortList(hDb, pcKey, uiKeyLen, &uiIterator, 0, 0, PBB_DBM_VSI_NAME_LEN, szVsiName) <= 0) break;
        szVsiName[PBB_DBM_VSI_NAME_LEN - 1] = '\0';
        if (szVsiName[0] == '\0') continue;
        (void)PBB_ifcb_AddCfgVsiNode(uiIfIndex, szVsiName);
        if (!bAttach) continue;
        uint32_t uiVsiIndex = PBB_vsi_GetIndexByName(szVsiName);
        if (uiVsiIndex != PBB_VSI_INVALID_INDEX) _pbb_dbmrecover_Attach(uiIfIndex, uiVsiIndex);
    }
    (void)DBM_FreeIterator(uiIterator);
}

// Removes from the table and the run database every entry whose interface
// does not serve its VSI after the configuration came back. Whether an
// interface serves a VSI walks the interface's running list; the entries
// of one stored key (one interface, one VSI) come one after the other, so
// the answer for the entry before is kept and asked again only when the
// pair changes. Nothing the sweep does changes a running list.
void _pbb_dbmrecover_Sweep()
{
    bool bKnown = false;
    uint32_t uiIfIndex = 0;
    uint32_t uiVsiIndex = 0;
    bool bServes = false;
    PbbUcPw* pstNext = nullptr;
    for (PbbUcPw* pstEntry = PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr); pstEntry != nullptr; pstEntry = pstNext) {
        pstNext = PBB_ucpw_GetNext(PBB_UCPW_GET_ALL, pstEntry);
        if (!bKnown || pstEntry->uiIfIndex != uiIfIndex || pstEntry->uiVsiIndex != uiVsiIndex) {
            uiIfIndex = pstEntry->uiIfIndex;
            uiVsiIndex = pstEntry->uiVsiIndex;
            bServes = PBB_ifcb_IsRunVsiExist(uiIfIndex, uiVsiIndex) == 1;
            bKnown = true;
        }
        if (bServes) continue;
        (void)PBB_dbmsave_DeleteUcPw(pstEntry);
        PBB_ucpw_Delete(pstEntry);
    }
}

}  // namespace

uint32_t PBB_dbmrecover_Init()
{
    uint32_t hFirst = DBM_INVALID_HANDLE;
    uint32_t hSecond = DBM_INVALID_HANDLE;
    DBM_PARAM_S stParam = _pbb_dbmrecover_Param(PBB_DBM_CFG_CLASS);
    if (DBM_OpenCfgDB(PBB_DBM_USED_CFG_NAME, PBB_DBM_UNUSED_CFG_NAME, PBB_DBM_GROUP, PBB_DBM_CFG_FLAGS, &stParam,
                      &hFirst, &hSecond) != 0)
        return PBB_ERR;
    g_hPbbUsedCfgDB = hFirst;
    g_hPbbUnusedCfgDB = hSecond;

    uint32_t hRun = DBM_INVALID_HANDLE;
    stParam = _pbb_dbmrecover_Param(PBB_DBM_RUN_CLASS);
    uint32_t uiRet = DBM_Open(PBB_DBM_RUN_NAME, PBB_DBM_GROUP, PBB_DBM_RUN_MODE, &stParam, &hRun);
    if (uiRet != 0) return uiRet;
    g_hPbbLocalRunDB = hRun;
    return PBB_OK;
}

void PBB_dbmrecover_Exit()
{
    uint32_t* aphDb[] = {&g_hPbbUsedCfgDB, &g_hPbbUnusedCfgDB, &g_hPbbLocalRunDB};
    for (uint32_t* phDb : aphDb) {
        if (*phDb != DBM_INVALID_HANDLE) {
            (void)DBM_Close(*phDb);
            *phDb = DBM_INVALID_HANDLE;
        }
    }
}

uint32_t PBB_dbmrecover_Recover()
{
    // The unicast table's hash takes its size for the stored entries
    // before they come, instead of doubling on the way.
    PBB_ucpw_ReserveHash(PBB_dbmsave_GetUcPwNum());
    (void)DBM_Batch_Proc(g_hPbbLocalRunDB, DBM_INVALID_HANDLE, g_astPBB_RunProcKey, PBB_DBM_RUN_PROC_ROWS);
    (void)DBM_Batch_Proc(g_hPbbUsedCfgDB, g_hPbbUnusedCfgDB, g_astPBB_CfgProcKey, PBB_DBM_CFG_PROC_ROWS);
    _pbb_dbmrecover_Sweep();
    return PBB_OK;
}

uint32_t _pbb_dbmrecover_UcPw(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen)
{
    PbbRecoverUcPwKey stKey{};
    if (!_pbb_dbmrecover_ParseUcPwKey(pcKey, &stKey)) return DBM_PROC_DELETE;
    // The name now belongs to another interface, or the interface is gone.
    if (IF_GetIfIndexByFullName(stKey.szIfName) != stKey.uiIfIndex) return DBM_PROC_DELETE;
    if (IF_IsTempIf(stKey.uiIfIndex) == 1) return DBM_PROC_DELETE;
    // Indexes the table has no list for (fewer VSIs or VLANs than when the
    // entries were learned).
    if (stKey.uiVsiIndex > g_uiPbbMaxVsiIndex || stKey.usBVlan > g_usPbbMaxVlanId) return DBM_PROC_DELETE;

    uint32_t uiIterator = 0;
    int32_t iFirst = 0;
    bool bFirst = true;
    PbbDbmUcPwRec astRec[PBB_RECOVER_UCPW_BATCH];
    HASH_NODE_S* const* apstBucket[PBB_RECOVER_UCPW_BATCH];
    for (;;) {
        std::memset(astRec, 0, sizeof(astRec));
        int32_t iNum = DBM_BatchGetNextSortList(hDb, pcKey, uiKeyLen, &uiIterator, 0, 0, sizeof(PbbDbmUcPwRec),
                                                PBB_RECOVER_UCPW_BATCH, astRec);
        if (bFirst) iFirst = iNum;
        bFirst = false;
        if (iNum <= 0) break;
        uint32_t uiNum = static_cast<uint32_t>(iNum) < PBB_RECOVER_UCPW_BATCH ? static_cast<uint32_t>(iNum)
                                                                              : PBB_RECOVER_UCPW_BATCH;
        // Each entry is looked up in the B-MAC hash and linked into it: the
        // chains of the whole batch are read at once, not one by one, in two
        // rounds so that no bucket is waited for: first every bucket, then
        // the entry each one leads to (the table does not change between).
        for (uint32_t i = 0; i < uiNum; ++i)
            apstBucket[i] = PBB_ucpw_PrefetchBucket(astRec[i].uiVsiIndex, astRec[i].usBVlan, astRec[i].aucBMac);
        for (uint32_t i = 0; i < uiNum; ++i) PBB_ucpw_PrefetchBucketEntry(apstBucket[i]);
        for (uint32_t i = 0; i < uiNum; ++i) {
            const PbbDbmUcPwRec* pstRec = &astRec[i];
            if (_pbb_dbmrecover_UcPwFits(pstRec, &stKey) &&
                PBB_ucpw_Add(pstRec->uiVsiIndex, pstRec->uiISid, pstRec->usBVlan, pstRec->aucBMac,
                             pstRec->uiIfIndex) == PBB_OK)
                continue;
            (void)DBM_RemoveSortList(hDb, pcKey, uiKeyLen, sizeof(PbbDbmUcPwRec), pstRec);
        }
    }
    (void)DBM_FreeIterator(uiIterator);
    // A key that cannot be read as a list of entries, or that has no entry
    // left, goes.
    if (iFirst < 0 || DBM_Len(hDb, pcKey, uiKeyLen) == 0) return DBM_PROC_DELETE;
    return DBM_PROC_KEEP;
}

uint32_t _pbb_dbmrecover_Vsi(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen)
{
    PbbDbmVsiRec stRec{};
    // Shorter values are not a record.
    if (DBM_GetBinary(hDb, pcKey, uiKeyLen, 0, sizeof(stRec), &stRec) < static_cast<int32_t>(sizeof(stRec)))
        return DBM_PROC_DELETE;

    // A B-VLAN beyond the highest VLAN ID (fewer VLANs than when it was
    // stored) has no list in the unicast table.
    if (stRec.usBVlan != PBB_BVLAN_NONE && stRec.usBVlan > g_usPbbMaxVlanId) return DBM_PROC_DELETE;

    const char* pcDot = strchr(pcKey, '.');
    char szVsiName[PBB_VSI_NAME_LEN] = "";
    if (pcDot != nullptr) strlcpy(szVsiName, pcDot + 1, sizeof(szVsiName));

    PbbVsi* pstVsi = PBB_vsi_CreateVsi(stRec.uiVsiIndex);
    if (pstVsi == nullptr) return DBM_PROC_DELETE;
    std::memcpy(pstVsi->szVsiName, szVsiName, sizeof(pstVsi->szVsiName));
    PBB_vsi_SetISid(stRec.uiVsiIndex, stRec.uiISid);
    pstVsi->usBVlan = stRec.usBVlan;
    pstVsi->uiEncapType = stRec.uiEncapType;
    return DBM_PROC_KEEP;
}

uint32_t _pbb_dbmrecover_CheckIf(uint32_t hDb, uint32_t uiIfIndex, uint32_t* puiVerdict)
{
    bool bInUsed = hDb == g_hPbbUsedCfgDB;
    // Configuration only: its records belong in the unused database.
    if (IF_IsTempIf(uiIfIndex) == 1) {
        *puiVerdict = bInUsed ? DBM_PROC_MOVE : DBM_PROC_KEEP;
        return 0;
    }
    uint32_t uiSupport = PBB_l2vpn_IsSupportByIf(uiIfIndex);
    uint32_t uiType = PBB_RECOVER_IF_TYPE_NONE;
    (void)IF_GetDataByIfIndex(uiIfIndex, IF_DATA_TYPE, &uiType);
    if (_pbb_dbmrecover_IsPbbIfType(uiType) && uiSupport == 1) {
        *puiVerdict = bInUsed ? DBM_PROC_KEEP : DBM_PROC_MOVE;
        return 1;
    }
    *puiVerdict = DBM_PROC_DELETE;
    return 0;
}

uint32_t _pbb_dbmrecover_GetIfIndexByKey(const char* pcKey)
{
    const char* pcDot = strchr(pcKey, '.');
    if (pcDot == nullptr) return 0;
    char szIfName[IF_NAME_BUF_LEN] = "";
    strlcpy(szIfName, pcDot + 1, sizeof(szIfName));
    return IF_GetIfIndexByFullName(szIfName);
}

uint32_t _pbb_dbmrecover_IfVsi(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen)
{
    uint32_t uiIfIndex = _pbb_dbmrecover_GetIfIndexByKey(pcKey);
    if (uiIfIndex == 0) return DBM_PROC_DELETE;
    uint32_t uiVerdict = DBM_PROC_DELETE;
    if (_pbb_dbmrecover_CheckIf(hDb, uiIfIndex, &uiVerdict) != 1) return uiVerdict;
    if (PBB_ifcb_Create(uiIfIndex) == nullptr) return DBM_PROC_DELETE;
    _pbb_dbmrecover_WalkIfVsi(hDb, pcKey, uiKeyLen, uiIfIndex, true);
    return uiVerdict;
}

uint32_t _pbb_dbmrecover_If(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen)
{
    (void)uiKeyLen;  // the key's presence is what counts, not its value
    uint32_t uiIfIndex = _pbb_dbmrecover_GetIfIndexByKey(pcKey);
    if (uiIfIndex == 0) return DBM_PROC_DELETE;
    uint32_t uiVerdict = DBM_PROC_DELETE;
    if (_pbb_dbmrecover_CheckIf(hDb, uiIfIndex, &uiVerdict) != 1) return uiVerdict;
    PbbIfCb* pstIfCb = PBB_ifcb_Create(uiIfIndex);
    if (pstIfCb == nullptr) return DBM_PROC_DELETE;
    pstIfCb->usUplinkAll = 1;
    for (PbbVsi* pstVsi = PBB_vsi_GetFirstVsi(); pstVsi != nullptr; pstVsi = PBB_vsi_GetNextVsi(pstVsi->uiVsiIndex))
        _pbb_dbmrecover_Attach(uiIfIndex, pstVsi->uiVsiIndex);
    return uiVerdict;
}

uint32_t PBB_dbmrecover_IfRecover(uint32_t uiIfIndex)
{
    char szIfName[IF_NAME_BUF_LEN] = "";
    (void)IF_GetDataByIfIndex(uiIfIndex, IF_DATA_FULL_NAME, szIfName);
    szIfName[IF_NAME_BUF_LEN - 1] = '\0';

    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IFVSI, szIfName);
    if (DBM_IsKeyExist(g_hPbbUnusedCfgDB, szKey, uiKeyLen) == 1) {
        if (PBB_ifcb_Create(uiIfIndex) == nullptr) return PBB_ERR;
        // Names only: the caller attaches the interface to the VSIs.
        _pbb_dbmrecover_WalkIfVsi(g_hPbbUnusedCfgDB, szKey, uiKeyLen, uiIfIndex, false);
    }

    uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IF, szIfName);
    if (DBM_IsKeyExist(g_hPbbUnusedCfgDB, szKey, uiKeyLen) == 1) {
        PbbIfCb* pstIfCb = PBB_ifcb_Create(uiIfIndex);
        if (pstIfCb == nullptr) return PBB_ERR;
        pstIfCb->usUplinkAll = 1;
    }
    return PBB_OK;
}
