// The daemon's event loop in a test: its epoll instance and descriptor
// list made and released as start-up and shutdown do, and what is ready
// served the way the loop serves it.
#pragma once

#include "daemon/pbb_common.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_main.h"

#include <sys/epoll.h>
#include <unistd.h>

namespace pbbtest {

// Whether both could be made.
inline bool openDaemonLoop()
{
    g_iPbbEpollFd = epoll_create1(EPOLL_CLOEXEC);
    return g_iPbbEpollFd >= 0 && PBB_elipc_InitFdList() == PBB_OK;
}

inline void closeDaemonLoop()
{
    PBB_elipc_FiniFdList();
    if (g_iPbbEpollFd >= 0) close(g_iPbbEpollFd);
    g_iPbbEpollFd = PBB_INVALID_FD;
}

// Serves what is ready, as often as something is; the number of events served.
inline int serveReady()
{
    int n = 0;
    for (int got; (got = _pbb_main_EpollOnce(g_iPbbEpollFd, 0)) > 0;) n += got;
    return n;
}

}  // namespace pbbtest
