#include "daemon/pbb_tmr.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"

#include <cstring>
#include <fcntl.h>
#include <sys/timerfd.h>
#include <unistd.h>

uint32_t g_hTimerInstance = 0;
int g_iTimerFd = -1;

uint32_t PBB_tmr_Init()
{
    if (g_hTimerInstance != 0) return PBB_OK;

    uint32_t hInstance = Timer_Initialize(2, PBB_TMR_TICK_MS, 128, 16);
    if (hInstance == 0) return PBB_ERR;
    (void)Timer_Config(hInstance, 1);

    int iFd = timerfd_create(CLOCK_MONOTONIC, 0);
    if (iFd < 0) {
        Timer_Finalize(hInstance);
        return PBB_ERR;
    }
    struct itimerspec stSpec {};
    stSpec.it_interval.tv_sec = 1;
    stSpec.it_value.tv_sec = 1;
    if (fcntl(iFd, F_SETFL, O_NONBLOCK) != 0 || timerfd_settime(iFd, 0, &stSpec, nullptr) != 0 ||
        PBB_elipc_Add(g_iPbbEpollFd, iFd, _pbb_tmr_ProcTimerFd) != 0) {
        close(iFd);
        Timer_Finalize(hInstance);
        return PBB_ERR;
    }
    g_hTimerInstance = hInstance;
    g_iTimerFd = iFd;
    return PBB_OK;
}

void PBB_tmr_Exit()
{
    if (g_iTimerFd >= 0) {
        PBB_elipc_Del(g_iPbbEpollFd, g_iTimerFd);
        close(g_iTimerFd);
        g_iTimerFd = -1;
    }
    if (g_hTimerInstance != 0) {
        Timer_Finalize(g_hTimerInstance);
        g_hTimerInstance = 0;
    }
}

uint32_t _pbb_tmr_Callback(void* pParam)
{
    auto* pstParam = static_cast<PbbTmrParam*>(pParam);
    if (pstParam->pfnCallback != nullptr) pstParam->pfnCallback(pstParam->pArg);
    return 0;
}

uint32_t _pbb_tmr_ProcTimerFd(uint32_t uiEvents, int iFd)
{
    if ((uiEvents & PBB_EV_IN) != 0) {
        uint64_t ulExpirations = 0;
        // Missed expirations are not made up: one tick whatever the count.
        if (read(iFd, &ulExpirations, sizeof(ulExpirations)) == sizeof(ulExpirations))
            Timer_Tick_Announce(g_hTimerInstance);
    }
    if ((uiEvents & PBB_EV_ERR_HUP) != 0 && g_iTimerFd >= 0) {
        PBB_elipc_Del(g_iPbbEpollFd, g_iTimerFd);
        close(g_iTimerFd);
        g_iTimerFd = -1;
    }
    return 0;
}

uint32_t PBB_tmr_CreatePeriodTimer(uint32_t uiPeriodSeconds, PbbTmrFunc pfCallback, void* pArg)
{
    PbbTmrParam stParam{pfCallback, pArg, 0, 0};
    TIMER_PARAM_S stBlock;
    static_assert(sizeof(stBlock) == sizeof(stParam));
    std::memcpy(&stBlock, &stParam, sizeof(stBlock));

    uint64_t ulPeriodMs = static_cast<uint64_t>(uiPeriodSeconds) * 1000u;
    uint32_t uiTimer = Timer_Create(g_hTimerInstance, 1, ulPeriodMs, _pbb_tmr_Callback, &stBlock);
    if (uiTimer == PBB_TMR_INVALID)
        PBB_log_TracePrint("Failed to create timer : Period = %lu, Callback's address = %p.\r\n",
                           static_cast<unsigned long>(uiPeriodSeconds), reinterpret_cast<void*>(_pbb_tmr_Callback));
    return uiTimer;
}

void PBB_tmr_DeletePeriodTimer(uint32_t* puiTimer)
{
    if (*puiTimer == PBB_TMR_INVALID) return;
    Timer_Delete(g_hTimerInstance, *puiTimer);
    *puiTimer = PBB_TMR_INVALID;
}
