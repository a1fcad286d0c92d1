// Start-up, stop values and shutdown of the whole process. Each case runs
// the daemon's main in a child process (a death test), since the stop
// signal ends the process.
#include "daemon/pbb_dbmrecover.h"
#include "daemon/pbb_dbmsave.h"
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_tmr.h"
#include "daemon/pbb_ucpw.h"
#include "platform/dbm.h"
#include "platform/model/inproc.h"
#include "platform/service.h"
#include "platform/testing.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/epoll.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// Printed to stderr when the child ends, for the parent's pattern: the
// first and last module exits leave these platform calls behind.
void dumpCalls()
{
    std::fprintf(stderr, "calls: Timer_Finalize=%zu closelog2=%zu SERVICE_SetStatus=%zu DBM_Close=%zu\n",
                 plat::testing::countCalls("Timer_Finalize"), plat::testing::countCalls("closelog2"),
                 plat::testing::countCalls("SERVICE_SetStatus"), plat::testing::countCalls("DBM_Close"));
}

void printTraceLines(const std::string& logFile)
{
    auto lines = pbbtest::grepLines(logFile, {"PBB_TRACE"});
    std::fprintf(stderr, "trace lines=%zu\n", lines.size());
    for (auto& l : lines) std::fprintf(stderr, "%s\n", l.c_str());
}

rlimit g_savedLimit{};

// Lowers the descriptor limit so that only `free` more descriptors can be
// opened; the log file is opened first so that trace lines still get out.
// restoreDescriptors() puts the limit back for the checks that follow.
void limitDescriptors(int free)
{
    getrlimit(RLIMIT_NOFILE, &g_savedLimit);
    PBB_log_TracePrint("descriptor limit test\r\n");
    int probe = dup(0);
    close(probe);
    struct rlimit rl {};
    getrlimit(RLIMIT_NOFILE, &rl);
    rl.rlim_cur = static_cast<rlim_t>(probe + free);
    setrlimit(RLIMIT_NOFILE, &rl);
}

void restoreDescriptors()
{
    setrlimit(RLIMIT_NOFILE, &g_savedLimit);
}

// Runs main with a stop value already queued; main never returns.
[[noreturn]] void runWithStopValue(int value)
{
    pbbtest::PlatformDirs dirs;
    plat::inproc::reset();
    plat::testing::setRecording(true);
    std::atexit(dumpCalls);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGRTMIN + 1);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    union sigval sv {};
    sv.sival_int = value;
    sigqueue(getpid(), SIGRTMIN + 1, sv);
    PBB_main_Main();
    std::fprintf(stderr, "main returned\n");
    std::_Exit(99);
}

using StartupDeathTest = ::testing::Test;

TEST(StartupDeathTest, TwoFailuresAreAddedIntoTheExitCodeAndOneTraceLine)
{
    EXPECT_EXIT(
        {
            pbbtest::PlatformDirs dirs;
            plat::testing::setRecording(true);
            // Room for the epoll instance only: neither the signal descriptor nor
            // the tick can be made (the timer instance is released again).
            limitDescriptors(1);
            uint32_t code = PBB_main_Main();
            restoreDescriptors();
            std::fprintf(stderr, "code=0x%x\n", code);
            printTraceLines(dirs.logFile());
            dumpCalls();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0),
        "code=0x80020002\ntrace lines=2\n.*descriptor limit test\n.*PBB_TRACE info: PBB daemon init failed, "
        "ErrCode=0x80020002\\.\ncalls: Timer_Finalize=1 closelog2=1 SERVICE_SetStatus=0 DBM_Close=0");
}

TEST(StartupDeathTest, TwoFailingModulesDoNotStopTheOthersAndAllExitsRun)
{
    EXPECT_EXIT(
        {
            pbbtest::PlatformDirs dirs;
            plat::inproc::reset();
            plat::testing::setRecording(true);
            // No private-data instance: the control blocks and the unicast
            // table both fail; the databases after them still open.
            plat::testing::failCall("IF_CreatePDInstance", 0xFFFFFFFF, 0);
            uint32_t code = PBB_main_Main();
            std::fprintf(stderr, "code=0x%x opened=%zu\n", code, plat::testing::countCalls("DBM_OpenCfgDB"));
            printTraceLines(dirs.logFile());
            dumpCalls();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0),
        "code=0x80020002 opened=1\ntrace lines=3\n.*Failed to create ifcb PdInstance\\.\n.*"
        "Failed to create Unicast Pseudo Wire PdInstance\\.\n.*ErrCode=0x80020002\\.\n"
        "calls: Timer_Finalize=1 closelog2=1 SERVICE_SetStatus=0 DBM_Close=3");
}

