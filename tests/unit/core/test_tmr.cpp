// Periodic timers over the tick descriptor.
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_tmr.h"
#include "platform/testing.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

int g_fired = 0;
uint32_t g_selfDeleting = PBB_TMR_INVALID;

void countFire(void* arg)
{
    ++g_fired;
    if (arg != nullptr) ++*static_cast<int*>(arg);
}

void deleteSelf(void*)
{
    ++g_fired;
    PBB_tmr_DeletePeriodTimer(&g_selfDeleting);
}

class Tmr : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::testing::reset();
        plat::testing::setRecording(true);
        g_iPbbEpollFd = epoll_create(1);
        PBB_elipc_InitFdList();
        g_fired = 0;
    }
    void TearDown() override
    {
        PBB_tmr_Exit();
        PBB_elipc_FiniFdList();
        close(g_iPbbEpollFd);
        g_iPbbEpollFd = -1;
        plat::testing::reset();
    }
    // A descriptor that reads like the tick after `expirations` seconds.
    static int tickFd(uint64_t expirations)
    {
        int fd = eventfd(0, EFD_NONBLOCK);
        (void)write(fd, &expirations, sizeof expirations);
        return fd;
    }
    pbbtest::PlatformDirs dirs_;
};

TEST_F(Tmr, BlockedLoopAnnouncesOneTickWhateverTheCount)
{
    ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
    int calls = 0;
    ASSERT_NE(PBB_tmr_CreatePeriodTimer(1, countFire, &calls), PBB_TMR_INVALID);
    int fd = tickFd(3);
    _pbb_tmr_ProcTimerFd(PBB_EV_IN, fd);
    EXPECT_EQ(plat::testing::countCalls("Timer_Tick_Announce"), 1u);
    EXPECT_EQ(calls, 1);
    // Nothing to read: no tick.
    _pbb_tmr_ProcTimerFd(PBB_EV_IN, fd);
    EXPECT_EQ(plat::testing::countCalls("Timer_Tick_Announce"), 1u);
    close(fd);
}

TEST_F(Tmr, TimerDeletedInsideItsOwnCallbackNeverFiresAgain)
{
    ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
    int other = 0;
    g_selfDeleting = PBB_tmr_CreatePeriodTimer(1, deleteSelf, nullptr);
    ASSERT_NE(g_selfDeleting, PBB_TMR_INVALID);
    uint32_t keep = PBB_tmr_CreatePeriodTimer(1, countFire, &other);
    for (int i = 0; i < 3; ++i) {
        int fd = tickFd(1);
        _pbb_tmr_ProcTimerFd(PBB_EV_IN, fd);
        close(fd);
    }
    EXPECT_EQ(g_selfDeleting, PBB_TMR_INVALID);
    EXPECT_EQ(other, 3) << "the other timer keeps firing";
    EXPECT_EQ(g_fired, 1 + 3);
    PBB_tmr_DeletePeriodTimer(&keep);
    EXPECT_EQ(keep, PBB_TMR_INVALID);
}

TEST_F(Tmr, TimersFireOnTheirPeriod)
{
    ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
    int every1 = 0, every3 = 0;
    PBB_tmr_CreatePeriodTimer(1, countFire, &every1);
    PBB_tmr_CreatePeriodTimer(3, countFire, &every3);
    for (int i = 0; i < 7; ++i) {
        int fd = tickFd(1);
        _pbb_tmr_ProcTimerFd(PBB_EV_IN, fd);
        close(fd);
    }
    EXPECT_EQ(every1, 7);
    EXPECT_EQ(every3, 2);
    auto creates = plat::testing::callsNamed("Timer_Create");
    ASSERT_EQ(creates.size(), 2u);
    EXPECT_NE(creates[1].args.find("3000"), std::string::npos) << "period in milliseconds: " << creates[1].args;
}

TEST_F(Tmr, DeletingNoTimerDoesNothing)
{
    ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
    uint32_t none = PBB_TMR_INVALID;
    PBB_tmr_DeletePeriodTimer(&none);
    EXPECT_EQ(plat::testing::countCalls("Timer_Delete"), 0u);
}

TEST_F(Tmr, ErrorOnTickDescriptorStopsEveryTimer)
{
    ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
    int calls = 0;
    PBB_tmr_CreatePeriodTimer(1, countFire, &calls);
    int tick = g_iTimerFd;
    _pbb_tmr_ProcTimerFd(PBB_EV_ERR, tick);
    EXPECT_EQ(g_iTimerFd, -1);
    EXPECT_EQ(fcntl(tick, F_GETFD), -1) << "tick descriptor closed";
    EXPECT_EQ(plat::testing::countCalls("Timer_Delete"), 0u) << "timers stay created";
    // The loop has nothing left that could announce a tick.
    EXPECT_EQ(_pbb_main_EpollOnce(g_iPbbEpollFd, 0), 0);
    EXPECT_EQ(calls, 0);
}

TEST_F(Tmr, InitFailuresReleaseWhatWasMade)
{
    plat::testing::failCall("Timer_Initialize", 0);
    EXPECT_EQ(PBB_tmr_Init(), PBB_ERR);
    EXPECT_EQ(g_hTimerInstance, 0u);
    EXPECT_EQ(g_iTimerFd, -1);

    // Registration refused (no epoll instance): the instance is finalised.
    int ep = g_iPbbEpollFd;
    g_iPbbEpollFd = -1;
    EXPECT_EQ(PBB_tmr_Init(), PBB_ERR);
    g_iPbbEpollFd = ep;
    EXPECT_EQ(plat::testing::countCalls("Timer_Finalize"), 1u);
    EXPECT_EQ(g_iTimerFd, -1);

    ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
    size_t inits = plat::testing::countCalls("Timer_Initialize");
    EXPECT_EQ(PBB_tmr_Init(), PBB_OK) << "a second init keeps the instance";
    EXPECT_EQ(plat::testing::countCalls("Timer_Initialize"), inits);
}

TEST_F(Tmr, FailedCreationWritesATraceLine)
{
    ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
    plat::testing::failCall("Timer_Create", PBB_TMR_INVALID);
    EXPECT_EQ(PBB_tmr_CreatePeriodTimer(5, countFire, nullptr), PBB_TMR_INVALID);
    auto lines = pbbtest::grepLines(dirs_.logFile(), {"PBB_TRACE", "Failed to create timer : Period = 5,"});
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(Tmr, ExitIsSafeWithoutInitAndTwice)
{
    PBB_tmr_Exit();
    PBB_tmr_Exit();
    EXPECT_EQ(plat::testing::countCalls("Timer_Finalize"), 0u);
    ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
    PBB_tmr_Exit();
    PBB_tmr_Exit();
    EXPECT_EQ(plat::testing::countCalls("Timer_Finalize"), 1u);
    EXPECT_EQ(g_hTimerInstance, 0u);
    EXPECT_EQ(g_iTimerFd, -1);
}

}  // namespace
