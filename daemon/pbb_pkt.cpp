#include "daemon/pbb_pkt.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_reopen.h"
#include "daemon/pbb_tmr.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "platform/ifm.h"
#include "platform/sti.h"

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

int g_iPbbPktSocketFd = PBB_INVALID_FD;
PbbReopen g_stPbbPktReopen = {
    PBB_PKT_STATE_NAME, PBB_pkt_Init, "PBB_PKTSOCK_WARNING",
    "The PBB packet socket was closed and cannot be opened again: no PBB frame is learned until it opens. "
    "Retrying every second.\r\n",
    "PBB_PKTSOCK_NOTICE", "The PBB packet socket has been opened again: PBB frames are learned again.\r\n",
    PBB_TMR_INVALID};

namespace {

// Bytes of the data read: I-Tag flags, I-SID, C-DA, C-SA.
constexpr ssize_t PBB_PKT_DATA_MIN = 16;
constexpr const char* PBB_PKT_LEARN_FAILED = "Failed to learn the Unicast Pseudo Wire entry.\r\n";

void _pbb_pkt_LogError(const char* szFormat, const char* szArg = nullptr)
{
    if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) != 1) return;
    if (szArg != nullptr)
        PBB_log_Print("ERROR", szFormat, szArg);
    else
        PBB_log_Print("ERROR", szFormat);
}

// A check failed: its message, then the common second line.
void _pbb_pkt_Refuse(const char* szFormat, const char* szArg = nullptr)
{
    _pbb_pkt_LogError(szFormat, szArg);
    _pbb_pkt_LogError(PBB_PKT_LEARN_FAILED);
}

// The interface's full name into an empty buffer; the result of the lookup.
uint32_t _pbb_pkt_IfName(uint32_t uiIfIndex, char* szName)
{
    memset(szName, 0, IF_NAME_BUF_LEN);
    return IF_GetDataByIfIndex(uiIfIndex, IF_DATA_FULL_NAME, szName);
}

void _pbb_pkt_Dump(const PbbPktFrameInfo* pstFrame, uint32_t uiIfIndex)
{
    if (PBB_log_IsDebugSwitchOn(PBB_DBG_PKT) != 1) return;
    char szName[IF_NAME_BUF_LEN];
    if (_pbb_pkt_IfName(uiIfIndex, szName) != 0) return;
    PBB_log_Print("PKT",
                  "Receive PBB frame from %s\r\nB-DA: %M\r\nB-SA: %M\r\nB-Tag TPID: %x\r\nB-VLAN: %d\r\n"
                  "I-Tag TPID: %x\r\nI-SID: %d\r\nC-DA: %M\r\nC-SA: %M\r\n",
                  szName, pstFrame->aucBDa, pstFrame->aucBSa, static_cast<unsigned>(PBB_PKT_BTAG_TPID),
                  static_cast<int>(pstFrame->usBVlan), static_cast<unsigned>(PKT_ETHERTYPE_ITAG),
                  static_cast<int>(pstFrame->uiISid), pstFrame->aucCDa, pstFrame->aucCSa);
}

// The seven checks, in order. Returns the frame's VSI, or null when one
// failed (its messages are logged).
PbbVsi* _pbb_pkt_Check(const PbbPktFrameInfo* pstFrame, uint32_t uiIfIndex)
{
    // A group address (the lowest bit of its first octet set) or all zeros
    // names no station: a bridge never learns it as a source.
    static constexpr uint8_t s_aucNoMac[6] = {0, 0, 0, 0, 0, 0};
    if ((pstFrame->aucBSa[0] & 0x01) != 0 || memcmp(pstFrame->aucBSa, s_aucNoMac, sizeof(s_aucNoMac)) == 0) {
        _pbb_pkt_Refuse("The B-SA of this PBB packet is not a unicast address.\r\n");
        return nullptr;
    }
    uint32_t uiVsiIndex = PBB_vsi_GetIndexByISid(pstFrame->uiISid);
    if (uiVsiIndex == PBB_VSI_INVALID_INDEX) {
        _pbb_pkt_Refuse("The I-SID of this PBB packet is not the same as configured.\r\n");
        return nullptr;
    }
    PbbVsi* pstVsi = PBB_vsi_GetVsiByIndex(uiVsiIndex);
    if (pstVsi == nullptr) {
        _pbb_pkt_Refuse("Failed to get VSI block.\r\n");
        return nullptr;
    }
    // A VSI without a B-VLAN holds 0xFFFF: a frame of B-VLAN 0xFFFF, or of
    // any VLAN ID beyond the highest, has no list in the unicast table.
    if (pstFrame->usBVlan != pstVsi->usBVlan || pstFrame->usBVlan > g_usPbbMaxVlanId) {
        _pbb_pkt_Refuse("The B-VLAN of this PBB packet is not the same as configured.\r\n");
        return nullptr;
    }
    if (pstVsi->usShutdownFlag == 1) {
        _pbb_pkt_Refuse("Failed to learn PBB packet because the VSI is administratively down.\r\n");
        return nullptr;
    }
    char szName[IF_NAME_BUF_LEN];
    PbbMcPw* pstMcPw = PBB_mcpw_Get(uiVsiIndex);
    if (pstMcPw == nullptr || PBB_mcpw_IsPortExist(pstMcPw, uiIfIndex) != 1) {
        (void)_pbb_pkt_IfName(uiIfIndex, szName);
        _pbb_pkt_Refuse("The interface %s isn't enabled to receive PBB packet.\r\n", szName);
        return nullptr;
    }
    uint16_t usState = 0;
    // A state that cannot be queried lets the frame through.
    if (STI_GetVlanState(uiIfIndex, pstFrame->usBVlan, &usState) == 0 && usState != PBB_STP_FORWARDING) {
        (void)_pbb_pkt_IfName(uiIfIndex, szName);
        _pbb_pkt_Refuse("The STG state of interface %s is not forwarding.\r\n", szName);
        return nullptr;
    }
    return pstVsi;
}

