#include "daemon/pbb_gs.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_ctl.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "platform/bitmap.h"
#include "platform/stlv.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

int g_iPbbSocket = PBB_INVALID_FD;

PbbGsRequestFunc g_apfPBBRequestFunc[PBB_GS_REQ_SLOTS] = {
    _pbb_gs_SetDebug,    _pbb_gs_SetBvlan,  _pbb_gs_SetEncapType, _pbb_gs_SetUplinkAll,
    _pbb_gs_SetUplinkVsi, _pbb_gs_ResetUcPw, _pbb_gs_GetDebug,     _pbb_gs_GetMC,
    _pbb_gs_GetFirstMC,  _pbb_gs_GetNextMC, _pbb_gs_GetFirstUC,   _pbb_gs_GetNextUC,
    nullptr,             nullptr,           nullptr,              nullptr,
};

namespace {

constexpr const char* PBB_GS_UNKNOWN_TLV = "Failed to recognize an invalid TLV. Keep on processing the next one.\r\n";
constexpr const char* PBB_GS_BAD_VALUE = "Refused a malformed request of type %u with a value of %u bytes.\r\n";
constexpr const char* PBB_GS_BAD_BITMAP = "Refused a reset request whose B-VLAN set is malformed.\r\n";
constexpr const char* PBB_GS_DROPPED = "Closed a management connection: the reply to a request of type %u could not be sent.\r\n";
constexpr const char* PBB_GS_NO_FD = "Out of descriptors: new management connections are closed at once until one is free.\r\n";

// Longest time the replies of one read may wait, in all, for room on
// their connection. A client whose replies do not fit in that time is
// dropped: the daemon serves nobody else while it waits.
constexpr uint64_t PBB_GS_SEND_WAIT_MS = 500;

// When the replies of the read being served stop waiting for room
// (monotonic milliseconds); 0 until one of them has had to wait.
uint64_t g_ulPbbGsWaitEndMs = 0;

// Held so that a connection can still be taken off the listening socket
// and closed when the process is out of descriptors; -1 while not held.
int g_iPbbGsSpareFd = PBB_INVALID_FD;
// The process ran out of descriptors and has not accepted a connection since.
bool g_bPbbGsOutOfFd = false;

// Each request's value is copied here before its handler runs: the
// handlers convert in place, read 32-bit fields and hand interface arrays
// to the control logic, which all want the value aligned; a value in the
// read buffer sits wherever the TLVs before it ended.
alignas(8) uint8_t g_aucPbbGsValue[PBB_GS_BUF_LEN];

// The multicast reply being filled (2100 bytes, kept off the stack).
PbbGsMcInfoMsg g_stPbbGsMcMsg;

// Bytes each request type's handler reads (type 4: its fixed header).
constexpr uint32_t g_auiPbbGsMinLen[PBB_GS_REQ_NUM] = {
    sizeof(PbbGsDebugReq),     sizeof(PbbGsSetReq),      sizeof(PbbGsSetReq), sizeof(PbbGsUplinkAllReq),
    sizeof(PbbGsUplinkReq),    sizeof(PbbGsResetUcPwReq), 0,                   PBB_VSI_NAME_LEN,
    0,                         sizeof(uint32_t),         sizeof(PbbGsUcPwMsg), sizeof(PbbGsUcPwMsg),
};

void _pbb_gs_LogError(const char* szFormat, uint32_t uiArg1 = 0, uint32_t uiArg2 = 0)
{
    if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) != 1) return;
    PBB_log_Print("ERROR", szFormat, uiArg1, uiArg2);
}

uint64_t _pbb_gs_NowMs()
{
    struct timespec stNow {};
    (void)clock_gettime(CLOCK_MONOTONIC, &stNow);
    return static_cast<uint64_t>(stNow.tv_sec) * 1000u + static_cast<uint64_t>(stNow.tv_nsec) / 1000000u;
}