TEST(StartupDeathTest, OneFailingPlatformCallFailsStartup)
{
    EXPECT_EXIT(
        {
            pbbtest::PlatformDirs dirs;
            plat::testing::setRecording(true);
            plat::testing::failCall("Timer_Initialize", 0);
            uint32_t code = PBB_main_Main();
            std::fprintf(stderr, "code=0x%x epoll=%d signal=%d\n", code, g_iPbbEpollFd, g_iPbbSignalFd);
            printTraceLines(dirs.logFile());
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0),
        "code=0x40010001 epoll=-1 signal=-1\ntrace lines=1\n.*ErrCode=0x40010001\\.");
}

TEST(StartupDeathTest, NoEpollInstanceStillRunsEveryExit)
{
    EXPECT_EXIT(
        {
            pbbtest::PlatformDirs dirs;
            plat::testing::setRecording(true);
            limitDescriptors(0);
            uint32_t code = PBB_main_Main();
            restoreDescriptors();
            std::fprintf(stderr, "code=0x%x\n", code);
            printTraceLines(dirs.logFile());
            dumpCalls();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0),
        "code=0x40010001\ntrace lines=2\n.*ErrCode=0x40010001\\.\ncalls: Timer_Finalize=0 closelog2=1");
}

class StopValueDeathTest : public ::testing::TestWithParam<int> {};

TEST_P(StopValueDeathTest, OrderlyStopRunsTheShutdown)
{
    EXPECT_EXIT(runWithStopValue(GetParam()), ::testing::ExitedWithCode(0),
                "calls: Timer_Finalize=1 closelog2=1 SERVICE_SetStatus=1 DBM_Close=3");
}
INSTANTIATE_TEST_SUITE_P(OrderlyValues, StopValueDeathTest, ::testing::Values(0, 1, 3));

// One learned entry, in the driver, the table and the run database, when the
// stop value arrives; what is left of it is printed when the process ends.
constexpr uint32_t kVsi = 3;
constexpr uint32_t kISid = 4096;
constexpr uint16_t kBVlan = 100;
constexpr uint8_t kBMac[6] = {0x00, 0x00, 0x5E, 0x00, 0x53, 0x01};
const char* const kUcPwKey = "ucpw.3.17.100.eth-1/0/17";

uint32_t ignoreVsiEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

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
    bool inDb = DBM_IsKeyExist(g_hPbbLocalRunDB, kUcPwKey, static_cast<uint32_t>(std::strlen(kUcPwKey)) + 1) != 0;
    std::fprintf(stderr, "driver=%d database=%d order=%s.\n", inDriver, inDb, order.c_str());
}

[[noreturn]] void stopWithLearnedEntry(int value)
{
    // Kept for the exit handler; the directories go with the child.
    static pbbtest::PlatformDirs* dirs = new pbbtest::PlatformDirs;
    (void)dirs;
    auto& sw = plat::inproc::reset();
    sw.addSlot(1, {.minm = true});
    uint32_t port = sw.addPort("eth-1/0/17", 1, {.ifIndex = 17});
    sw.addVsi(kVsi, "vsi-a", kISid);
    g_iL2vpnEvtFd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 0, PBB_L2VPN_CLIENT, ignoreVsiEvent);
    if (g_iL2vpnEvtFd < 0 || PBB_ucpw_Init() != PBB_OK || PBB_dbmrecover_Init() != PBB_OK) std::_Exit(98);
    // As the learning path does it: driver, table, database.
    if (PBB_l2vpn_AddUcPw(kVsi, kISid, kBVlan, port, kBMac, kBMac) != PBB_OK ||
        PBB_ucpw_Add(kVsi, kISid, kBVlan, kBMac, port) != PBB_OK)
        std::_Exit(97);
    PBB_dbmsave_AddUcPw(kVsi, kISid, kBVlan, kBMac, port);
    if (DBM_IsKeyExist(g_hPbbLocalRunDB, kUcPwKey, static_cast<uint32_t>(std::strlen(kUcPwKey)) + 1) == 0)
        std::_Exit(96);

    plat::testing::setRecording(true);
    std::atexit(printWhatIsLeft);
    int p[2];
    if (pipe(p) != 0) std::_Exit(95);
    struct signalfd_siginfo info {};
    info.ssi_signo = static_cast<uint32_t>(SIGRTMIN + 1);
    info.ssi_int = value;
    if (write(p[1], &info, sizeof info) != static_cast<ssize_t>(sizeof info)) std::_Exit(94);
    (void)_pbb_main_SignalEpEvent(PBB_EV_IN, p[0]);
    std::fprintf(stderr, "handler returned\n");
    std::_Exit(99);
}