// A new key within both limits? Logs the limit reached otherwise.
bool _pbb_pkt_WithinLimits(uint32_t uiVsiIndex)
{
    uint32_t uiVsiNum = PBB_ucpw_GetNumByVsi(uiVsiIndex);
    uint32_t uiTotalNum = PBB_ucpw_GetTotalNum();
    uint32_t uiMaxPerVsi = PBB_l2vpn_GetMaxPwPerVsi();
    uint32_t uiMaxTotal = PBB_l2vpn_GetMaxPwNum();
    if (uiTotalNum >= uiMaxTotal) {
        _pbb_pkt_LogError("The total number of Unicast Pseudo Wire entries has reached the upper limit.\r\n");
        return false;
    }
    if (uiVsiNum >= uiMaxPerVsi) {
        if (PBB_log_IsDebugSwitchOn(PBB_DBG_ERROR) == 1)
            PBB_log_Print("ERROR",
                          "The number of Unicast Pseudo Wire entries in this VSI(VsiIndex %u) has reached the upper "
                          "limit.\r\n",
                          uiVsiIndex);
        return false;
    }
    return true;
}

// Parses one received message into the frame record and the ingress
// ifIndex. False for a message that is skipped without a word: no control
// record of type 1 with an ifIndex, or less data than the fields read.
bool _pbb_pkt_Parse(const PbbPktSockAddr* pstAddr, const PKT_CTRL_S* pstCtrl, size_t ulCtrlLen,
                    const uint8_t* pucData, ssize_t lLen, PbbPktFrameInfo* pstFrame, uint32_t* puiIfIndex)
{
    if (ulCtrlLen < sizeof(PKT_CTRL_S) || pstCtrl->uiType != PKT_CTRL_IFINDEX || pstCtrl->uiIfIndex == 0)
        return false;
    *puiIfIndex = pstCtrl->uiIfIndex;
    if (lLen < PBB_PKT_DATA_MIN) {
        if (PBB_log_IsDebugSwitchOn(PBB_DBG_PKT) == 1)
            PBB_log_Print("PKT", "Dropped a PBB frame of %d bytes from ifIndex %u: too short.\r\n",
                          static_cast<int>(lLen), *puiIfIndex);
        return false;
    }
    pstFrame->uiISid = (static_cast<uint32_t>(pucData[1]) << 16) | (static_cast<uint32_t>(pucData[2]) << 8) |
                       static_cast<uint32_t>(pucData[3]);
    pstFrame->usBVlan = pstAddr->usVlanId;
    memcpy(pstFrame->aucBDa, pstAddr->aucDstMac, sizeof(pstFrame->aucBDa));
    memcpy(pstFrame->aucBSa, pstAddr->aucSrcMac, sizeof(pstFrame->aucBSa));
    memcpy(pstFrame->aucCDa, pucData + 4, sizeof(pstFrame->aucCDa));
    memcpy(pstFrame->aucCSa, pucData + 10, sizeof(pstFrame->aucCSa));
    return true;
}