// Waits until the connection can take more, within what is left of the
// read's waiting time; false when that time is spent.
bool _pbb_gs_WaitForRoom(int iFd)
{
    const uint64_t ulNow = _pbb_gs_NowMs();
    if (g_ulPbbGsWaitEndMs == 0) g_ulPbbGsWaitEndMs = ulNow + PBB_GS_SEND_WAIT_MS;
    if (ulNow >= g_ulPbbGsWaitEndMs) return false;
    struct pollfd stPoll {iFd, POLLOUT, 0};
    const int iReady = poll(&stPoll, 1, static_cast<int>(g_ulPbbGsWaitEndMs - ulNow));
    return iReady > 0 || (iReady < 0 && errno == EINTR);
}

// Out of descriptors, a pending connection stays queued and keeps the
// level-triggered listening socket readable: the spare descriptor is let
// go for the time it takes to accept the connection and close it.
void _pbb_gs_RefuseConnection(int iListenFd)
{
    if (!g_bPbbGsOutOfFd) _pbb_gs_LogError(PBB_GS_NO_FD);
    g_bPbbGsOutOfFd = true;
    if (g_iPbbGsSpareFd >= 0) close(g_iPbbGsSpareFd);
    int iFd = accept(iListenFd, nullptr, nullptr);
    if (iFd >= 0) close(iFd);
    g_iPbbGsSpareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// A name field is usable when it ends within its width.
bool _pbb_gs_IsNameTerminated(const char* szName)
{
    return memchr(szName, '\0', PBB_VSI_NAME_LEN) != nullptr;
}

// Reads a big-endian 32-bit field of a value that has not been converted.
uint32_t _pbb_gs_PeekU32(const void* pValue, size_t ulOffset)
{
    uint32_t uiNet = 0;
    memcpy(&uiNet, static_cast<const uint8_t*>(pValue) + ulOffset, sizeof(uiNet));
    return ntohl(uiNet);
}

void _pbb_gs_CopyName(char* szDest, const char* szSrc)
{
    memset(szDest, 0, PBB_VSI_NAME_LEN);
    memcpy(szDest, szSrc, strnlen(szSrc, PBB_VSI_NAME_LEN - 1));
}

// Encodes one reply in a buffer of its own and sends it.
uint32_t _pbb_gs_SendTlv(int iFd, uint16_t usType, uint16_t usLen, const void* pValue)
{
    uint8_t aucBuf[PBB_GS_BUF_LEN];
    aucBuf[0] = 0;
    uint32_t uiLen = STLV_Set(aucBuf, sizeof(aucBuf), usType, usLen, pValue);
    if (uiLen == 0) return PBB_ERR;
    return _pbb_gs_SendMsg(iFd, aucBuf, uiLen);
}

// The multicast entry's answer, or the failure result when there is no
// entry or it has no port.
uint32_t _pbb_gs_AnswerMc(int iFd, const PbbMcPw* pstMcPw)
{
    if (pstMcPw == nullptr || pstMcPw->uiPortNum == 0 || pstMcPw->stPortList.pstNext == &pstMcPw->stPortList)
        return _pbb_gs_SendResult(iFd, PBB_ERR);
    return _pbb_gs_SendMcPw(iFd, pstMcPw);
}

// Types 10 and 11: the VSI named by the request, if the request's index,
// I-SID and B-VLAN (converted in place) are the VSI's.
PbbVsi* _pbb_gs_GetUcVsi(PbbGsUcPwMsg* pstReq)
{
    pstReq->uiVsiIndex = ntohl(pstReq->uiVsiIndex);
    pstReq->uiISid = ntohl(pstReq->uiISid);
    pstReq->usBVlan = ntohs(pstReq->usBVlan);
    PbbVsi* pstVsi = PBB_vsi_GetVsiByName(pstReq->szVsiName);
    if (pstVsi == nullptr || pstVsi->uiVsiIndex != pstReq->uiVsiIndex || pstVsi->uiISid != pstReq->uiISid ||
        pstVsi->usBVlan != pstReq->usBVlan)
        return nullptr;
    return pstVsi;
}

}  // namespace

