#include "daemon/pbb_vlan.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_ctl.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_reopen.h"
#include "daemon/pbb_tmr.h"
#include "daemon/pbb_vsi.h"
#include "platform/ifm.h"
#include "platform/log.h"

#include <cstdarg>
#include <cstring>

int g_iPbbVlanEvtFd = PBB_INVALID_FD;
uint32_t g_uiPbbVlanEvt = 0;

namespace {

// A VLAN list line holds at most this many characters before its line end.
constexpr uint32_t PBB_VLAN_LINE = 81;

// The debug text of one bitmap event, printed in pieces.
struct PbbVlanText {
    char szBuf[PBB_LOG_LIST_BUF];
    uint32_t uiLen;
    uint16_t usFirst;
};

void _pbb_vlan_Append(PbbVlanText* pstText, const char* szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    pstText->uiLen += static_cast<uint32_t>(
        vscnprintf(pstText->szBuf + pstText->uiLen, sizeof(pstText->szBuf) - pstText->uiLen, szFormat, args));
    va_end(args);
}

// A closing comma becomes the line end; the text goes out as one piece.
void _pbb_vlan_EmitPiece(PbbVlanText* pstText)
{
    if (pstText->uiLen > 0 && pstText->szBuf[pstText->uiLen - 1] == ',') {
        pstText->szBuf[--pstText->uiLen] = '\0';
        _pbb_vlan_Append(pstText, "\r\n");
    }
    PBB_log_LoopPrint("EVENT", pstText->szBuf, &pstText->usFirst);
    pstText->szBuf[0] = '\0';
    pstText->uiLen = 0;
}

const char* _pbb_vlan_Verb(uint32_t uiKind)
{
    if (uiKind == PBB_VLAN_EVT_ADDED) return "added to";
    if (uiKind == PBB_VLAN_EVT_DELETED) return "deleted from";
    return "";
}

// Calls fnRun with the first and last VLAN ID of every run of set bits,
// ascending.
template <typename Fn>
void _pbb_vlan_ForEachRun(const BITMAP_S* pstVlanBitmap, Fn fnRun)
{
    BITMAP_RANGE_S stRange;
    for (uint32_t uiFrom = 0;; uiFrom = stRange.uiLast + 1) {
        Bitmap_GetRange(pstVlanBitmap, uiFrom, &stRange);
        if (stRange.uiLast > pstVlanBitmap->uiSize) break;
        if (stRange.uiIsSet == 1) fnRun(stRange.uiFirst, stRange.uiLast);
        // A bitmap whose size is the highest index has no index after it.
        if (stRange.uiLast == 0xFFFFFFFFu) break;
    }
}

void _pbb_vlan_PrintVlanList(PbbVlanText* pstText, const BITMAP_S* pstVlanBitmap)
{
    uint32_t uiLineLen = 0;
    _pbb_vlan_ForEachRun(pstVlanBitmap, [&](uint32_t uiFirst, uint32_t uiLast) {
        char szItem[PBB_VLAN_LINE];
        uint32_t uiItemLen = uiFirst == uiLast
                                 ? static_cast<uint32_t>(scnprintf(szItem, sizeof(szItem), "%u,", uiFirst))
                                 : static_cast<uint32_t>(scnprintf(szItem, sizeof(szItem), "%u to %u,", uiFirst, uiLast));
        if (uiLineLen + uiItemLen >= PBB_VLAN_LINE) {
            _pbb_vlan_Append(pstText, "\r\n");
            uiLineLen = 0;
        }
        _pbb_vlan_Append(pstText, "%s", szItem);
        if (pstText->uiLen >= PBB_LOG_PIECE) {
            _pbb_vlan_EmitPiece(pstText);
            uiLineLen = 0;
        } else {
            uiLineLen += uiItemLen;
        }
    });
}

}  // namespace

void _pbb_vlan_PrintDebug(uint32_t uiKind, uint32_t uiIfIndex, uint16_t usVlanId, const BITMAP_S* pstVlanBitmap)
{
    if (PBB_log_IsDebugSwitchOn(PBB_DBG_EVENT) != 1) return;
    char szName[IF_NAME_BUF_LEN];
    memset(szName, 0, sizeof(szName));
    (void)IF_GetDataByIfIndex(uiIfIndex, IF_DATA_FULL_NAME, szName);
    const char* szVerb = _pbb_vlan_Verb(uiKind);
    if (usVlanId != VLAN_ID_SET) {
        PBB_log_Print("EVENT", "Receive event: interface %s %s VLAN %u.\r\n", szName, szVerb,
                      static_cast<uint32_t>(usVlanId));
        return;
    }
    static PbbVlanText s_stText;
    s_stText.szBuf[0] = '\0';
    s_stText.uiLen = 0;
    s_stText.usFirst = 1;
    _pbb_vlan_Append(&s_stText, "Receive event: interface %s %s VLAN\r\n", szName, szVerb);
    _pbb_vlan_Append(&s_stText, "VLANs number: %u\r\nVLANs:\r\n",
                     pstVlanBitmap != nullptr ? Bitmap_Weight(pstVlanBitmap) : 0u);
    if (pstVlanBitmap != nullptr) _pbb_vlan_PrintVlanList(&s_stText, pstVlanBitmap);
    if (s_stText.uiLen > 0) _pbb_vlan_EmitPiece(&s_stText);
}

