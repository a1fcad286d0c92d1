// Debug switches and log output of the PBB daemon.
#pragma once

#include <cstdint>

extern uint32_t g_uiPbbDbgFlag;

constexpr uint32_t PBB_DBG_ERROR = 0x1;
constexpr uint32_t PBB_DBG_EVENT = 0x2;
constexpr uint32_t PBB_DBG_PKT = 0x4;

constexpr const char* PBB_LOG_IDENT = "pbb";
constexpr int PBB_LOG_OPTION = 4;        // open on first message
constexpr int PBB_LOG_FACILITY = 184;    // local7
constexpr uint32_t PBB_LOG_PRI_TRACE = 0x100000BEu;
constexpr uint32_t PBB_LOG_PRI_MSG = 0x010000B8u;
constexpr uint32_t PBB_LOG_PRI_DEBUG = 0x0100000Fu;

// A list is built in a buffer of this size and printed in pieces once
// this many characters have gathered.
constexpr uint32_t PBB_LOG_LIST_BUF = 4096;
constexpr uint32_t PBB_LOG_PIECE = 800;

uint32_t PBB_log_IsDebugSwitchOn(uint32_t uiMask);
uint32_t PBB_log_GetDebugSwitch();
void PBB_log_SetDebugSwitch(uint16_t usOperation, uint32_t uiMask);
void PBB_log_Init();
void PBB_log_Exit();
void PBB_log_TracePrint(const char* szFormat, ...);
void PBB_log_PrintLog(uint32_t uiSeverity, const char* szTag, const char* szFormat, ...);
void PBB_log_Print(const char* szTag, const char* szFormat, ...);
void PBB_log_LoopPrint(const char* szTag, const char* szText, uint16_t* pusFirst);
