#include "daemon/pbb_log.h"

#include "platform/log.h"

#include <cstdarg>
#include <syslog.h>

uint32_t g_uiPbbDbgFlag = 0;

uint32_t PBB_log_IsDebugSwitchOn(uint32_t uiMask)
{
    return (g_uiPbbDbgFlag & uiMask) != 0 ? 1 : 0;
}

uint32_t PBB_log_GetDebugSwitch()
{
    return g_uiPbbDbgFlag;
}

void PBB_log_SetDebugSwitch(uint16_t usOperation, uint32_t uiMask)
{
    if (usOperation == 1)
        g_uiPbbDbgFlag &= ~uiMask;
    else
        g_uiPbbDbgFlag |= uiMask;
}

void PBB_log_Init()
{
    openlog(PBB_LOG_IDENT, PBB_LOG_OPTION, PBB_LOG_FACILITY);
}

void PBB_log_Exit()
{
    closelog2(PBB_LOG_IDENT);
}

void PBB_log_TracePrint(const char* szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    vsyslog2(PBB_LOG_PRI_TRACE, PBB_LOG_IDENT, "PBB_TRACE", szFormat, args);
    va_end(args);
}

void PBB_log_PrintLog(uint32_t uiSeverity, const char* szTag, const char* szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    vsyslog2(uiSeverity | PBB_LOG_PRI_MSG, PBB_LOG_IDENT, szTag, szFormat, args);
    va_end(args);
}

void PBB_log_Print(const char* szTag, const char* szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    vsyslog2(PBB_LOG_PRI_DEBUG, PBB_LOG_IDENT, szTag, szFormat, args);
    va_end(args);
}

namespace {
void _pbb_log_PrintText(const char* szTag, const char* szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    vsyslog2(PBB_LOG_PRI_DEBUG, PBB_LOG_IDENT, szTag, szFormat, args);
    va_end(args);
}
}  // namespace

void PBB_log_LoopPrint(const char* szTag, const char* szText, uint16_t* pusFirst)
{
    if (*pusFirst == 1) {
        *pusFirst = 0;
        _pbb_log_PrintText(szTag, "%s", szText);
    } else {
        _pbb_log_PrintText(szTag, "\r\n%s", szText);
    }
}
