#include "daemon/pbb_tc.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_ctl.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_tmr.h"
#include "platform/bitmap.h"
#include "platform/ifm.h"
#include "platform/log.h"

#include <cstdarg>
#include <cstring>

int g_iTcFd = PBB_INVALID_FD;
uint32_t g_ulTcTimerFd = PBB_TMR_INVALID;

namespace {

constexpr uint32_t PBB_TC_RETRY_SECONDS = 1;
// A VLAN list line holds at most this many characters before its line end.
constexpr uint32_t PBB_TC_LINE = 81;

// The debug text of one event, printed in pieces.
struct PbbTcText {
    char szBuf[PBB_LOG_LIST_BUF];
    uint32_t uiLen;
    uint16_t usFirst;
};

void _pbb_tc_Append(PbbTcText* pstText, const char* szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    pstText->uiLen += static_cast<uint32_t>(
        vscnprintf(pstText->szBuf + pstText->uiLen, sizeof(pstText->szBuf) - pstText->uiLen, szFormat, args));
    va_end(args);
}

void _pbb_tc_Emit(PbbTcText* pstText)
{
    PBB_log_LoopPrint("EVENT", pstText->szBuf, &pstText->usFirst);
    pstText->szBuf[0] = '\0';
    pstText->uiLen = 0;
}

// A closing comma becomes the line end.
void _pbb_tc_EndLine(PbbTcText* pstText)
{
    if (pstText->uiLen > 0 && pstText->szBuf[pstText->uiLen - 1] == ',') pstText->szBuf[--pstText->uiLen] = '\0';
    _pbb_tc_Append(pstText, "\r\n");
}

void _pbb_tc_PrintIfList(PbbTcText* pstText, const uint32_t* puiIfList, uint32_t uiIfNum)
{
    _pbb_tc_Append(pstText, "Interfaces number: %u\r\nInterfaces:\r\n", uiIfNum);
    for (uint32_t i = 0; i < uiIfNum; ++i) {
        char szName[IF_NAME_BUF_LEN];
        memset(szName, 0, sizeof(szName));
        (void)IF_GetDataByIfIndex(puiIfList[i], IF_DATA_FULL_NAME, szName);
        if (strlen(szName) + pstText->uiLen + 1 >= PBB_LOG_PIECE) _pbb_tc_Emit(pstText);
        _pbb_tc_Append(pstText, "%s\r\n", szName);
    }
}

void _pbb_tc_PrintVlanList(PbbTcText* pstText, const BITMAP_S* pstVlanMap)
{
    _pbb_tc_Append(pstText, "VLANs number: %u\r\nVLANs:\r\n", Bitmap_Weight(pstVlanMap));
    uint32_t uiLineLen = 0;
    BITMAP_RANGE_S stRange;
    for (uint32_t uiFrom = 0;; uiFrom = stRange.uiLast + 1) {
        Bitmap_GetRange(pstVlanMap, uiFrom, &stRange);
        if (stRange.uiLast > pstVlanMap->uiSize) break;
        if (stRange.uiIsSet == 1) {
            char szPiece[PBB_TC_LINE];
            uint32_t uiPieceLen =
                stRange.uiFirst == stRange.uiLast
                    ? static_cast<uint32_t>(scnprintf(szPiece, sizeof(szPiece), "%u,", stRange.uiFirst))
                    : static_cast<uint32_t>(
                          scnprintf(szPiece, sizeof(szPiece), "%u to %u,", stRange.uiFirst, stRange.uiLast));
            if (uiPieceLen + uiLineLen >= PBB_TC_LINE) {
                _pbb_tc_Append(pstText, "\r\n");
                uiLineLen = 0;
            }
            _pbb_tc_Append(pstText, "%s", szPiece);
            if (pstText->uiLen >= PBB_LOG_PIECE) {
                _pbb_tc_EndLine(pstText);
                _pbb_tc_Emit(pstText);
                uiLineLen = 0;
            } else {
                uiLineLen += uiPieceLen;
            }
        }
        // A bitmap whose size is the highest index has no index after it.
        if (stRange.uiLast == 0xFFFFFFFFu) break;
    }
}

}  // namespace

void _pbb_tc_PrintDbg(const PbbTcEvent* pstEvent)
{
    if (PBB_log_IsDebugSwitchOn(PBB_DBG_EVENT) != 1) return;
    if (pstEvent->pstVlanMap == nullptr && pstEvent->puiIfList == nullptr) {
        PBB_log_Print("EVENT", "Receive TC event with all interfaces and all VLANs.\r\n");
        return;
    }
    static PbbTcText s_stText;
    s_stText.szBuf[0] = '\0';
    s_stText.uiLen = 0;
    s_stText.usFirst = 1;
    _pbb_tc_Append(&s_stText, "Receive TC event\r\n");
    if (pstEvent->puiIfList != nullptr) _pbb_tc_PrintIfList(&s_stText, pstEvent->puiIfList, pstEvent->uiIfNum);
    if (pstEvent->pstVlanMap != nullptr) _pbb_tc_PrintVlanList(&s_stText, pstEvent->pstVlanMap);
    if (s_stText.uiLen == 0) return;
    if (s_stText.szBuf[s_stText.uiLen - 1] == ',') _pbb_tc_EndLine(&s_stText);
    _pbb_tc_Emit(&s_stText);
}

