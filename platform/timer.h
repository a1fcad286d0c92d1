// Timer library: timers in milliseconds, advanced only by explicit ticks.
//
// Timer_Initialize(mode, tickMs, maxTimers, wheelHint) returns an instance
// handle (0 on failure). Each Timer_Tick_Announce adds tickMs to the
// instance's clock and runs, before returning, every timer that is due,
// in the order the timers became due (creation order on ties). A timer
// created with mode 1 is periodic; mode 0 fires once and is then deleted.
// The parameter block is copied at creation and a pointer to the copy is
// handed to the expiry function. A timer deleted from inside any expiry
// function (its own included) never fires again.
#pragma once

#include <cstdint>

constexpr uint32_t TIMER_INVALID_ID = 0xFFFFFFFFu;
constexpr uint32_t TIMER_MODE_ONCE = 0;
constexpr uint32_t TIMER_MODE_PERIODIC = 1;

// The parameter block the library copies for each timer.
struct TIMER_PARAM_S {
    void* pArg0;
    void* pArg1;
    uint32_t uiArg2;
    uint32_t uiArg3;
};

using TIMER_FUNC = uint32_t (*)(void* pParam);

uint32_t Timer_Initialize(uint32_t uiMode, uint32_t uiTickMs, uint32_t uiMaxTimers, uint32_t uiWheelHint);
uint32_t Timer_Config(uint32_t hInstance, uint32_t uiOption);
uint32_t Timer_Create(uint32_t hInstance, uint32_t uiMode, uint64_t ulPeriodMs, TIMER_FUNC pfExpiry,
                      const TIMER_PARAM_S* pstParam);
uint32_t Timer_Delete(uint32_t hInstance, uint32_t uiTimerId);
uint32_t Timer_Tick_Announce(uint32_t hInstance);
uint32_t Timer_Finalize(uint32_t hInstance);