// One message received, kept until it is learned from.
struct PbbPktRead {
    PbbPktSockAddr stAddr;
    PKT_CTRL_S stCtrl;
    size_t ulCtrlLen;
    ssize_t lLen;
    // The B-MAC hash's bucket of the frame's key, asked for when it was
    // read; the table does not change until the frames read are learned.
    HASH_NODE_S* const* ppstBucket;
    uint8_t aucData[PBB_PKT_DATA_BUF];
};

// Reads one message; false when there is none (or the read failed).
bool _pbb_pkt_Receive(int iFd, PbbPktRead* pstRead)
{
    memset(&pstRead->stAddr, 0, sizeof(pstRead->stAddr));
    memset(&pstRead->stCtrl, 0, sizeof(pstRead->stCtrl));
    struct iovec stIov = {pstRead->aucData, sizeof(pstRead->aucData)};
    struct msghdr stMsg;
    memset(&stMsg, 0, sizeof(stMsg));
    stMsg.msg_name = &pstRead->stAddr;
    stMsg.msg_namelen = sizeof(pstRead->stAddr);
    stMsg.msg_iov = &stIov;
    stMsg.msg_iovlen = 1;
    stMsg.msg_control = &pstRead->stCtrl;
    stMsg.msg_controllen = sizeof(pstRead->stCtrl);
    pstRead->lLen = PKT_RecvMsg(iFd, &stMsg, MSG_DONTWAIT);
    pstRead->ulCtrlLen = stMsg.msg_controllen;
    return pstRead->lLen > 0;
}

// Starts fetching the hash bucket of the entry a received frame names,
// without a word and without changing anything: the checks and their
// messages come when the frame is learned from.
void _pbb_pkt_PrefetchBucket(PbbPktRead* pstRead)
{
    pstRead->ppstBucket = nullptr;
    if (pstRead->lLen < PBB_PKT_DATA_MIN) return;
    const uint8_t* pucData = pstRead->aucData;
    uint32_t uiISid = (static_cast<uint32_t>(pucData[1]) << 16) | (static_cast<uint32_t>(pucData[2]) << 8) |
                      static_cast<uint32_t>(pucData[3]);
    uint32_t uiVsiIndex = PBB_vsi_GetIndexByISid(uiISid);
    if (uiVsiIndex != PBB_VSI_INVALID_INDEX)
        pstRead->ppstBucket = PBB_ucpw_PrefetchBucket(uiVsiIndex, pstRead->stAddr.usVlanId, pstRead->stAddr.aucSrcMac);
}

// The step after: the entry that bucket leads to.
void _pbb_pkt_PrefetchEntry(const PbbPktRead* pstRead)
{
    PBB_ucpw_PrefetchBucketEntry(pstRead->ppstBucket);
}

}  // namespace

int _pbb_pkt_SocketInit()
{
    int iFd = PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY);
    if (iFd < 0) return PBB_INVALID_FD;

    PbbPktSockAddr stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.ucLen = sizeof(stAddr);
    stAddr.ucFamily = PKT_AF_PACKET;
    stAddr.usSelect = 1;
    stAddr.usMode = 1;
    stAddr.usEtherType = PKT_ETHERTYPE_ITAG;
    stAddr.usHwType = 128;
    stAddr.usPktType = 1;
    stAddr.uiFlags = 1;
    bool bOk = PKT_Bind(iFd, &stAddr, sizeof(stAddr)) == 0;

    if (bOk) {
        // All three are set; their results are added.
        int iOff = 0;
        int iOn = 1;
        int iRcvBuf = PBB_PKT_RCVBUF;
        int iSum = PKT_SetSockOpt(iFd, PKT_SOL_PACKET, PKT_OPT_RECV_ALL, &iOff, sizeof(iOff));
        iSum += PKT_SetSockOpt(iFd, PKT_SOL_PACKET, PKT_OPT_IFINDEX_CTRL, &iOn, sizeof(iOn));
        iSum += PKT_SetSockOpt(iFd, PKT_SOL_SOCKET, PKT_SO_RCVBUF, &iRcvBuf, sizeof(iRcvBuf));
        bOk = iSum == 0;
    }
    if (bOk) bOk = PBB_elipc_Add(g_iPbbEpollFd, iFd, _pbb_pkt_EpollCallback) == 0;
    if (!bOk) {
        close(iFd);
        return PBB_INVALID_FD;
    }
    return iFd;
}

uint32_t PBB_pkt_Init()
{
    if (g_iPbbPktSocketFd >= 0) return PBB_OK;
    int iFd = _pbb_pkt_SocketInit();
    if (iFd < 0) return PBB_ERR;
    g_iPbbPktSocketFd = iFd;
    PBB_reopen_TellOpen(&g_stPbbPktReopen);
    return PBB_OK;
}

