// Start-up, stop values and shutdown of the whole process. Each case runs
// the daemon's main in a child process (a death test), since the stop
// signal ends the process; the child prints what it left behind and the
// parent matches it.
#include "daemon/pbb_common.h"
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_ucpw.h"
#include "platform/dbm.h"
#include "platform/model/inproc.h"
#include "platform/sti.h"
#include "platform/testing.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// The first and last module exits leave these platform calls behind.
void dumpCalls()
{
    std::fprintf(stderr, "calls: Timer_Finalize=%zu closelog2=%zu SERVICE_SetStatus=%zu DBM_Close=%zu channels closed=%zu\n",
                 plat::testing::countCalls("Timer_Finalize"), plat::testing::countCalls("closelog2"),
                 plat::testing::countCalls("SERVICE_SetStatus"), plat::testing::countCalls("DBM_Close"),
                 plat::testing::countCalls("IF_Event_Fini") + plat::testing::countCalls("VLAN_EventFini") +
                     plat::testing::countCalls("STI_Event_Fini") + plat::testing::countCalls("L2VPN_Deregister"));
}

// Lowers the descriptor limit so that only `free` more descriptors can be
// opened; the log file is opened first so that trace lines still get out.
void limitDescriptors(int free)
{
    PBB_log_TracePrint("descriptor limit test\r\n");
    // One call through the platform's backend first: the undefined-behaviour
    // sanitizer checks the backend's dynamic type at its first call, and that
    // check needs a free descriptor (it probes the memory through a pipe).
    (void)TC_DeregisterTC();
    int probe = dup(0);
    close(probe);
    struct rlimit rl {};
    getrlimit(RLIMIT_NOFILE, &rl);
    rl.rlim_cur = static_cast<rlim_t>(probe + free);
    setrlimit(RLIMIT_NOFILE, &rl);
}

constexpr const char* kOrderly = "calls: Timer_Finalize=1 closelog2=1 SERVICE_SetStatus=1 DBM_Close=3 channels closed=4";
constexpr const char* kAtOnce = "calls: Timer_Finalize=0 closelog2=0 SERVICE_SetStatus=1 DBM_Close=0 channels closed=0";

// A stop value queued before main runs: the loop takes it, and what the
// shutdown ran is printed when the process exits; main never returns.
bool g_stopQueued = false;
template <int kValue>
void stopWith()
{
    g_stopQueued = true;
    std::atexit(dumpCalls);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGRTMIN + 1);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    union sigval sv {};
    sv.sival_int = kValue;
    sigqueue(getpid(), SIGRTMIN + 1, sv);
}

struct MainEnd {
    const char* name;
    void (*arrange)();
    const char* left;
};

class MainEndDeathTest : public ::testing::TestWithParam<MainEnd> {};

TEST_P(MainEndDeathTest, ExitCodeTraceAndExitsRun)
{
    EXPECT_EXIT(
        {
            pbbtest::PlatformDirs dirs;
            plat::inproc::reset();
            plat::testing::setRecording(true);
            struct rlimit saved {};
            getrlimit(RLIMIT_NOFILE, &saved);
            GetParam().arrange();
            uint32_t code = PBB_main_Main();
            if (g_stopQueued) std::_Exit(99);
            setrlimit(RLIMIT_NOFILE, &saved);
            std::fprintf(stderr, "code=0x%x opened=%zu epoll=%d signal=%d\n", code,
                         plat::testing::countCalls("DBM_OpenCfgDB"), g_iPbbEpollFd, g_iPbbSignalFd);
            auto lines = pbbtest::grepLines(dirs.logFile(), {"PBB_TRACE"});
            std::fprintf(stderr, "trace lines=%zu\n", lines.size());
            for (auto& l : lines) std::fprintf(stderr, "%s\n", l.c_str());
            dumpCalls();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), GetParam().left);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, MainEndDeathTest,
    ::testing::Values(
        // Room for the epoll instance only: neither the signal descriptor nor
        // the tick can be made; both failures add into one code and one line.
        MainEnd{"EpollOnly", [] { limitDescriptors(1); },
                    "code=0x80020002 .*trace lines=2\n.*descriptor limit test\n.*PBB_TRACE info: PBB daemon init "
                    "failed, ErrCode=0x80020002\\.\ncalls: Timer_Finalize=1 closelog2=1 SERVICE_SetStatus=0 "
                    "DBM_Close=0"},
        MainEnd{"NoEpoll", [] { limitDescriptors(0); },
                    "code=0x40010001 .*trace lines=2\n.*ErrCode=0x40010001\\.\ncalls: Timer_Finalize=0 closelog2=1"},
        MainEnd{"NoTimer", [] { plat::testing::failCall("Timer_Initialize", 0); },
                    "code=0x40010001 opened=0 epoll=-1 signal=-1\ntrace lines=1\n.*ErrCode=0x40010001\\."},
        // The control blocks and the unicast table fail; the databases after
        // them still open and every exit runs.
        MainEnd{"NoPrivateData", [] { plat::testing::failCall("IF_CreatePDInstance", 0xFFFFFFFF, 0); },
                    "code=0x80020002 opened=1 .*trace lines=3\n.*Failed to create ifcb PdInstance\\.\n.*Failed to "
                    "create Unicast Pseudo Wire PdInstance\\.\n.*ErrCode=0x80020002\\.\ncalls: Timer_Finalize=1 "
                    "closelog2=1 SERVICE_SetStatus=0 DBM_Close=3"},
        // Stop values: readiness is reported (the one SERVICE_SetStatus)
        // before the loop takes the value; the orderly shutdown closes the
        // four event channels (interfaces, VLANs, spanning tree, L2VPN).
        MainEnd{"Stop0", stopWith<0>, kOrderly}, MainEnd{"Stop1", stopWith<1>, kOrderly},
        MainEnd{"Stop3", stopWith<3>, kOrderly}, MainEnd{"Stop2", stopWith<2>, kAtOnce},
        MainEnd{"Stop4", stopWith<4>, kAtOnce}, MainEnd{"StopMinus1", stopWith<-1>, kAtOnce}),
    [](const ::testing::TestParamInfo<MainEnd>& info) { return std::string(info.param.name); });