uint32_t _pbb_tc_ProcTcEvent(uint32_t uiInstance, const PbbTcEvent* pstEvent)
{
    (void)uiInstance;
    if (pstEvent == nullptr) return PBB_OK;
    _pbb_tc_PrintDbg(pstEvent);

    const BITMAP_S* pstVlanMap = pstEvent->pstVlanMap;
    const uint32_t* puiIfList = pstEvent->puiIfList;
    if (pstVlanMap == nullptr && puiIfList == nullptr) {
        PBB_ctl_ResetUcPwAll();
        return PBB_OK;
    }
    if (pstVlanMap == nullptr) {
        for (uint32_t i = 0; i < pstEvent->uiIfNum; ++i) PBB_ctl_ResetUcPwByIf(puiIfList[i]);
        return PBB_OK;
    }
    // Every VLAN ID from 0 to the size word inclusive; the loop stops at
    // the size itself so that no size ends it by wrapping around.
    auto forEachVlan = [pstVlanMap](auto fnReset) {
        for (uint32_t uiVlan = 0;; ++uiVlan) {
            if (Bitmap_Check(pstVlanMap, uiVlan) == 1) fnReset(static_cast<uint16_t>(uiVlan));
            if (uiVlan >= pstVlanMap->uiSize) break;
        }
    };
    if (puiIfList == nullptr) {
        forEachVlan([](uint16_t usVlan) { PBB_ctl_ResetUcPwByVlan(usVlan); });
        return PBB_OK;
    }
    for (uint32_t i = 0; i < pstEvent->uiIfNum; ++i) {
        const uint32_t uiIfIndex = puiIfList[i];
        forEachVlan([uiIfIndex](uint16_t usVlan) { PBB_ctl_ResetUcPwByVlanIf(usVlan, uiIfIndex); });
    }
    return PBB_OK;
}

uint32_t PBB_tc_Init()
{
    int iFd = STI_Event_Init();
    if (iFd < 0) {
        // Not reachable yet: retry every second. A timer that already
        // exists keeps retrying; a second one would never be deleted.
        if (g_ulTcTimerFd == PBB_TMR_INVALID)
            g_ulTcTimerFd = PBB_tmr_CreatePeriodTimer(PBB_TC_RETRY_SECONDS, _pbb_tc_ConnectTimerExpiry, nullptr);
        return PBB_OK;
    }
    if (TC_Register(_pbb_tc_ProcTcEvent) != 0) {
        STI_Event_Fini(iFd);
        return PBB_ERR;
    }
    g_iTcFd = iFd;
    if (PBB_elipc_Add(g_iPbbEpollFd, iFd, _pbb_tc_HandleEvent) != 0) return PBB_ERR;
    return PBB_OK;
}

void PBB_tc_Exit()
{
    PBB_tmr_DeletePeriodTimer(&g_ulTcTimerFd);
    (void)TC_DeregisterTC();
    if (g_iTcFd >= 0) {
        (void)PBB_elipc_Del(g_iPbbEpollFd, g_iTcFd);
        STI_Event_Fini(g_iTcFd);
        g_iTcFd = PBB_INVALID_FD;
    }
}

uint32_t _pbb_tc_HandleEvent(uint32_t uiEvents, int iFd)
{
    if ((uiEvents & PBB_EV_IN) != 0) (void)STI_Event_Handle(iFd);
    if ((uiEvents & PBB_EV_ERR_HUP) != 0) {
        PBB_tc_Exit();
        (void)PBB_tc_Init();
    }
    return PBB_OK;
}

void _pbb_tc_ConnectTimerExpiry(void* pArg)
{
    (void)pArg;
    int iFd = STI_Event_Init();
    uint32_t uiReg = TC_Register(_pbb_tc_ProcTcEvent);
    if (iFd < 0) {
        if (uiReg == 0) (void)TC_DeregisterTC();
        return;
    }
    if (uiReg != 0) {
        STI_Event_Fini(iFd);
        return;
    }
    if (PBB_elipc_Add(g_iPbbEpollFd, iFd, _pbb_tc_HandleEvent) != 0) {
        STI_Event_Fini(iFd);
        return;
    }
    g_iTcFd = iFd;
    PBB_tmr_DeletePeriodTimer(&g_ulTcTimerFd);
}
