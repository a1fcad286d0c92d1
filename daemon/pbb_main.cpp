#include "daemon/pbb_main.h"

#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_gs.h"
#include "daemon/pbb_if.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_pkt.h"
#include "daemon/pbb_tc.h"
#include "daemon/pbb_tmr.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vlan.h"
#include "daemon/pbb_vsi.h"
#include "platform/service.h"

#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/signalfd.h>
#include <unistd.h>

int g_iPbbEpollFd = -1;
int g_iPbbSignalFd = -1;

static_assert(sizeof(struct signalfd_siginfo) == PBB_SIGINFO_LEN);
static_assert(offsetof(struct signalfd_siginfo, ssi_int) == PBB_SIGINFO_INT_OFFSET);

namespace {

constexpr const char* PBB_MAIN_INIT_FAILED = "PBB daemon init failed, ErrCode=0x%lx.\r\n";

// Blocks the stop signal and watches it through a signal descriptor.
uint32_t _pbb_main_RegSignal()
{
    sigset_t stSet;
    sigemptyset(&stSet);
    sigaddset(&stSet, SIGRTMIN + 1);
    if (sigprocmask(SIG_BLOCK, &stSet, nullptr) != 0) return PBB_ERR;
    int iFd = signalfd(-1, &stSet, 0);
    if (iFd < 0) return PBB_ERR;
    if (PBB_elipc_Add(g_iPbbEpollFd, iFd, _pbb_main_SignalEpEvent) != 0) {
        close(iFd);
        return PBB_ERR;
    }
    g_iPbbSignalFd = iFd;
    return PBB_OK;
}

uint32_t _pbb_main_Fail(uint32_t uiCode)
{
    PBB_log_TracePrint(PBB_MAIN_INIT_FAILED, static_cast<unsigned long>(uiCode));
    _pbb_main_Exit();
    return uiCode;
}

}  // namespace

uint32_t PBB_main_Main()
{
    if (g_iPbbEpollFd < 0) {
        int iFd = epoll_create(1);
        if (iFd < 0) return _pbb_main_Fail(PBB_ERR);
        g_iPbbEpollFd = iFd;
    }

    // Results are added, not OR-ed: two failures give 0x80020002.
    uint32_t uiResult = _pbb_main_RegSignal();
    uiResult += PBB_elipc_InitFdList();
    uiResult += PBB_tmr_Init();
    if (uiResult != 0) return _pbb_main_Fail(uiResult);

    PBB_log_Init();

    // Module initialisations, in this order and each one whatever the ones
    // before gave; the results are added.
    uiResult = PBB_if_Init();
    uiResult += PBB_vlan_Init();
    uiResult += PBB_l2vpn_Init();
    uiResult += PBB_tc_Init();
    uiResult += PBB_vsi_Init();
    uiResult += PBB_ifcb_Init();
    uiResult += PBB_gs_Init();
    uiResult += PBB_pkt_Init();
    uiResult += PBB_ucpw_Init();
    uiResult += PBB_mcpw_Init();
    uiResult += PBB_dbmrecover_Init();
    if (uiResult != 0) return _pbb_main_Fail(uiResult);

    (void)PBB_dbmrecover_Recover();
    SERVICE_SetStatus(SERVICE_STATUS_READY);
    _pbb_main_EpollSchedule(g_iPbbEpollFd);
}

int _pbb_main_EpollOnce(int iEpFd, int iTimeoutMs)
{
    static std::array<struct epoll_event, PBB_MAIN_MAX_EVENTS> s_astEvents{};
    int iCount = epoll_wait(iEpFd, s_astEvents.data(), PBB_MAIN_MAX_EVENTS, iTimeoutMs);
    for (int i = 0; i < iCount; ++i) {
        // epoll_event is packed: its data word sits 4 bytes in, so it is
        // copied out, never bound to a reference.
        const uint64_t ulData = s_astEvents[i].data.u64;
        const uint32_t uiEvents = s_astEvents[i].events;
        PBB_elipc_Dispatch(ulData, uiEvents);
    }
    return iCount > 0 ? iCount : 0;
}

void _pbb_main_EpollSchedule(int iEpFd)
{
    for (;;) (void)_pbb_main_EpollOnce(iEpFd, -1);
}

uint32_t _pbb_main_SignalEpEvent(uint32_t uiEvents, int iFd)
{
    if ((uiEvents & PBB_EV_IN) != 0) {
        struct signalfd_siginfo stInfo {};
        if (read(iFd, &stInfo, sizeof(stInfo)) == static_cast<ssize_t>(PBB_SIGINFO_LEN)) {
            int iStop = stInfo.ssi_int;
            if (iStop == PBB_STOP_CLEAR) {
                // Withdraw every learned entry from the forwarding plane and
                // the saved ones from the run database before stopping.
                (void)PBB_l2vpn_DeleteAllPw();
                (void)PBB_dbmsave_DeleteUcPwAll();
            }
            if (iStop == PBB_STOP_ORDERLY || iStop == PBB_STOP_ORDERLY_ALT || iStop == PBB_STOP_CLEAR) {
                _pbb_main_Exit();
                exit(0);
            }
            // Any other value ends the process at once, without the shutdown
            // sequence.
            exit(0);
        }
    }
    if ((uiEvents & PBB_EV_ERR_HUP) != 0) _pbb_main_DeregSignal();
    return 0;
}

void _pbb_main_DeregSignal()
{
    if (g_iPbbSignalFd < 0) return;
    PBB_elipc_Del(g_iPbbEpollFd, g_iPbbSignalFd);
    close(g_iPbbSignalFd);
    g_iPbbSignalFd = -1;
}

void _pbb_main_Exit()
{
    PBB_dbmrecover_Exit();
    PBB_mcpw_Exit();
    PBB_ucpw_Exit();
    PBB_pkt_Exit();
    PBB_gs_Exit();
    PBB_ifcb_Exit();
    PBB_vsi_Exit();
    PBB_tc_Exit();
    PBB_l2vpn_Exit();
    PBB_vlan_Exit();
    PBB_if_Exit();
    PBB_log_Exit();
    PBB_tmr_Exit();
    PBB_elipc_FiniFdList();
    _pbb_main_DeregSignal();
    if (g_iPbbEpollFd >= 0) {
        close(g_iPbbEpollFd);
        g_iPbbEpollFd = -1;
    }
}