struct StopEffect {
    int value;
    const char* left;
};

class StopWithLearnedEntryDeathTest : public ::testing::TestWithParam<StopEffect> {};

TEST_P(StopWithLearnedEntryDeathTest, OnlyTheClearingValueWithdrawsLearnedEntries)
{
    EXPECT_EXIT(stopWithLearnedEntry(GetParam().value), ::testing::ExitedWithCode(0), GetParam().left);
}
INSTANTIATE_TEST_SUITE_P(
    Values, StopWithLearnedEntryDeathTest,
    ::testing::Values(StopEffect{0, "driver=1 database=1 order=\\."},
                      StopEffect{1, "driver=1 database=1 order=\\."},
                      StopEffect{2, "driver=1 database=1 order=\\."},
                      // The driver first, then the database.
                      StopEffect{3, "driver=0 database=0 order=gr gr db \\."}),
    [](const ::testing::TestParamInfo<StopEffect>& info) { return "Value" + std::to_string(info.param.value); });

class ImmediateStopDeathTest : public ::testing::TestWithParam<int> {};

TEST_P(ImmediateStopDeathTest, OtherValuesExitWithoutShutdown)
{
    EXPECT_EXIT(runWithStopValue(GetParam()), ::testing::ExitedWithCode(0),
                "calls: Timer_Finalize=0 closelog2=0 SERVICE_SetStatus=1 DBM_Close=0");
}
INSTANTIATE_TEST_SUITE_P(OtherValues, ImmediateStopDeathTest, ::testing::Values(2, 4, -1));

TEST(StartupDeathTest, ReadinessIsWrittenBeforeTheLoop)
{
    EXPECT_EXIT(
        {
            pbbtest::PlatformDirs dirs;
            plat::inproc::reset();
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, SIGRTMIN + 1);
            sigprocmask(SIG_BLOCK, &set, nullptr);
            union sigval sv {};
            sv.sival_int = 0;
            sigqueue(getpid(), SIGRTMIN + 1, sv);
            std::atexit([] {
                std::ifstream in(plat::serviceStatusFile());
                std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                std::string want = "READY=1\nMAINPID=" + std::to_string(getpid()) + "\n";
                std::fprintf(stderr, "status file %s\n", all == want ? "names this process" : all.c_str());
            });
            PBB_main_Main();
            std::_Exit(99);
        },
        ::testing::ExitedWithCode(0), "status file names this process");
}

TEST(Shutdown, EveryExitIsSafeWithoutInitAndTwice)
{
    plat::testing::setRecording(true);
    for (int i = 0; i < 2; ++i) {
        PBB_tmr_Exit();
        PBB_log_Exit();
        PBB_elipc_FiniFdList();
        _pbb_main_DeregSignal();
        _pbb_main_Exit();
    }
    EXPECT_EQ(plat::testing::countCalls("Timer_Finalize"), 0u);
    EXPECT_EQ(g_iPbbEpollFd, -1);
    EXPECT_EQ(g_iPbbSignalFd, -1);
    plat::testing::reset();
}

TEST(StopSignal, ShortRecordAndHangupAreHandled)
{
    g_iPbbEpollFd = epoll_create(1);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(write(p[1], "short", 5), 5);
    g_iPbbSignalFd = p[0];
    // A short read is ignored: the process goes on.
    EXPECT_EQ(_pbb_main_SignalEpEvent(PBB_EV_IN, p[0]), 0u);
    EXPECT_EQ(g_iPbbSignalFd, p[0]);
    // Hang-up closes and forgets the descriptor.
    _pbb_main_SignalEpEvent(PBB_EV_HUP, p[0]);
    EXPECT_EQ(g_iPbbSignalFd, -1);
    EXPECT_EQ(fcntl(p[0], F_GETFD), -1);
    close(p[1]);
    close(g_iPbbEpollFd);
    g_iPbbEpollFd = -1;
}

}  // namespace