void PBB_pkt_Exit()
{
    PBB_reopen_Stop(&g_stPbbPktReopen);
    if (g_iPbbPktSocketFd < 0) return;
    PBB_elipc_Del(g_iPbbEpollFd, g_iPbbPktSocketFd);
    close(g_iPbbPktSocketFd);
    g_iPbbPktSocketFd = PBB_INVALID_FD;
}

uint32_t _pbb_pkt_EpollCallback(uint32_t uiEvents, int iFd)
{
    if ((uiEvents & PBB_EV_IN) != 0) (void)_pbb_pkt_EpollInProc(iFd);
    if ((uiEvents & PBB_EV_ERR_HUP) != 0) {
        // Nothing is learned until the socket opens again.
        PBB_pkt_Exit();
        return PBB_reopen_AfterClose(&g_stPbbPktReopen);
    }
    return PBB_OK;
}

void _pbb_pkt_Learn(const PbbPktFrameInfo* pstFrame, uint32_t uiIfIndex)
{
    PbbVsi* pstVsi = _pbb_pkt_Check(pstFrame, uiIfIndex);
    if (pstVsi == nullptr) return;
    uint32_t uiVsiIndex = pstVsi->uiVsiIndex;

    PbbUcPw* pstEntry = PBB_ucpw_Get(uiVsiIndex, pstFrame->usBVlan, pstFrame->aucBSa);
    if (pstEntry != nullptr && pstEntry->uiIfIndex == uiIfIndex) {
        _pbb_pkt_LogError("The Unicast Pseudo Wire entry has already been learned.\r\n");
        return;
    }
    if (pstEntry != nullptr) {
        // The station moved: the old entry goes from the driver, the
        // database and the table; a move is not held to the limits.
        PBB_l2vpn_DeleteUcPw(uiVsiIndex, pstFrame->uiISid, pstFrame->aucBSa);
        (void)PBB_dbmsave_DeleteUcPw(pstEntry);
        PBB_ucpw_Delete(pstEntry);
    } else if (!_pbb_pkt_WithinLimits(uiVsiIndex)) {
        return;
    }

    if (PBB_l2vpn_AddUcPw(uiVsiIndex, pstFrame->uiISid, pstFrame->usBVlan, uiIfIndex, pstFrame->aucBSa,
                          pstFrame->aucCSa) != 0)
        return;
    if (PBB_ucpw_Add(uiVsiIndex, pstFrame->uiISid, pstFrame->usBVlan, pstFrame->aucBSa, uiIfIndex) != 0) {
        PBB_l2vpn_DeleteUcPw(uiVsiIndex, pstFrame->uiISid, pstFrame->aucBSa);
        return;
    }
    (void)PBB_dbmsave_AddUcPw(uiVsiIndex, pstFrame->uiISid, pstFrame->usBVlan, pstFrame->aucBSa, uiIfIndex);
}

uint32_t _pbb_pkt_EpollInProc(int iFd)
{
    // Static: the frame buffers for the life of the process. All of the
    // call's frames are read before the first is learned from, so that
    // the reads run back to back, each finding the socket's path through
    // the kernel as the read before left it.
    static PbbPktRead s_astRead[PBB_PKT_MAX_PER_CALL];
    uint32_t uiRead = 0;
    while (uiRead < PBB_PKT_MAX_PER_CALL && _pbb_pkt_Receive(iFd, &s_astRead[uiRead])) {
        // The entries these frames name come into the cache while the
        // next frames are read, not one frame's wait for memory after the
        // other's: a frame's bucket is asked for once it is read, the
        // entry it leads to once the next frame is read.
        _pbb_pkt_PrefetchBucket(&s_astRead[uiRead]);
        if (uiRead > 0) _pbb_pkt_PrefetchEntry(&s_astRead[uiRead - 1]);
        ++uiRead;
    }
    if (uiRead > 0) _pbb_pkt_PrefetchEntry(&s_astRead[uiRead - 1]);
    for (uint32_t i = 0; i < uiRead; ++i) {
        PbbPktRead* pstRead = &s_astRead[i];
        PbbPktFrameInfo stFrame;
        memset(&stFrame, 0, sizeof(stFrame));
        uint32_t uiIfIndex = 0;
        if (!_pbb_pkt_Parse(&pstRead->stAddr, &pstRead->stCtrl, pstRead->ulCtrlLen, pstRead->aucData, pstRead->lLen,
                            &stFrame, &uiIfIndex))
            continue;
        _pbb_pkt_Dump(&stFrame, uiIfIndex);
        _pbb_pkt_Learn(&stFrame, uiIfIndex);
    }
    return uiRead;
}
