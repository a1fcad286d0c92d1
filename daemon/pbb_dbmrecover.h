// Opening and closing the daemon's databases, and recovering the saved
// state at start-up.
#pragma once

#include "platform/dbm.h"

#include <cstdint>

extern uint32_t g_hPbbUsedCfgDB;
extern uint32_t g_hPbbUnusedCfgDB;
extern uint32_t g_hPbbLocalRunDB;

// A row of a key-type table: the value type and the handlers of its keys in
// the first and the second database of a batch (null: left alone).
using PbbDbmProcKey = DBM_PROC_KEY_S;

constexpr uint32_t PBB_DBM_RUN_PROC_ROWS = 1;
constexpr uint32_t PBB_DBM_CFG_PROC_ROWS = 3;
extern const PbbDbmProcKey g_astPBB_RunProcKey[PBB_DBM_RUN_PROC_ROWS];
extern const PbbDbmProcKey g_astPBB_CfgProcKey[PBB_DBM_CFG_PROC_ROWS];

uint32_t PBB_dbmrecover_Init();
void PBB_dbmrecover_Exit();
uint32_t PBB_dbmrecover_Recover();
uint32_t PBB_dbmrecover_IfRecover(uint32_t uiIfIndex);

// Handlers of the key-type tables: database handle, key, key length as
// stored; the verdict is DBM_PROC_KEEP, DBM_PROC_DELETE or DBM_PROC_MOVE.
uint32_t _pbb_dbmrecover_UcPw(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen);
uint32_t _pbb_dbmrecover_Vsi(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen);
uint32_t _pbb_dbmrecover_IfVsi(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen);
uint32_t _pbb_dbmrecover_If(uint32_t hDb, const char* pcKey, uint32_t uiKeyLen);
// 1 when the interface is to get a control block, else 0; the verdict for
// its key in hDb in both cases.
uint32_t _pbb_dbmrecover_CheckIf(uint32_t hDb, uint32_t uiIfIndex, uint32_t* puiVerdict);
// ifIndex of the interface named by the text after the key's first '.';
// 0 when there is none.
uint32_t _pbb_dbmrecover_GetIfIndexByKey(const char* pcKey);
