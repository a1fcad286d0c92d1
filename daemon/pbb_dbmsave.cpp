// Saving the daemon's state in the configuration and run databases: VSI
// settings ("vsi."), all-VSI uplinks ("if."), per-interface VSI lists
// ("ifvsi.") and learned unicast entries ("ucpw.<vsi>.<ifindex>.<bvlan>.<name>").
// Database results are passed back but never acted on: a failed write
// leaves the record missing and the daemon running.
#include "daemon/pbb_dbmsave.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmrecover.h"
#include "platform/dbm.h"
#include "platform/ifm.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint16_t PBB_DBM_IF_ALL_VALUE = 1;
constexpr uint32_t PBB_DBM_UCPW_REC_LEN = sizeof(PbbDbmUcPwRec);

// Sort descriptions: (kind, offset, length, compare, flags).
constexpr uint32_t PBB_DBM_SORT_KIND = 1;
constexpr uint32_t PBB_DBM_IFVSI_SORT_OFF = 0;
constexpr uint32_t PBB_DBM_IFVSI_SORT_LEN = 32;
constexpr uint32_t PBB_DBM_IFVSI_SORT_CMP = 5;
constexpr uint32_t PBB_DBM_UCPW_SORT_OFF = offsetof(PbbDbmUcPwRec, aucBMac);
constexpr uint32_t PBB_DBM_UCPW_SORT_LEN = 8;
constexpr uint32_t PBB_DBM_UCPW_SORT_CMP = 4;
constexpr uint32_t PBB_DBM_SORT_FLAGS = 0;
static_assert(PBB_DBM_UCPW_SORT_OFF == 12 && PBB_DBM_UCPW_SORT_OFF + PBB_DBM_UCPW_SORT_LEN == 20,
              "the sort field is the B-MAC followed by the B-VLAN");
static_assert(sizeof(DBM_KEY_DESC_S) * PBB_DBM_KEY_CHUNK == 2048);

constexpr uint32_t PBB_DBM_ANY_VSI = 0xFFFFFFFFu;
constexpr uint16_t PBB_DBM_ANY_VLAN = 0xFFFF;

// The text of PBB_DBM_KEY_UCPW_FMT ("ucpw.%u.%u.%hu.%s"), written without
// the formatter: every learned entry makes one. The longest (three numbers
// at their widest and a full interface name) fits the buffer.
static_assert(sizeof("ucpw.") - 1 + 10 + 1 + 10 + 1 + 5 + 1 + (IF_NAME_BUF_LEN - 1) < PBB_DBM_KEY_LEN);
uint32_t _pbb_dbmsave_MakeUcPwKey(char* szKey, uint32_t uiVsiIndex, uint32_t uiIfIndex, uint16_t usBVlan)
{
    char szIfName[IF_NAME_BUF_LEN] = "";
    (void)IF_GetDataByIfIndex(uiIfIndex, IF_DATA_FULL_NAME, szIfName);
    szIfName[IF_NAME_BUF_LEN - 1] = '\0';
    char* pcEnd = szKey + PBB_DBM_KEY_LEN;
    char* pc = szKey;
    std::memcpy(pc, "ucpw.", 5);
    pc += 5;
    pc = std::to_chars(pc, pcEnd, uiVsiIndex).ptr;
    *pc++ = '.';
    pc = std::to_chars(pc, pcEnd, uiIfIndex).ptr;
    *pc++ = '.';
    pc = std::to_chars(pc, pcEnd, usBVlan).ptr;
    *pc++ = '.';
    size_t ulNameLen = strlen(szIfName);
    std::memcpy(pc, szIfName, ulNameLen + 1);
    return static_cast<uint32_t>(pc - szKey + ulNameLen) + 1;
}

// Selector 1: the unused configuration database; anything else: the used one.
uint32_t _pbb_dbmsave_SelectDb(uint16_t usDbSel)
{
    return usDbSel == PBB_DBM_SEL_UNUSED ? g_hPbbUnusedCfgDB : g_hPbbUsedCfgDB;
}

// A 32-byte VSI name element: zero-filled, at most 31 characters.
void _pbb_dbmsave_MakeVsiNameElem(char* szElem, const char* szVsiName)
{
    std::memset(szElem, 0, PBB_DBM_VSI_NAME_LEN);
    if (szVsiName != nullptr) std::strncpy(szElem, szVsiName, PBB_DBM_VSI_NAME_LEN - 1);
}