uint32_t PBB_gs_Init()
{
    if (g_iPbbSocket >= 0) return PBB_OK;
    int iFd = PBB_elipc_Server(PBB_GS_PORT, g_iPbbEpollFd, _pbb_gs_Server_Accept);
    if (iFd < 0) return PBB_ERR;
    g_iPbbGsSpareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (g_iPbbGsSpareFd < 0) {
        (void)PBB_elipc_Close(g_iPbbEpollFd, iFd);
        return PBB_ERR;
    }
    g_bPbbGsOutOfFd = false;
    g_iPbbSocket = iFd;
    return PBB_OK;
}

void PBB_gs_Exit()
{
    if (g_iPbbSocket < 0) return;
    (void)PBB_elipc_Close(g_iPbbEpollFd, g_iPbbSocket);
    g_iPbbSocket = PBB_INVALID_FD;
    if (g_iPbbGsSpareFd >= 0) close(g_iPbbGsSpareFd);
    g_iPbbGsSpareFd = PBB_INVALID_FD;
}

uint32_t _pbb_gs_Server_Accept(uint32_t uiEvents, int iFd)
{
    if (PBB_elipc_ServerAccept(uiEvents, g_iPbbEpollFd, iFd, _pbb_gs_ProcEpollEvent) >= 0)
        g_bPbbGsOutOfFd = false;
    else if (errno == EMFILE || errno == ENFILE)
        _pbb_gs_RefuseConnection(iFd);
    return 0;
}

uint32_t _pbb_gs_ProcEpollEvent(uint32_t uiEvents, int iFd)
{
    bool bClose = (uiEvents & PBB_EV_ERR_HUP) != 0;
    // The local transport may report the peer's close only as end of data.
    if ((uiEvents & PBB_EV_IN) != 0 && _pbb_gs_RecvMsg(iFd) != PBB_OK) bClose = true;
    if (bClose) (void)PBB_elipc_Close(g_iPbbEpollFd, iFd);
    return 0;
}

uint32_t _pbb_gs_RecvMsg(int iFd)
{
    uint8_t aucData[PBB_GS_BUF_LEN];
    ssize_t lRead = recv(iFd, aucData, sizeof(aucData), MSG_DONTWAIT);
    if (lRead == 0) return PBB_ERR;
    if (lRead < 0) return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? PBB_OK : PBB_ERR;
    return _pbb_gs_ServeData(iFd, aucData, static_cast<uint16_t>(lRead & 0xFFFF));
}

uint32_t _pbb_gs_ServeData(int iFd, const uint8_t* pucData, uint16_t usLen)
{
    const uint8_t* pucCur = pucData;
    uint16_t usLeft = usLen;
    g_ulPbbGsWaitEndMs = 0;
    for (;;) {
        uint16_t usType = 0;
        uint16_t usValueLen = 0;
        void* pValue = nullptr;
        (void)STLV_Get(pucCur, usLeft, &usType, &usValueLen, &pValue);
        if (pValue == nullptr) return PBB_OK;

        uint32_t uiResult;
        if (usType >= PBB_GS_REQ_SLOTS || g_apfPBBRequestFunc[usType] == nullptr) {
            uiResult = _pbb_gs_SendResult(iFd, 0);
            _pbb_gs_LogError(PBB_GS_UNKNOWN_TLV);
        } else if (!_pbb_gs_IsValueComplete(usType, pValue, usValueLen)) {
            _pbb_gs_LogError(PBB_GS_BAD_VALUE, usType, usValueLen);
            uiResult = _pbb_gs_SendResult(iFd, PBB_ERR);
        } else {
            memcpy(g_aucPbbGsValue, pValue, usValueLen);
            uiResult = g_apfPBBRequestFunc[usType](g_aucPbbGsValue, iFd);
        }
        // A reply that could not be sent ends this read and the connection:
        // the client no longer takes its replies, and one cut off would
        // leave the replies after it out of step.
        if (uiResult != PBB_OK) {
            _pbb_gs_LogError(PBB_GS_DROPPED, usType);
            return PBB_ERR;
        }

        const auto* pucEnd = static_cast<const uint8_t*>(pValue) + usValueLen;
        usLeft = static_cast<uint16_t>(usLeft - (pucEnd - pucCur));
        pucCur = pucEnd;
    }
}

