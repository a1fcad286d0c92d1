// The loop's descriptor registry and dispatch, the stream servers and the
// periodic timers over the tick descriptor.
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_list.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_main.h"
#include "daemon/pbb_tmr.h"
#include "platform/lipc.h"
#include "platform/testing.h"
#include "support/daemon_loop.h"
#include "support/logread.h"
#include "support/tempdir.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace {

std::map<int, int> g_served;
std::vector<int> g_accepted;
uint32_t g_selfDeleting = PBB_TMR_INVALID;

uint32_t countAndDrain(uint32_t events, int fd)
{
    uint64_t v;
    if (events & PBB_EV_IN) (void)read(fd, &v, sizeof v);
    ++g_served[fd];
    return 0;
}

uint32_t connCallback(uint32_t, int) { return 0; }

uint32_t acceptCallback(uint32_t events, int fd)
{
    int c = PBB_elipc_ServerAccept(events, g_iPbbEpollFd, fd, connCallback);
    if (c >= 0) g_accepted.push_back(c);
    return 0;
}

void countFire(void* arg) { ++*static_cast<int*>(arg); }

void deleteSelf(void* arg)
{
    countFire(arg);
    PBB_tmr_DeletePeriodTimer(&g_selfDeleting);
}

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

size_t openDescriptors()
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// A descriptor that reads like the tick after `expirations` seconds.
int tickFd(uint64_t expirations)
{
    int fd = eventfd(0, EFD_NONBLOCK);
    (void)write(fd, &expirations, sizeof expirations);
    return fd;
}

void tick(uint64_t expirations)
{
    int fd = tickFd(expirations);
    _pbb_tmr_ProcTimerFd(PBB_EV_IN, fd);
    close(fd);
}

size_t listed() { return pbb::list::count(&g_stPbbElipcFdList); }

class Loop : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::testing::setRecording(true);
        ASSERT_TRUE(pbbtest::openDaemonLoop());
        ep_ = g_iPbbEpollFd;
    }
    void TearDown() override
    {
        PBB_tmr_Exit();
        pbbtest::closeDaemonLoop();
        plat::testing::reset();
    }
    pbbtest::PlatformDirs dirs_;
    int ep_ = -1;
};

