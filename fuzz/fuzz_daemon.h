// The whole daemon over the in-process switch, for the fuzz targets that
// feed it what other processes send: its modules started in the daemon's
// order (databases in a private state directory, emptied after each
// input), two PBB VSIs configured on three uplinks of two MAC-in-MAC slots
// and an aggregate, and a few entries learned from frames. check() asserts
// what must hold whatever arrived: the driver holds exactly the table's
// learned entries, each on a port the switch has, and the multicast entries
// of the driver and the table name the same ports. checkTables() asserts
// only that the tables hold together.
#pragma once

#include "daemon/pbb_common.h"
#include "daemon/pbb_ctl.h"
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_if.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_pkt.h"
#include "daemon/pbb_tc.h"
#include "daemon/pbb_tmr.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vlan.h"
#include "daemon/pbb_vsi.h"
#include "fuzz/fuzz_check.h"
#include "platform/dbm.h"
#include "platform/model/inproc.h"
#include "platform/model/pbb_frame.h"
#include "platform/settings.h"
#include "platform/testing.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace fuzzd {

struct Switch {
    uint32_t a = 0, b = 0, c = 0, agg = 0;
};

// The process's private directory, removed when it exits (the string
// outlives every static destructor). On tmpfs when there is one: the stores
// are made afresh for every input, and syncing them there costs nothing.
inline const std::string& stateDir()
{
    static const std::string* dir = [] {
        std::error_code ec;
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : std::filesystem::temp_directory_path();
        auto* made = new std::string((base / "pbbfuzz.XXXXXX").string());
        FUZZ_CHECK(mkdtemp(made->data()) != nullptr);
        plat::setRunDir(*made + "/run");
        plat::setStateDir(*made + "/state");
        plat::setLogFile("/dev/null");
        // Nothing here outlives the process: no store is synced to disk.
        plat::dbm::tuning().durableSynchronous = 0;
        plat::dbm::tuning().writeBehindSynchronous = 0;
        plat::dbm::tuning().flushIntervalMs = 1;
        std::atexit([] { std::filesystem::remove_all(stateDir()); });
        return made;
    }();
    return *dir;
}

// Serves the daemon's descriptors as its loop does until nothing is ready.
inline void serve()
{
    while (_pbb_main_EpollOnce(g_iPbbEpollFd, 0) > 0) {
    }
}

inline void frame(uint32_t port, uint32_t isid, uint16_t bvlan, uint8_t station)
{
    sim::PbbFrame f;
    f.isid = isid;
    f.bda = sim::groupAddress(isid);
    f.bsa = {0, 0x11, 0x22, 0x33, static_cast<uint8_t>(isid), station};
    f.bvid = bvlan;
    f.csa = {0x02, 0, 0, 0, 0, 1};
    f.rest.assign(46, 0);
    (void)plat::inproc::model().receiveFrame(port, f);
}

inline Switch start()
{
    (void)stateDir();
    plat::testing::reset();
    auto& sw = plat::inproc::reset();
    sw.setSlotRange(1, 3);
    sw.addSlot(1, {.minm = true});
    sw.addSlot(2, {.minm = true});
    Switch s;
    s.a = sw.addPort("eth-1/0/1", 1);
    s.b = sw.addPort("eth-1/0/2", 1);
    s.c = sw.addPort("eth-2/0/1", 2);
    uint32_t m = sw.addPort("eth-2/0/2", 2);
    s.agg = sw.addAggregate("agg-1");
    sw.joinAggregate(s.agg, m);
    for (uint32_t p : {s.a, s.b, s.c, s.agg}) sw.setVlans(p, {10, 20});
    sw.addVsi(1, "vsi-a", 1001);
    sw.addVsi(2, "vsi-b", 1002);

    g_iPbbEpollFd = epoll_create1(EPOLL_CLOEXEC);
    FUZZ_CHECK(g_iPbbEpollFd >= 0);
    uint32_t rc = PBB_elipc_InitFdList() + PBB_tmr_Init();
    rc += PBB_if_Init() + PBB_vlan_Init() + PBB_l2vpn_Init() + PBB_tc_Init() + PBB_vsi_Init() + PBB_ifcb_Init() +
          PBB_pkt_Init() + PBB_ucpw_Init() + PBB_mcpw_Init() + PBB_dbmrecover_Init();
    FUZZ_CHECK(rc == 0);
    serve();
    for (uint32_t p : {s.a, s.b, s.c, s.agg}) FUZZ_CHECK(PBB_ctl_SetAllVsiUplink(p) == PBB_OK);
    FUZZ_CHECK(PBB_ctl_SetBVlan(10, "vsi-a", 1001) == PBB_OK);
    FUZZ_CHECK(PBB_ctl_SetBVlan(20, "vsi-b", 1002) == PBB_OK);
    for (uint8_t station = 1; station <= 3; ++station) {
        frame(s.a, 1001, 10, station);
        frame(s.c, 1002, 20, station);
    }
    serve();
    FUZZ_CHECK(PBB_ucpw_GetTotalNum() == 6);
    // Every debug switch on: the texts are built (the log goes nowhere).
    g_uiPbbDbgFlag = 0xFFFFFFFF;
    return s;
}

