// The records the daemon stores in the configuration and run databases,
// and the operations that write and delete them.
#pragma once

#include "daemon/pbb_ucpw.h"
#include "platform/bitmap.h"

#include <cstddef>
#include <cstdint>

constexpr uint32_t PBB_DBM_KEY_LEN = 128;  // buffer; at most 127 characters
constexpr uint32_t PBB_DBM_VT_VSI = 0;     // "vsi." in the configuration databases
constexpr uint32_t PBB_DBM_VT_IFVSI = 1;   // "ifvsi."
constexpr uint32_t PBB_DBM_VT_IF = 2;      // "if."
constexpr uint32_t PBB_DBM_VT_UCPW = 0;    // "ucpw." in the run database
constexpr uint16_t PBB_DBM_SEL_USED = 0;
constexpr uint16_t PBB_DBM_SEL_UNUSED = 1;
constexpr uint32_t PBB_DBM_KEY_CHUNK = 128;

// Key prefixes and the format of a learned entry's key: VSI index, ifIndex,
// B-VLAN and the interface's full name.
constexpr const char* PBB_DBM_KEY_VSI = "vsi.";
constexpr const char* PBB_DBM_KEY_IF = "if.";
constexpr const char* PBB_DBM_KEY_IFVSI = "ifvsi.";
constexpr const char* PBB_DBM_KEY_UCPW_FMT = "ucpw.%u.%u.%hu.%s";
constexpr uint32_t PBB_DBM_VSI_NAME_LEN = 32;  // element of an "ifvsi." list

// Value of a "vsi." key.
struct PbbDbmVsiRec {
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint32_t uiEncapType;
    uint16_t usBVlan;
    uint16_t usReserved;
};
static_assert(sizeof(PbbDbmVsiRec) == 16);
static_assert(offsetof(PbbDbmVsiRec, usBVlan) == 12);

// Element of a "ucpw." key.
#pragma pack(push, 1)
struct PbbDbmUcPwRec {
    uint32_t uiVsiIndex;
    uint32_t uiISid;
    uint32_t uiIfIndex;
    uint8_t aucBMac[6];
    uint16_t usBVlan;
};
#pragma pack(pop)
static_assert(sizeof(PbbDbmUcPwRec) == 20);
static_assert(offsetof(PbbDbmUcPwRec, aucBMac) == 12);
static_assert(offsetof(PbbDbmUcPwRec, usBVlan) == 18);

// Key text of prefix + name in a PBB_DBM_KEY_LEN buffer; returns the length
// handed to the DBM_ calls (characters plus the terminating NUL).
uint32_t PBB_dbmsave_MakeKey(char* szKey, const char* szPrefix, const char* szName);
uint32_t PBB_dbmsave_AddVsiCfg(uint32_t uiVsiIndex, const char* szVsiName, uint32_t uiISid, uint16_t usBVlan,
                               uint32_t uiEncapType);
uint32_t PBB_dbmsave_DeleteVsiCfg(const char* szVsiName);
// The VSI's stored record: its length as DBM_GetBinary gives it (negative
// when there is none).
int32_t PBB_dbmsave_GetVsiCfg(const char* szVsiName, PbbDbmVsiRec* pstRec);
uint32_t PBB_dbmsave_AddIfCfg(uint16_t usDbSel, const char* szIfName);
uint32_t PBB_dbmsave_GetIfCfg(uint16_t usDbSel, const char* szIfName, uint16_t* pusValue);
uint32_t PBB_dbmsave_DeleteIfCfg(uint16_t usDbSel, const char* szIfName);
uint32_t PBB_dbmsave_AddIfVsiCfg(uint16_t usDbSel, const char* szIfName, const char* szVsiName);
uint32_t PBB_dbmsave_DeleteIfVsiCfg(uint16_t usDbSel, const char* szIfName, const char* szVsiName);
uint32_t PBB_dbmsave_DeleteIfVsiAllCfg(uint16_t usDbSel, const char* szIfName);
// Whether the interface's VSI list holds the name; without a name, whether
// the interface has a VSI list at all.
bool PBB_dbmsave_HasIfVsiCfg(uint16_t usDbSel, const char* szIfName, const char* szVsiName);
uint32_t PBB_dbmsave_DeleteIfAllCfg(uint16_t usDbSel, const char* szIfName);
uint32_t PBB_dbmsave_MoveIfAllCfg(uint16_t usDbSel, const char* szIfName);
uint32_t PBB_dbmsave_AddUcPw(uint32_t uiVsiIndex, uint32_t uiISid, uint16_t usBVlan, const uint8_t* pucBMac,
                             uint32_t uiIfIndex);
uint32_t PBB_dbmsave_DeleteUcPw(const PbbUcPw* pstUcPw);
// Learned entries the run database holds, as the lengths of their keys'
// lists give them.
uint32_t PBB_dbmsave_GetUcPwNum();
uint32_t PBB_dbmsave_DeleteUcPwByVsi(uint32_t uiVsiIndex);
uint32_t PBB_dbmsave_DeleteUcPwByIf(uint32_t uiIfIndex);
uint32_t PBB_dbmsave_DeleteUcPwByBVlan(uint16_t usBVlan);
uint32_t PBB_dbmsave_DeleteUcPwByIfBVlan(uint32_t uiIfIndex, uint16_t usBVlan);
uint32_t PBB_dbmsave_DeleteUcPwByIfVsi(uint32_t uiIfIndex, uint32_t uiVsiIndex);
uint32_t PBB_dbmsave_DeleteUcPwAll();
uint32_t PBB_dbmsave_DeleteUcPwByVsiIfList(uint32_t uiVsiIndex, uint32_t uiCount, const uint32_t* puiIfIndex);
uint32_t PBB_dbmsave_DeleteUcPwByBVlanMapIfList(const BITMAP_S* pstVlanBitmap, uint32_t uiCount,
                                                const uint32_t* puiIfIndex);
uint32_t _pbb_dbmsave_DeleteUcPwBatch(int32_t iVsiIndex, uint16_t usBVlan, const BITMAP_S* pstVlanBitmap,
                                      uint32_t uiIfCount, const uint32_t* puiIfIndex);