// A stop value and what is left after it.
struct StopValue {
    int value;
    const char* left;
};

std::string stopValueName(const ::testing::TestParamInfo<StopValue>& i)
{
    return i.param.value < 0 ? "ValueMinus" + std::to_string(-i.param.value) : "Value" + std::to_string(i.param.value);
}

// One learned entry, in the driver, the table and the run database, when the
// stop value arrives; what is left of it is printed when the process ends.
constexpr uint32_t kVsi = 3;
constexpr uint32_t kISid = 4096;
constexpr uint8_t kBMac[6] = {0x00, 0x00, 0x5E, 0x00, 0x53, 0x01};
const char* const kUcPwKey = "ucpw.3.17.100.eth-1/0/17";

bool inRunDb()
{
    return DBM_IsKeyExist(g_hPbbLocalRunDB, kUcPwKey, static_cast<uint32_t>(std::strlen(kUcPwKey)) + 1) != 0;
}

void printWhatIsLeft()
{
    // Withdrawal order: "gr" for a driver call, "db" for a database deletion.
    std::string order;
    for (const auto& c : plat::testing::calls()) {
        if (c.name == "L2VPN_SendGrEvent" || c.name == "L2VPN_DelMinMEntry") order += "gr ";
        if (c.name == "DBM_DeleteKey") order += "db ";
    }
    bool inDriver = plat::inproc::model().unicast(kVsi, {0x00, 0x00, 0x5E, 0x00, 0x53, 0x01}) != nullptr;
    // The orderly stop has closed the database: open it again to look.
    if (g_hPbbLocalRunDB == DBM_INVALID_HANDLE) (void)PBB_dbmrecover_Init();
    std::fprintf(stderr, "driver=%d database=%d order=%s.\n", inDriver, inRunDb(), order.c_str());
}

[[noreturn]] void stopWithLearnedEntry(int value)
{
    static pbbtest::PlatformDirs* dirs = new pbbtest::PlatformDirs;  // kept for the exit handler
    (void)dirs;
    auto& sw = plat::inproc::reset();
    sw.addSlot(1, {.minm = true});
    uint32_t port = sw.addPort("eth-1/0/17", 1, {.ifIndex = 17});
    sw.addVsi(kVsi, "vsi-a", kISid);
    g_iL2vpnEvtFd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 0, PBB_L2VPN_CLIENT,
                                   [](uint32_t, const L2VPN_VSI_INFO_S*) -> uint32_t { return 0; });
    if (g_iL2vpnEvtFd < 0 || PBB_ucpw_Init() != PBB_OK || PBB_dbmrecover_Init() != PBB_OK) std::_Exit(98);
    // As the learning path does it: driver, table, database.
    if (PBB_l2vpn_AddUcPw(kVsi, kISid, 100, port, kBMac, kBMac) != PBB_OK ||
        PBB_ucpw_Add(kVsi, kISid, 100, kBMac, port) != PBB_OK)
        std::_Exit(97);
    PBB_dbmsave_AddUcPw(kVsi, kISid, 100, kBMac, port);
    if (!inRunDb()) std::_Exit(96);

    plat::testing::setRecording(true);
    std::atexit(printWhatIsLeft);
    int p[2];
    if (pipe(p) != 0) std::_Exit(95);
    struct signalfd_siginfo info {};
    info.ssi_signo = static_cast<uint32_t>(SIGRTMIN + 1);
    info.ssi_int = value;
    if (write(p[1], &info, sizeof info) != static_cast<ssize_t>(sizeof info)) std::_Exit(94);
    (void)_pbb_main_SignalEpEvent(PBB_EV_IN, p[0]);
    std::_Exit(99);
}

class StopWithLearnedEntryDeathTest : public ::testing::TestWithParam<StopValue> {};

TEST_P(StopWithLearnedEntryDeathTest, OnlyTheClearingValueWithdrawsLearnedEntries)
{
    EXPECT_EXIT(stopWithLearnedEntry(GetParam().value), ::testing::ExitedWithCode(0), GetParam().left);
}
INSTANTIATE_TEST_SUITE_P(Values, StopWithLearnedEntryDeathTest,
                         ::testing::Values(StopValue{0, "driver=1 database=1 order=\\."},
                                           StopValue{1, "driver=1 database=1 order=\\."},
                                           StopValue{2, "driver=1 database=1 order=\\."},
                                           // The driver first, then the database.
                                           StopValue{3, "driver=0 database=0 order=gr gr db \\."}),
                         stopValueName);

TEST(StopSignal, ShortRecordIsIgnoredAndHangupForgetsTheDescriptor)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(write(p[1], "short", 5), 5);
    g_iPbbEpollFd = epoll_create(1);
    g_iPbbSignalFd = p[0];
    EXPECT_EQ(_pbb_main_SignalEpEvent(PBB_EV_IN, p[0]), 0u);
    EXPECT_EQ(g_iPbbSignalFd, p[0]);
    _pbb_main_SignalEpEvent(PBB_EV_HUP, p[0]);
    EXPECT_EQ(g_iPbbSignalFd, -1);
    EXPECT_EQ(fcntl(p[0], F_GETFD), -1);
    close(p[1]);
    close(g_iPbbEpollFd);
    g_iPbbEpollFd = -1;
}

}  // namespace