bool _pbb_dbmsave_IfListHas(uint32_t uiCount, const uint32_t* puiIfIndex, uint32_t uiIfIndex)
{
    if (puiIfIndex == nullptr) return false;
    for (uint32_t i = 0; i < uiCount; ++i) {
        if (puiIfIndex[i] == uiIfIndex) return true;
    }
    return false;
}

}  // namespace

uint32_t PBB_dbmsave_MakeKey(char* szKey, const char* szPrefix, const char* szName)
{
    (void)snprintf(szKey, PBB_DBM_KEY_LEN, "%s%s", szPrefix, szName == nullptr ? "" : szName);
    return static_cast<uint32_t>(strlen(szKey)) + 1;
}

uint32_t PBB_dbmsave_AddVsiCfg(uint32_t uiVsiIndex, const char* szVsiName, uint32_t uiISid, uint16_t usBVlan,
                               uint32_t uiEncapType)
{
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_VSI, szVsiName);
    PbbDbmVsiRec stRec{};
    stRec.uiVsiIndex = uiVsiIndex;
    stRec.uiISid = uiISid;
    stRec.uiEncapType = uiEncapType;
    stRec.usBVlan = usBVlan;
    stRec.usReserved = 0;
    return DBM_SetBinary(g_hPbbUsedCfgDB, szKey, uiKeyLen, 0, sizeof(stRec), &stRec, PBB_DBM_VT_VSI);
}

int32_t PBB_dbmsave_GetVsiCfg(const char* szVsiName, PbbDbmVsiRec* pstRec)
{
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_VSI, szVsiName);
    return DBM_GetBinary(g_hPbbUsedCfgDB, szKey, uiKeyLen, 0, sizeof(*pstRec), pstRec);
}

uint32_t PBB_dbmsave_DeleteVsiCfg(const char* szVsiName)
{
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_VSI, szVsiName);
    return DBM_DeleteKey(g_hPbbUsedCfgDB, szKey, uiKeyLen);
}

uint32_t PBB_dbmsave_AddIfCfg(uint16_t usDbSel, const char* szIfName)
{
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IF, szIfName);
    uint16_t usValue = PBB_DBM_IF_ALL_VALUE;
    return DBM_SetBinary(_pbb_dbmsave_SelectDb(usDbSel), szKey, uiKeyLen, 0, sizeof(usValue), &usValue,
                         PBB_DBM_VT_IF);
}

uint32_t PBB_dbmsave_GetIfCfg(uint16_t usDbSel, const char* szIfName, uint16_t* pusValue)
{
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IF, szIfName);
    uint8_t aucValue[sizeof(uint16_t)] = {0, 0};
    int32_t iRet = DBM_GetBinary(_pbb_dbmsave_SelectDb(usDbSel), szKey, uiKeyLen, 0, sizeof(aucValue), aucValue);
    if (pusValue != nullptr) std::memcpy(pusValue, aucValue, sizeof(aucValue));
    return static_cast<uint32_t>(iRet);
}

uint32_t PBB_dbmsave_DeleteIfCfg(uint16_t usDbSel, const char* szIfName)
{
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IF, szIfName);
    return DBM_DeleteKey(_pbb_dbmsave_SelectDb(usDbSel), szKey, uiKeyLen);
}

uint32_t PBB_dbmsave_AddIfVsiCfg(uint16_t usDbSel, const char* szIfName, const char* szVsiName)
{
    uint32_t hDb = _pbb_dbmsave_SelectDb(usDbSel);
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IFVSI, szIfName);
    if (DBM_IsKeyExist(hDb, szKey, uiKeyLen) != 1)
        (void)DBM_SetSortWord(hDb, szKey, uiKeyLen, PBB_DBM_SORT_KIND, PBB_DBM_IFVSI_SORT_OFF, PBB_DBM_IFVSI_SORT_LEN,
                              PBB_DBM_IFVSI_SORT_CMP, PBB_DBM_SORT_FLAGS);
    char szElem[PBB_DBM_VSI_NAME_LEN];
    _pbb_dbmsave_MakeVsiNameElem(szElem, szVsiName);
    return DBM_InsertSortList(hDb, szKey, uiKeyLen, PBB_DBM_VSI_NAME_LEN, szElem, PBB_DBM_VT_IFVSI);
}

