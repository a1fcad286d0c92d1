// Shared set-up of the benchmarks that run the daemon's modules in process:
// a private run and state directory, and the modules started and stopped
// in the daemon's order over the in-process switch.
#pragma once

#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_tmr.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "platform/settings.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace pbbbench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A private run and state directory, removed afterwards.
class Dirs {
public:
    Dirs()
    {
        char tmpl[] = "/tmp/pbb-bench.XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
        dir_ = tmpl;
        plat::setRunDir(dir_ + "/run");
        plat::setStateDir(dir_ + "/state");
        plat::setLogFile(dir_ + "/pbb.log");
    }
    ~Dirs()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    Dirs(const Dirs&) = delete;
    Dirs& operator=(const Dirs&) = delete;
    const std::string& path() const { return dir_; }

private:
    std::string dir_;
};

// The modules that hold and program state, started as the daemon starts
// them (the L2VPN adapter registers and asks for its batch), without the
// management server and the packet socket.
inline void startModules()
{
    g_iPbbEpollFd = epoll_create1(EPOLL_CLOEXEC);
    uint32_t rc = PBB_elipc_InitFdList() + PBB_tmr_Init();
    rc += PBB_l2vpn_Init() + PBB_vsi_Init() + PBB_ifcb_Init() + PBB_ucpw_Init() + PBB_mcpw_Init() +
          PBB_dbmrecover_Init();
    if (g_iPbbEpollFd < 0 || rc != 0) throw std::runtime_error("the daemon's modules did not start");
}

inline void stopModules()
{
    PBB_dbmrecover_Exit();
    PBB_mcpw_Exit();
    PBB_ucpw_Exit();
    PBB_ifcb_Exit();
    PBB_vsi_Exit();
    PBB_l2vpn_Exit();
    PBB_tmr_Exit();
    PBB_elipc_FiniFdList();
    ::close(g_iPbbEpollFd);
    g_iPbbEpollFd = -1;
}

// Serves the daemon's descriptors as its loop does until nothing is ready.
inline void serve()
{
    while (_pbb_main_EpollOnce(g_iPbbEpollFd, 0) > 0) {
    }
}

}  // namespace pbbbench