TEST_F(Loop, MoreReadyDescriptorsThanOneWaitTakesAreAllServedOnce)
{
    std::vector<int> fds;
    for (int i = 0; i < 40; ++i) {
        int fd = eventfd(0, EFD_NONBLOCK);
        ASSERT_EQ(PBB_elipc_Add(ep_, fd, countAndDrain), 0);
        uint64_t one = 1;
        ASSERT_EQ(write(fd, &one, sizeof one), 8);
        fds.push_back(fd);
    }
    EXPECT_EQ(pbbtest::serveReady(), 40);
    for (int fd : fds) {
        EXPECT_EQ(g_served[fd], 1) << "fd " << fd;
        EXPECT_EQ(PBB_elipc_Close(ep_, fd), 0);
    }
    // A slot that holds no callback is ignored.
    EXPECT_EQ(PBB_elipc_Dispatch(0xFFFF'0000'0000'0005ull, PBB_EV_IN), 0u);
}

TEST_F(Loop, ServerAcceptsAndClosesItsConnectionsWithItself)
{
    // Refused at the socket, at the bind, at the registration (no epoll
    // instance): no descriptor stays open, nothing is recorded.
    const size_t before = openDescriptors();
    plat::testing::failCall("LIPC_Socket", -1);
    EXPECT_LT(PBB_elipc_Server(1169, ep_, acceptCallback), 0);
    plat::testing::failCall("LIPC_Bind", -1);
    EXPECT_LT(PBB_elipc_Server(1169, ep_, acceptCallback), 0);
    EXPECT_LT(PBB_elipc_Server(1169, -1, acceptCallback), 0);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(pbb::list::empty(&g_stPbbElipcFdList));

    // The port is taken from its low 16 bits.
    int srv = PBB_elipc_Server(0x10000u + 1169u, ep_, acceptCallback);
    ASSERT_GE(srv, 0);
    std::vector<int> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(plat::lipcConnect(1169));
        ASSERT_GE(clients.back(), 0) << strerror(errno);
    }
    // A connection whose registration fails is taken and closed again.
    const size_t withClients = openDescriptors();
    EXPECT_LT(PBB_elipc_ServerAccept(PBB_EV_IN, -1, srv, connCallback), 0);
    EXPECT_EQ(openDescriptors(), withClients);
    for (int i = 0; i < 200 && g_accepted.size() < 3; ++i) _pbb_main_EpollOnce(ep_, 50);
    ASSERT_EQ(g_accepted.size(), 3u);
    EXPECT_EQ(listed(), 4u);
    EXPECT_LT(PBB_elipc_ServerAccept(PBB_EV_IN, ep_, srv, connCallback), 0) << "nothing pending";

    // Closing the server closes its connections too (one connection alone
    // is checked by the management server's tests).
    EXPECT_EQ(PBB_elipc_Close(ep_, srv), 0);
    EXPECT_TRUE(pbb::list::empty(&g_stPbbElipcFdList));
    EXPECT_FALSE(isOpen(srv) || isOpen(g_accepted[0]) || isOpen(g_accepted[2]));
    for (int c : clients) close(c);
}

TEST_F(Loop, TimersFireOnTheirPeriodOncePerTickRead)
{
    ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
    int every1 = 0, every3 = 0, self = 0;
    uint32_t keep = PBB_tmr_CreatePeriodTimer(1, countFire, &every1);
    PBB_tmr_CreatePeriodTimer(3, countFire, &every3);
    g_selfDeleting = PBB_tmr_CreatePeriodTimer(1, deleteSelf, &self);
    // A blocked loop announces one tick whatever the count; nothing to
    // read, no tick.
    int fd = tickFd(3);
    _pbb_tmr_ProcTimerFd(PBB_EV_IN, fd);
    _pbb_tmr_ProcTimerFd(PBB_EV_IN, fd);
    close(fd);
    EXPECT_EQ(plat::testing::countCalls("Timer_Tick_Announce"), 1u);
    for (int i = 0; i < 6; ++i) tick(1);
    EXPECT_EQ(every1, 7);
    EXPECT_EQ(every3, 2);
    // Deleted inside its own callback: it never fires again.
    EXPECT_EQ(self, 1);
    EXPECT_EQ(g_selfDeleting, PBB_TMR_INVALID);

    // A deleted timer's handle is reset: a second deletion makes no call.
    PBB_tmr_DeletePeriodTimer(&keep);
    PBB_tmr_DeletePeriodTimer(&keep);
    EXPECT_EQ(plat::testing::countCalls("Timer_Delete"), 2u) << "the self-deleted one and keep, once";

    // An error on the tick descriptor stops every timer; they stay created.
    int tickDesc = g_iTimerFd;
    _pbb_tmr_ProcTimerFd(PBB_EV_ERR, tickDesc);
    EXPECT_EQ(g_iTimerFd, -1);
    EXPECT_FALSE(isOpen(tickDesc));
    EXPECT_EQ(_pbb_main_EpollOnce(g_iPbbEpollFd, 0), 0) << "nothing left that could announce a tick";
    EXPECT_EQ(plat::testing::countCalls("Timer_Delete"), 2u);
}

TEST_F(Loop, TimerFailuresReleaseWhatWasMadeAndExitRunsOnce)
{
    // Registration refused (no epoll instance): the instance is finalised.
    // A failed instance or tick at start-up are the start-up tests' cases.
    g_iPbbEpollFd = -1;
    EXPECT_EQ(PBB_tmr_Init(), PBB_ERR);
    g_iPbbEpollFd = ep_;
    EXPECT_EQ(plat::testing::countCalls("Timer_Finalize"), 1u);
    ASSERT_EQ(PBB_tmr_Init(), PBB_OK);
    EXPECT_EQ(PBB_tmr_Init(), PBB_OK);
    EXPECT_EQ(plat::testing::countCalls("Timer_Initialize"), 2u) << "a second init keeps the instance";
    plat::testing::failCall("Timer_Create", PBB_TMR_INVALID);
    EXPECT_EQ(PBB_tmr_CreatePeriodTimer(5, countFire, nullptr), PBB_TMR_INVALID);
    EXPECT_EQ(pbbtest::grepLines(dirs_.logFile(), {"PBB_TRACE", "Failed to create timer : Period = 5,"}).size(), 1u);
    PBB_tmr_Exit();
    PBB_tmr_Exit();
    EXPECT_EQ(plat::testing::countCalls("Timer_Finalize"), 2u) << "the second exit finds no instance";
    EXPECT_EQ(g_iTimerFd, -1);
}

}  // namespace
