#include "daemon/pbb_reopen.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_tmr.h"
#include "platform/service.h"

namespace {

constexpr uint32_t PBB_REOPEN_SECONDS = 1;
constexpr uint32_t PBB_REOPEN_WARNING_SEVERITY = 4;
constexpr uint32_t PBB_REOPEN_NOTICE_SEVERITY = 5;

void _pbb_reopen_TellState(const PbbReopen* pstReopen, const char* szState)
{
    (void)SERVICE_SetState(pstReopen->szStateName, szState);
}

// A tick of the retry timer: the first that opens the channel ends it.
void _pbb_reopen_TimerExpiry(void* pArg)
{
    auto* pstReopen = static_cast<PbbReopen*>(pArg);
    if (pstReopen->pfOpen() != PBB_OK) return;
    PBB_tmr_DeletePeriodTimer(&pstReopen->ulTimer);
    PBB_log_PrintLog(PBB_REOPEN_NOTICE_SEVERITY, pstReopen->szNoticeTag, "%s", pstReopen->szNotice);
}

}  // namespace

void PBB_reopen_TellOpen(const PbbReopen* pstReopen)
{
    _pbb_reopen_TellState(pstReopen, PBB_REOPEN_STATE_OPEN);
}

uint32_t PBB_reopen_AfterClose(PbbReopen* pstReopen)
{
    if (pstReopen->pfOpen() == PBB_OK) return PBB_OK;
    PBB_log_PrintLog(PBB_REOPEN_WARNING_SEVERITY, pstReopen->szWarningTag, "%s", pstReopen->szWarning);
    _pbb_reopen_TellState(pstReopen, PBB_REOPEN_STATE_CLOSED);
    if (pstReopen->ulTimer == PBB_TMR_INVALID)
        pstReopen->ulTimer = PBB_tmr_CreatePeriodTimer(PBB_REOPEN_SECONDS, _pbb_reopen_TimerExpiry, pstReopen);
    return PBB_ERR;
}

void PBB_reopen_Stop(PbbReopen* pstReopen)
{
    PBB_tmr_DeletePeriodTimer(&pstReopen->ulTimer);
}
