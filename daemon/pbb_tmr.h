// Periodic timers in whole seconds, driven by a one-second tick
// descriptor that the event loop watches.
#pragma once

#include "platform/timer.h"

#include <cstddef>
#include <cstdint>

extern uint32_t g_hTimerInstance;
extern int g_iTimerFd;

using PbbTmrFunc = void (*)(void* pArg);

// Parameter block handed to the timer library with every timer; the
// library keeps its own copy.
struct PbbTmrParam {
    PbbTmrFunc pfnCallback;
    void* pArg;
    uint32_t uiReserved0;
    uint32_t uiReserved1;
};
static_assert(sizeof(PbbTmrParam) == sizeof(TIMER_PARAM_S), "the library copies a block of its own size");
static_assert(offsetof(PbbTmrParam, pArg) == offsetof(TIMER_PARAM_S, pArg1));

constexpr uint32_t PBB_TMR_INVALID = TIMER_INVALID_ID;
constexpr uint32_t PBB_TMR_TICK_MS = 1000;

uint32_t PBB_tmr_Init();
void PBB_tmr_Exit();
uint32_t PBB_tmr_CreatePeriodTimer(uint32_t uiPeriodSeconds, PbbTmrFunc pfCallback, void* pArg);
void PBB_tmr_DeletePeriodTimer(uint32_t* puiTimer);
uint32_t _pbb_tmr_Callback(void* pParam);
uint32_t _pbb_tmr_ProcTimerFd(uint32_t uiEvents, int iFd);