uint32_t _pbb_gs_MinValueLen(uint16_t usType)
{
    return usType < PBB_GS_REQ_NUM ? g_auiPbbGsMinLen[usType] : 0;
}

bool _pbb_gs_IsValueComplete(uint16_t usType, const void* pValue, uint16_t usLen)
{
    if (usLen < _pbb_gs_MinValueLen(usType)) return false;
    const auto* pucValue = static_cast<const uint8_t*>(pValue);
    switch (usType) {
    case PBB_GS_REQ_SET_BVLAN:
    case PBB_GS_REQ_SET_ENCAP:
        return _pbb_gs_IsNameTerminated(reinterpret_cast<const char*>(pucValue + offsetof(PbbGsSetReq, szVsiName)));
    case PBB_GS_REQ_SET_UPLINK_VSI: {
        const uint64_t ulCount = _pbb_gs_PeekU32(pValue, offsetof(PbbGsUplinkReq, uiCount));
        if (sizeof(PbbGsUplinkReq) + ulCount * PBB_VSI_NAME_LEN > usLen) return false;
        for (uint64_t i = 0; i < ulCount; ++i) {
            const auto* szName = reinterpret_cast<const char*>(pucValue + sizeof(PbbGsUplinkReq) + i * PBB_VSI_NAME_LEN);
            if (!_pbb_gs_IsNameTerminated(szName)) return false;
        }
        return true;
    }
    case PBB_GS_REQ_RESET_UCPW:
        return _pbb_gs_PeekU32(pValue, offsetof(PbbGsResetUcPwReq, uiIfCount)) <= PBB_GS_RESET_IF_MAX &&
               _pbb_gs_IsNameTerminated(reinterpret_cast<const char*>(pucValue + offsetof(PbbGsResetUcPwReq, szVsiName)));
    case PBB_GS_REQ_GET_MC:
        return _pbb_gs_IsNameTerminated(reinterpret_cast<const char*>(pucValue));
    case PBB_GS_REQ_GET_FIRST_UC:
    case PBB_GS_REQ_GET_NEXT_UC:
        return _pbb_gs_IsNameTerminated(reinterpret_cast<const char*>(pucValue + offsetof(PbbGsUcPwMsg, szVsiName)));
    default:
        return true;
    }
}

uint32_t _pbb_gs_SendMsg(int iFd, const void* pBuf, uint32_t uiLen)
{
    for (;;) {
        errno = 0;
        // A peer that has gone must not raise SIGPIPE in the daemon.
        ssize_t lSent = send(iFd, pBuf, uiLen, MSG_NOSIGNAL);
        if (lSent == static_cast<ssize_t>(uiLen)) return PBB_OK;
        if (lSent < 0 && errno == EINTR) continue;
        if (lSent < 0 && errno == EAGAIN && _pbb_gs_WaitForRoom(iFd)) continue;
        return PBB_ERR;
    }
}

uint32_t _pbb_gs_SendResult(int iFd, uint32_t uiCode)
{
    const uint32_t uiNet = htonl(uiCode);
    return _pbb_gs_SendTlv(iFd, PBB_GS_REPLY_RESULT, sizeof(uiNet), &uiNet);
}

uint32_t _pbb_gs_SendDebug(int iFd, uint32_t uiFlag)
{
    const uint32_t uiNet = htonl(uiFlag);
    return _pbb_gs_SendTlv(iFd, PBB_GS_REPLY_DEBUG, sizeof(uiNet), &uiNet);
}

