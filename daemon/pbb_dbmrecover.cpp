// Opening and closing the daemon's three databases: the configuration pair
// ("ePBB" used, "pPBB" unused) and the local run database "lPBB" of the
// learned entries, all in group "pbb".
#include "daemon/pbb_dbmrecover.h"

#include "daemon/pbb_common.h"
#include "platform/dbm.h"

uint32_t g_hPbbUsedCfgDB = DBM_INVALID_HANDLE;
uint32_t g_hPbbUnusedCfgDB = DBM_INVALID_HANDLE;
uint32_t g_hPbbLocalRunDB = DBM_INVALID_HANDLE;

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