uint32_t PBB_dbmsave_DeleteIfVsiCfg(uint16_t usDbSel, const char* szIfName, const char* szVsiName)
{
    uint32_t hDb = _pbb_dbmsave_SelectDb(usDbSel);
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IFVSI, szIfName);
    char szElem[PBB_DBM_VSI_NAME_LEN];
    _pbb_dbmsave_MakeVsiNameElem(szElem, szVsiName);
    (void)DBM_RemoveSortList(hDb, szKey, uiKeyLen, PBB_DBM_VSI_NAME_LEN, szElem);
    uint32_t uiLen = DBM_Len(hDb, szKey, uiKeyLen);
    if (uiLen == 0) return DBM_DeleteKey(hDb, szKey, uiKeyLen);
    return uiLen;
}

uint32_t PBB_dbmsave_DeleteIfVsiAllCfg(uint16_t usDbSel, const char* szIfName)
{
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IFVSI, szIfName);
    return DBM_DeleteKey(_pbb_dbmsave_SelectDb(usDbSel), szKey, uiKeyLen);
}

bool PBB_dbmsave_HasIfVsiCfg(uint16_t usDbSel, const char* szIfName, const char* szVsiName)
{
    uint32_t hDb = _pbb_dbmsave_SelectDb(usDbSel);
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IFVSI, szIfName);
    if (szVsiName == nullptr) return DBM_IsKeyExist(hDb, szKey, uiKeyLen) == 1;
    char szElem[PBB_DBM_VSI_NAME_LEN], szStored[PBB_DBM_VSI_NAME_LEN];
    _pbb_dbmsave_MakeVsiNameElem(szElem, szVsiName);
    uint32_t uiIterator = 0;
    bool bFound = false;
    while (!bFound &&
           DBM_GetNextSortList(hDb, szKey, uiKeyLen, &uiIterator, 0, 0, PBB_DBM_VSI_NAME_LEN, szStored) > 0)
        bFound = std::memcmp(szStored, szElem, sizeof(szElem)) == 0;
    (void)DBM_FreeIterator(uiIterator);
    return bFound;
}

uint32_t PBB_dbmsave_DeleteIfAllCfg(uint16_t usDbSel, const char* szIfName)
{
    uint32_t hDb = _pbb_dbmsave_SelectDb(usDbSel);
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IFVSI, szIfName);
    (void)DBM_DeleteKey(hDb, szKey, uiKeyLen);
    uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IF, szIfName);
    return DBM_DeleteKey(hDb, szKey, uiKeyLen);
}

uint32_t PBB_dbmsave_MoveIfAllCfg(uint16_t usDbSel, const char* szIfName)
{
    // Selector 1: the interface has gone, its records go to the unused
    // database; otherwise it is back and they return to the used one.
    uint32_t hSrc = g_hPbbUnusedCfgDB;
    uint32_t hDst = g_hPbbUsedCfgDB;
    if (usDbSel == PBB_DBM_SEL_UNUSED) {
        hSrc = g_hPbbUsedCfgDB;
        hDst = g_hPbbUnusedCfgDB;
    }
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IFVSI, szIfName);
    (void)DBM_Move(hSrc, szKey, uiKeyLen, hDst);
    uiKeyLen = PBB_dbmsave_MakeKey(szKey, PBB_DBM_KEY_IF, szIfName);
    return DBM_Move(hSrc, szKey, uiKeyLen, hDst);
}

uint32_t PBB_dbmsave_AddUcPw(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, const uint8_t* pucBMac,
                             uint32_t uiIfIndex)
{
    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = _pbb_dbmsave_MakeUcPwKey(szKey, uiVsiIndex, uiIfIndex, usBVlan);

    PbbDbmUcPwRec stRec{};
    stRec.uiVsiIndex = uiVsiIndex;
    stRec.uiISid = uiISid;
    stRec.uiIfIndex = uiIfIndex;
    std::memcpy(stRec.aucBMac, pucBMac, sizeof(stRec.aucBMac));
    stRec.usBVlan = usBVlan;

    if (DBM_IsKeyExist(g_hPbbLocalRunDB, szKey, uiKeyLen) != 1)
        (void)DBM_SetSortWord(g_hPbbLocalRunDB, szKey, uiKeyLen, PBB_DBM_SORT_KIND, PBB_DBM_UCPW_SORT_OFF,
                              PBB_DBM_UCPW_SORT_LEN, PBB_DBM_UCPW_SORT_CMP, PBB_DBM_SORT_FLAGS);
    return DBM_InsertSortList(g_hPbbLocalRunDB, szKey, uiKeyLen, PBB_DBM_UCPW_REC_LEN, &stRec, PBB_DBM_VT_UCPW);
}