uint32_t _pbb_gs_SendUcPw(int iFd, const PbbUcPw* pstUcPw, const char* szVsiName)
{
    PbbGsUcPwMsg stMsg{};
    stMsg.uiVsiIndex = htonl(pstUcPw->uiVsiIndex);
    stMsg.uiISid = htonl(pstUcPw->uiISid);
    stMsg.usBVlan = htons(pstUcPw->usBVlan);
    memcpy(stMsg.aucBMac, pstUcPw->aucBMac, sizeof(stMsg.aucBMac));
    stMsg.uiIfIndex = htonl(pstUcPw->uiIfIndex);
    if (szVsiName != nullptr) _pbb_gs_CopyName(stMsg.szVsiName, szVsiName);
    return _pbb_gs_SendTlv(iFd, PBB_GS_REPLY_UC, sizeof(stMsg), &stMsg);
}

uint32_t _pbb_gs_SendMcInfo(int iFd, const PbbMcPw* pstMcPw, PbbGsMcInfoMsg* pstMsg)
{
    const uint32_t uiPortNum = pstMsg->uiPortNum;
    pstMsg->uiVsiIndex = htonl(pstMcPw->uiVsiIndex);
    pstMsg->uiISid = htonl(pstMcPw->uiISid);
    pstMsg->uiPortNum = htonl(uiPortNum);
    pstMsg->usBVlan = htons(pstMcPw->usBVlan);
    memcpy(pstMsg->aucMcMac, pstMcPw->aucMcMac, sizeof(pstMsg->aucMcMac));
    const PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(pstMcPw->uiVsiIndex);
    _pbb_gs_CopyName(pstMsg->szVsiName, pstVsi != nullptr ? pstVsi->szVsiName : "");
    uint32_t uiResult = _pbb_gs_SendTlv(iFd, PBB_GS_REPLY_MC, sizeof(*pstMsg), pstMsg);
    pstMsg->uiPortNum = uiPortNum;
    return uiResult;
}

uint32_t _pbb_gs_SendMcPw(int iFd, const PbbMcPw* pstMcPw)
{
    PbbGsMcInfoMsg& stMsg = g_stPbbGsMcMsg;
    memset(&stMsg, 0, sizeof(stMsg));
    uint32_t uiResult = PBB_OK;
    uint32_t uiSlot = 0;
    for (const PbbMcPortLink* pstLink = pstMcPw->stPortList.pstNext; pstLink != &pstMcPw->stPortList;
         pstLink = pstLink->pstNext) {
        stMsg.auiPort[uiSlot++] = htonl(PBB_mcpw_PortOf(pstLink)->uiIfIndex);
        if (uiSlot == PBB_GS_MC_PORTS) {
            stMsg.uiPortNum = uiSlot;
            uiResult |= _pbb_gs_SendMcInfo(iFd, pstMcPw, &stMsg);
            uiSlot = 0;
        }
    }
    if (uiSlot != 0) {
        stMsg.uiPortNum = uiSlot;
        uiResult |= _pbb_gs_SendMcInfo(iFd, pstMcPw, &stMsg);
    }
    uiResult |= _pbb_gs_SendResult(iFd, PBB_MC_END);
    return uiResult;
}

uint32_t _pbb_gs_SetDebug(void* pValue, int iFd)
{
    auto* pstReq = static_cast<PbbGsDebugReq*>(pValue);
    pstReq->usOperation = ntohs(pstReq->usOperation);
    pstReq->uiMask = ntohl(pstReq->uiMask);
    PBB_log_SetDebugSwitch(pstReq->usOperation, pstReq->uiMask);
    return _pbb_gs_SendResult(iFd, PBB_OK);
}

// The integer fields of a B-VLAN or encapsulation request, to host order in
// place.
static PbbGsSetReq* _pbb_gs_SetReqN2H(void* pValue)
{
    auto* pstReq = static_cast<PbbGsSetReq*>(pValue);
    pstReq->usOperation = ntohs(pstReq->usOperation);
    pstReq->uiValue = ntohl(pstReq->uiValue);
    pstReq->uiISid = ntohl(pstReq->uiISid);
    return pstReq;
}

