// Opening and closing the daemon's databases, and recovering the saved
// state at start-up.
#pragma once

#include <cstdint>

extern uint32_t g_hPbbUsedCfgDB;
extern uint32_t g_hPbbUnusedCfgDB;
extern uint32_t g_hPbbLocalRunDB;

uint32_t PBB_dbmrecover_Init();
void PBB_dbmrecover_Exit();