uint32_t _pbb_vlan_ProcVlanEvent(uint32_t uiKind, uint16_t usVlanId, uint32_t uiIfIndex)
{
    PbbIfCb* pstIfCb = PBB_ifcb_Get(uiIfIndex);
    if (pstIfCb == nullptr) return PBB_OK;
    if (uiKind != PBB_VLAN_EVT_ADDED && uiKind != PBB_VLAN_EVT_DELETED) return PBB_OK;

    if (pstIfCb->pstVlanMap != nullptr) {
        if (uiKind == PBB_VLAN_EVT_ADDED)
            Bitmap_Set(pstIfCb->pstVlanMap, usVlanId);
        else
            Bitmap_Clear(pstIfCb->pstVlanMap, usVlanId);
    }
    const PbbIfVsiNode* pstHead = &pstIfCb->stRunVsiList;
    for (const PbbIfVsiNode* pstNode = pstHead->pstNext; pstNode != pstHead; pstNode = pstNode->pstNext) {
        const PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(pstNode->uiVsiIndex);
        if (pstVsi == nullptr || pstVsi->usBVlan != usVlanId) continue;
        if (uiKind == PBB_VLAN_EVT_ADDED)
            PBB_ctl_ActiveMcPort(pstVsi->uiVsiIndex, uiIfIndex);
        else
            PBB_ctl_DeactiveMcPort(pstVsi->uiVsiIndex, uiIfIndex);
    }
    if (uiKind == PBB_VLAN_EVT_DELETED) PBB_ctl_ResetUcPwByVlanIf(usVlanId, uiIfIndex);
    return PBB_OK;
}

uint32_t _pbb_vlan_EventCallBack(uint32_t uiKind, const PbbVlanEvent* pstEvent)
{
    if (pstEvent == nullptr) return PBB_OK;
    const uint32_t uiIfIndex = pstEvent->uiIfIndex;
    if (pstEvent->usVlanId != VLAN_ID_SET) {
        (void)_pbb_vlan_ProcVlanEvent(uiKind, pstEvent->usVlanId, uiIfIndex);
    } else if (pstEvent->pstVlanBitmap != nullptr) {
        _pbb_vlan_ForEachRun(pstEvent->pstVlanBitmap, [uiKind, uiIfIndex](uint32_t uiFirst, uint32_t uiLast) {
            for (uint32_t uiVlan = uiFirst;; ++uiVlan) {
                (void)_pbb_vlan_ProcVlanEvent(uiKind, static_cast<uint16_t>(uiVlan), uiIfIndex);
                if (uiVlan >= uiLast) break;
            }
        });
    }
    _pbb_vlan_PrintDebug(uiKind, uiIfIndex, pstEvent->usVlanId, pstEvent->pstVlanBitmap);
    return PBB_OK;
}

namespace {

// Closes the channel; the retry timer, if any, goes on.
void _pbb_vlan_Close()
{
    if (g_iPbbVlanEvtFd < 0) return;
    if (g_uiPbbVlanEvt != 0) {
        (void)VLAN_DeregisterEvent(g_uiPbbVlanEvt, PBB_VLAN_EVT_KINDS);
        g_uiPbbVlanEvt = 0;
    }
    (void)PBB_elipc_Del(g_iPbbEpollFd, g_iPbbVlanEvtFd);
    VLAN_EventFini(g_iPbbVlanEvtFd);
    g_iPbbVlanEvtFd = PBB_INVALID_FD;
}

// Opens the channel again after a hang-up; a failed attempt leaves nothing
// open.
uint32_t _pbb_vlan_Reopen()
{
    if (PBB_vlan_Init() == PBB_OK) return PBB_OK;
    _pbb_vlan_Close();
    return PBB_ERR;
}

}  // namespace

PbbReopen g_stPbbVlanReopen = {
    PBB_VLAN_STATE_NAME, _pbb_vlan_Reopen, "PBB_VLANEVENT_WARNING",
    "The VLAN event channel was closed and cannot be opened again: VLAN membership changes are not followed "
    "until it opens. Retrying every second.\r\n",
    "PBB_VLANEVENT_NOTICE",
    "The VLAN event channel has been opened again: VLAN membership changes are followed again; those made while "
    "it was closed were not seen.\r\n",
    PBB_TMR_INVALID};

uint32_t PBB_vlan_Init()
{
    if (g_iPbbVlanEvtFd >= 0) return PBB_OK;
    int iFd = VLAN_EventInit();
    if (iFd < 0) return PBB_ERR;
    uint32_t uiHandle = 0;
    if (PBB_elipc_Add(g_iPbbEpollFd, iFd, _pbb_vlan_EpollCallBack) == 0)
        uiHandle = VLAN_RegisterEvent(PBB_MODULE_ID, PBB_VLAN_EVT_KINDS, PBB_VLAN_EVT_BATCH, PBB_VLAN_EVT_FLAGS,
                                      _pbb_vlan_EventCallBack);
    // Recorded either way: a failed start-up leaves the descriptor to the
    // shutdown.
    g_iPbbVlanEvtFd = iFd;
    g_uiPbbVlanEvt = uiHandle;
    if (uiHandle == 0) return PBB_ERR;
    PBB_reopen_TellOpen(&g_stPbbVlanReopen);
    return PBB_OK;
}

void PBB_vlan_Exit()
{
    PBB_reopen_Stop(&g_stPbbVlanReopen);
    _pbb_vlan_Close();
}

uint32_t _pbb_vlan_EpollCallBack(uint32_t uiEvents, int iFd)
{
    if ((uiEvents & PBB_EV_IN) != 0) (void)VLAN_HandleEvent(iFd);
    // Opened again at once, or every second until the VLAN service answers.
    if ((uiEvents & PBB_EV_ERR_HUP) != 0) {
        _pbb_vlan_Close();
        (void)PBB_reopen_AfterClose(&g_stPbbVlanReopen);
    }
    return PBB_OK;
}