uint32_t _pbb_gs_SetBvlan(void* pValue, int iFd)
{
    PbbGsSetReq* pstReq = _pbb_gs_SetReqN2H(pValue);
    uint32_t uiResult;
    if (pstReq->usOperation == PBB_GS_OP_RESET)
        uiResult = PBB_ctl_ResetBVlan(pstReq->szVsiName, pstReq->uiISid);
    else
        uiResult = PBB_ctl_SetBVlan(static_cast<uint16_t>(pstReq->uiValue & 0xFFFF), pstReq->szVsiName, pstReq->uiISid);
    return _pbb_gs_SendResult(iFd, uiResult);
}

uint32_t _pbb_gs_SetEncapType(void* pValue, int iFd)
{
    PbbGsSetReq* pstReq = _pbb_gs_SetReqN2H(pValue);
    uint32_t uiResult;
    if (pstReq->usOperation == PBB_GS_OP_RESET)
        uiResult = PBB_ctl_ResetEncapType(pstReq->szVsiName, pstReq->uiISid);
    else
        uiResult = PBB_ctl_SetEncapType(pstReq->uiValue, pstReq->szVsiName, pstReq->uiISid);
    return _pbb_gs_SendResult(iFd, uiResult);
}

uint32_t _pbb_gs_SetUplinkAll(void* pValue, int iFd)
{
    auto* pstReq = static_cast<PbbGsUplinkAllReq*>(pValue);
    pstReq->usOperation = ntohs(pstReq->usOperation);
    pstReq->uiIfIndex = ntohl(pstReq->uiIfIndex);
    // The undo's result too: a step it could not make is told to the client.
    uint32_t uiResult = pstReq->usOperation == PBB_GS_OP_ADD ? PBB_ctl_SetAllVsiUplink(pstReq->uiIfIndex)
                                                             : PBB_ctl_ResetAllVsiUplink(pstReq->uiIfIndex);
    return _pbb_gs_SendResult(iFd, uiResult);
}

uint32_t _pbb_gs_SetUplinkVsi(void* pValue, int iFd)
{
    auto* pstReq = static_cast<PbbGsUplinkReq*>(pValue);
    pstReq->usOperation = ntohs(pstReq->usOperation);
    pstReq->uiIfIndex = ntohl(pstReq->uiIfIndex);
    pstReq->uiCount = ntohl(pstReq->uiCount);
    const auto aszNames =
        reinterpret_cast<const char(*)[PBB_VSI_NAME_LEN]>(static_cast<uint8_t*>(pValue) + sizeof(PbbGsUplinkReq));
    uint32_t uiResult;
    if (pstReq->usOperation == PBB_GS_OP_ADD)
        uiResult = PBB_ctl_AddUplink(pstReq->uiIfIndex, pstReq->uiCount, aszNames);
    else
        uiResult = PBB_ctl_DeleteUplink(pstReq->uiIfIndex, pstReq->uiCount, aszNames);
    return _pbb_gs_SendResult(iFd, uiResult);
}