uint32_t PBB_dbmsave_DeleteUcPw(const PbbUcPw* pstUcPw)
{
    if (pstUcPw == nullptr) return PBB_ERR;
    PbbDbmUcPwRec stRec{};
    stRec.uiVsiIndex = pstUcPw->uiVsiIndex;
    stRec.uiISid = pstUcPw->uiISid;
    stRec.uiIfIndex = pstUcPw->uiIfIndex;
    std::memcpy(stRec.aucBMac, pstUcPw->aucBMac, sizeof(stRec.aucBMac));
    stRec.usBVlan = pstUcPw->usBVlan;

    char szKey[PBB_DBM_KEY_LEN];
    uint32_t uiKeyLen = _pbb_dbmsave_MakeUcPwKey(szKey, pstUcPw->uiVsiIndex, pstUcPw->uiIfIndex, pstUcPw->usBVlan);
    (void)DBM_RemoveSortList(g_hPbbLocalRunDB, szKey, uiKeyLen, PBB_DBM_UCPW_REC_LEN, &stRec);
    uint32_t uiLen = DBM_Len(g_hPbbLocalRunDB, szKey, uiKeyLen);
    if (uiLen == 0) return DBM_DeleteKey(g_hPbbLocalRunDB, szKey, uiKeyLen);
    return uiLen;
}

namespace {

// Hands every key of the learned entries to fn: the count taken first is
// worked off in chunks of at most 128 keys.
template <typename Fn>
void _pbb_dbmsave_WalkUcPwKeys(Fn fn)
{
    uint32_t uiIterator = 0;
    uint32_t uiLeft = DBM_GetKeyNumByValueType(g_hPbbLocalRunDB, PBB_DBM_VT_UCPW);
    while (uiLeft > 0) {
        uint32_t uiChunk = uiLeft < PBB_DBM_KEY_CHUNK ? uiLeft : PBB_DBM_KEY_CHUNK;
        uiLeft -= uiChunk;
        DBM_KEY_DESC_S astKeys[PBB_DBM_KEY_CHUNK];
        std::memset(astKeys, 0, sizeof(astKeys));
        uint32_t uiGot = DBM_GetKeysByValueType(g_hPbbLocalRunDB, uiChunk, PBB_DBM_VT_UCPW, &uiIterator, astKeys);
        if (uiGot > uiChunk) uiGot = uiChunk;
        for (uint32_t i = 0; i < uiGot; ++i)
            if (astKeys[i].pcKey != nullptr) fn(astKeys[i]);
    }
    (void)DBM_FreeIterator(uiIterator);
}

}  // namespace

uint32_t _pbb_dbmsave_DeleteUcPwBatch(int32_t iVsiIndex, uint16_t usBVlan, const BITMAP_S* pstVlanBitmap,
                                      uint32_t uiIfCount, const uint32_t* puiIfIndex)
{
    uint32_t uiRet = PBB_OK;
    _pbb_dbmsave_WalkUcPwKeys([&](const DBM_KEY_DESC_S& stKey) {
        uint32_t uiKeyVsi = PBB_DBM_ANY_VSI;
        uint32_t uiKeyIf = 0;
        uint16_t usKeyVlan = PBB_DBM_ANY_VLAN;
        char szName[PBB_DBM_KEY_LEN] = "";
        (void)sscanf(stKey.pcKey, "ucpw.%u.%u.%hu.%127s", &uiKeyVsi, &uiKeyIf, &usKeyVlan, szName);

        if (iVsiIndex != -1 && static_cast<uint32_t>(iVsiIndex) != uiKeyVsi) return;
        if (usBVlan != PBB_DBM_ANY_VLAN && usBVlan != usKeyVlan) return;
        if (pstVlanBitmap != nullptr && Bitmap_Check(pstVlanBitmap, usKeyVlan) != 1) return;
        if (uiIfCount != 0 && !_pbb_dbmsave_IfListHas(uiIfCount, puiIfIndex, uiKeyIf)) return;
        uiRet = DBM_DeleteKey(g_hPbbLocalRunDB, stKey.pcKey, stKey.uiKeyLen);
    });
    return uiRet;
}