// The tables hold together: the walk of all entries counts what the table
// counts, each entry's port exists, each multicast entry counts its ports.
// (An entry may outlive its VSI: a VSI announced under a known index with
// another name drops the VSI record and keeps its learned entries.)
inline void checkTables()
{
    const auto& sw = plat::inproc::model();
    uint32_t held = 0;
    for (PbbUcPw* e = PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr); e != nullptr;
         e = PBB_ucpw_GetNext(PBB_UCPW_GET_ALL, e), ++held) {
        FUZZ_CHECK(sw.findIf(e->uiIfIndex) != nullptr);
    }
    FUZZ_CHECK(held == PBB_ucpw_GetTotalNum());
    for (PbbMcPw* mc = PBB_mcpw_GetFirst(); mc != nullptr; mc = PBB_mcpw_GetNext(mc)) {
        uint32_t ports = 0;
        for (PbbMcPortLink* l = mc->stPortList.pstNext; l != &mc->stPortList; l = l->pstNext) ++ports;
        FUZZ_CHECK(ports == mc->uiPortNum);
    }
}

// Besides, every entry's VSI exists, and the driver holds exactly the
// table's learned entries and multicast ports (while the switch itself has
// not changed under the daemon: frames, not invented events).
inline void check()
{
    checkTables();
    const auto& sw = plat::inproc::model();
    std::set<std::tuple<uint32_t, uint16_t, std::array<uint8_t, 6>, uint32_t>> table, driver;
    for (PbbUcPw* e = PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr); e != nullptr;
         e = PBB_ucpw_GetNext(PBB_UCPW_GET_ALL, e)) {
        FUZZ_CHECK(PBB_vsi_GetVsiByIndex(e->uiVsiIndex) != nullptr);
        std::array<uint8_t, 6> mac;
        std::memcpy(mac.data(), e->aucBMac, 6);
        table.insert({e->uiVsiIndex, e->usBVlan, mac, e->uiIfIndex});
    }
    FUZZ_CHECK(table.size() == PBB_ucpw_GetTotalNum());
    // Inside a refresh window the driver holds what the batch will sort out.
    if (sw.fib().windowOpen()) return;
    for (const auto& [key, e] : sw.fib().committed().uc) {
        std::array<uint8_t, 6> mac;
        std::memcpy(mac.data(), e.bmac.data(), 6);
        driver.insert({e.vsi, e.bvlan, mac, e.port});
    }
    FUZZ_CHECK(driver == table);
    for (uint32_t v : {1u, 2u}) {
        std::vector<uint32_t> ports;
        if (PbbMcPw* mc = PBB_mcpw_Get(v); mc != nullptr)
            for (PbbMcPortLink* l = mc->stPortList.pstNext; l != &mc->stPortList; l = l->pstNext)
                ports.push_back(PBB_mcpw_PortOf(l)->uiIfIndex);
        const sim::McEntry* mc = sw.multicast(v);
        std::vector<uint32_t> programmed = mc != nullptr ? mc->ports : std::vector<uint32_t>{};
        std::sort(programmed.begin(), programmed.end());
        FUZZ_CHECK(programmed == ports);
    }
}

inline void stop()
{
    g_uiPbbDbgFlag = 0;
    // The daemon's own shutdown: every module's exit, in its order.
    _pbb_main_Exit();
    std::filesystem::remove_all(stateDir() + "/state");
    plat::testing::reset();
}

}  // namespace fuzzd