uint32_t _pbb_gs_ResetUcPw(void* pValue, int iFd)
{
    auto* pstReq = static_cast<PbbGsResetUcPwReq*>(pValue);
    auto* pstBitmap = reinterpret_cast<BITMAP_S*>(pstReq->auiBVlanMap);
    if (Bitmap_N2H(pstBitmap, sizeof(pstReq->auiBVlanMap)) != 0) {
        _pbb_gs_LogError(PBB_GS_BAD_BITMAP);
        return _pbb_gs_SendResult(iFd, PBB_ERR);
    }
    pstReq->uiIfCount = ntohl(pstReq->uiIfCount);
    // Checked before the handler runs; kept so that no call can index
    // past the array.
    if (pstReq->uiIfCount > PBB_GS_RESET_IF_MAX) return _pbb_gs_SendResult(iFd, PBB_ERR);
    for (uint32_t i = 0; i < pstReq->uiIfCount; ++i) pstReq->auiIfIndex[i] = ntohl(pstReq->auiIfIndex[i]);

    if (pstReq->szVsiName[0] != '\0') {
        const PbbVsi* pstVsi = PBB_vsi_GetVsiByName(pstReq->szVsiName);
        if (pstVsi == nullptr || Bitmap_Check(pstBitmap, pstVsi->usBVlan) == 0) return _pbb_gs_SendResult(iFd, PBB_ERR);
        PBB_ctl_ResetUcPwBatchWithVsi(pstVsi->uiVsiIndex, pstReq->uiIfCount, pstReq->auiIfIndex);
        return _pbb_gs_SendResult(iFd, PBB_OK);
    }
    PBB_ctl_ResetUcPwBatchWithoutVsi(pstBitmap, pstReq->uiIfCount, pstReq->auiIfIndex);
    return _pbb_gs_SendResult(iFd, PBB_OK);
}

uint32_t _pbb_gs_GetDebug(void* /*pValue*/, int iFd)
{
    return _pbb_gs_SendDebug(iFd, PBB_log_GetDebugSwitch());
}

uint32_t _pbb_gs_GetMC(void* pValue, int iFd)
{
    const uint32_t uiVsiIndex = PBB_vsi_GetIndexByName(static_cast<const char*>(pValue));
    if (uiVsiIndex == PBB_VSI_INVALID_INDEX) return _pbb_gs_SendResult(iFd, PBB_ERR);
    return _pbb_gs_AnswerMc(iFd, PBB_mcpw_Get(uiVsiIndex));
}

uint32_t _pbb_gs_GetFirstMC(void* /*pValue*/, int iFd)
{
    return _pbb_gs_AnswerMc(iFd, PBB_mcpw_GetFirst());
}

uint32_t _pbb_gs_GetNextMC(void* pValue, int iFd)
{
    auto* puiVsiIndex = static_cast<uint32_t*>(pValue);
    *puiVsiIndex = ntohl(*puiVsiIndex);
    return _pbb_gs_AnswerMc(iFd, PBB_mcpw_GetNextByIndex(*puiVsiIndex));
}

uint32_t _pbb_gs_GetFirstUC(void* pValue, int iFd)
{
    auto* pstReq = static_cast<PbbGsUcPwMsg*>(pValue);
    const PbbVsi* pstVsi = _pbb_gs_GetUcVsi(pstReq);
    if (pstVsi == nullptr) return _pbb_gs_SendResult(iFd, PBB_ERR);
    PbbUcPwFilter stFilter{};
    stFilter.uiVsiIndex = pstVsi->uiVsiIndex;
    const PbbUcPw* pstUcPw = PBB_ucpw_GetFirst(PBB_UCPW_GET_BY_VSI, &stFilter);
    if (pstUcPw == nullptr) return _pbb_gs_SendResult(iFd, PBB_ERR);
    return _pbb_gs_SendUcPw(iFd, pstUcPw, pstVsi->szVsiName);
}

uint32_t _pbb_gs_GetNextUC(void* pValue, int iFd)
{
    auto* pstReq = static_cast<PbbGsUcPwMsg*>(pValue);
    const PbbVsi* pstVsi = _pbb_gs_GetUcVsi(pstReq);
    if (pstVsi == nullptr) return _pbb_gs_SendResult(iFd, PBB_ERR);
    const PbbUcPw* pstUcPw = PBB_ucpw_GetNextByIndex(pstVsi->uiVsiIndex, pstReq->aucBMac);
    if (pstUcPw == nullptr) return _pbb_gs_SendResult(iFd, PBB_ERR_NO_MORE_UC);
    return _pbb_gs_SendUcPw(iFd, pstUcPw, pstVsi->szVsiName);
}