uint32_t PBB_dbmsave_GetUcPwNum()
{
    uint64_t ulNum = 0;
    _pbb_dbmsave_WalkUcPwKeys([&ulNum](const DBM_KEY_DESC_S& stKey) {
        ulNum += DBM_Len(g_hPbbLocalRunDB, stKey.pcKey, stKey.uiKeyLen) / PBB_DBM_UCPW_REC_LEN;
    });
    return ulNum < UINT32_MAX ? static_cast<uint32_t>(ulNum) : UINT32_MAX;
}

// Each batch deletion first asks the table and leaves the database alone
// when the table holds no entry of the kind; the answer (1) is returned.
uint32_t PBB_dbmsave_DeleteUcPwByVsi(uint32_t uiVsiIndex)
{
    uint32_t uiEmpty = PBB_ucpw_IsEmptyByVsi(uiVsiIndex);
    if (uiEmpty != 0) return uiEmpty;
    return _pbb_dbmsave_DeleteUcPwBatch(static_cast<int32_t>(uiVsiIndex), PBB_DBM_ANY_VLAN, nullptr, 0, nullptr);
}

uint32_t PBB_dbmsave_DeleteUcPwByIf(uint32_t uiIfIndex)
{
    uint32_t uiEmpty = PBB_ucpw_IsEmptyByIf(uiIfIndex);
    if (uiEmpty != 0) return uiEmpty;
    return _pbb_dbmsave_DeleteUcPwBatch(-1, PBB_DBM_ANY_VLAN, nullptr, 1, &uiIfIndex);
}

uint32_t PBB_dbmsave_DeleteUcPwByBVlan(uint16_t usBVlan)
{
    uint32_t uiEmpty = PBB_ucpw_IsEmptyByVlan(usBVlan);
    if (uiEmpty != 0) return uiEmpty;
    return _pbb_dbmsave_DeleteUcPwBatch(-1, usBVlan, nullptr, 0, nullptr);
}

uint32_t PBB_dbmsave_DeleteUcPwByIfBVlan(uint32_t uiIfIndex, uint16_t usBVlan)
{
    uint32_t uiEmpty = PBB_ucpw_IsEmptyByIf(uiIfIndex);
    if (uiEmpty != 0) return uiEmpty;
    uiEmpty = PBB_ucpw_IsEmptyByVlan(usBVlan);
    if (uiEmpty != 0) return uiEmpty;
    return _pbb_dbmsave_DeleteUcPwBatch(-1, usBVlan, nullptr, 1, &uiIfIndex);
}

uint32_t PBB_dbmsave_DeleteUcPwByIfVsi(uint32_t uiIfIndex, uint32_t uiVsiIndex)
{
    uint32_t uiEmpty = PBB_ucpw_IsEmptyByIf(uiIfIndex);
    if (uiEmpty != 0) return uiEmpty;
    uiEmpty = PBB_ucpw_IsEmptyByVsi(uiVsiIndex);
    if (uiEmpty != 0) return uiEmpty;
    return _pbb_dbmsave_DeleteUcPwBatch(static_cast<int32_t>(uiVsiIndex), PBB_DBM_ANY_VLAN, nullptr, 1, &uiIfIndex);
}

uint32_t PBB_dbmsave_DeleteUcPwAll()
{
    uint32_t uiEmpty = PBB_ucpw_IsEmpty();
    if (uiEmpty != 0) return uiEmpty;
    return _pbb_dbmsave_DeleteUcPwBatch(-1, PBB_DBM_ANY_VLAN, nullptr, 0, nullptr);
}

uint32_t PBB_dbmsave_DeleteUcPwByVsiIfList(uint32_t uiVsiIndex, uint32_t uiCount, const uint32_t* puiIfIndex)
{
    uint32_t uiEmpty = PBB_ucpw_IsEmptyByVsi(uiVsiIndex);
    if (uiEmpty != 0) return uiEmpty;
    return _pbb_dbmsave_DeleteUcPwBatch(static_cast<int32_t>(uiVsiIndex), PBB_DBM_ANY_VLAN, nullptr, uiCount,
                                        puiIfIndex);
}

uint32_t PBB_dbmsave_DeleteUcPwByBVlanMapIfList(const BITMAP_S* pstVlanBitmap, uint32_t uiCount,
                                                const uint32_t* puiIfIndex)
{
    return _pbb_dbmsave_DeleteUcPwBatch(-1, PBB_DBM_ANY_VLAN, pstVlanBitmap, uiCount, puiIfIndex);
}
