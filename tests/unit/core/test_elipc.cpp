// Descriptor registry, the loop's dispatch and the stream servers.
#include "daemon/pbb_elipc.h"
#include "daemon/pbb_list.h"
#include "daemon/pbb_main.h"
#include "platform/lipc.h"
#include "platform/testing.h"
#include "support/tempdir.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace {

std::map<int, int> g_served;
std::vector<int> g_accepted;
int g_listenEp = -1;

uint32_t countAndDrain(uint32_t events, int fd)
{
    if (events & PBB_EV_IN) {
        uint64_t v;
        (void)read(fd, &v, sizeof v);
    }
    ++g_served[fd];
    return 0;
}

uint32_t connCallback(uint32_t, int) { return 0; }

uint32_t acceptCallback(uint32_t events, int fd)
{
    int c = PBB_elipc_ServerAccept(events, g_listenEp, fd, connCallback);
    if (c >= 0) g_accepted.push_back(c);
    return 0;
}

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

size_t openDescriptors()
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// epoll_ctl MOD succeeds only for a registered descriptor.
bool isRegistered(int ep, int fd)
{
    struct epoll_event ev {};
    ev.events = EPOLLIN;
    return epoll_ctl(ep, EPOLL_CTL_MOD, fd, &ev) == 0;
}

class Elipc : public ::testing::Test {
protected:
    void SetUp() override
    {
        ep_ = epoll_create(1);
        ASSERT_GE(ep_, 0);
        g_listenEp = ep_;
        PBB_elipc_InitFdList();
        g_served.clear();
        g_accepted.clear();
    }
    void TearDown() override
    {
        PBB_elipc_FiniFdList();
        close(ep_);
    }
    void pumpUntil(size_t accepted)
    {
        for (int i = 0; i < 200 && g_accepted.size() < accepted; ++i) _pbb_main_EpollOnce(ep_, 50);
    }
    pbbtest::PlatformDirs dirs_;
    int ep_ = -1;
};

TEST_F(Elipc, MoreReadyDescriptorsThanOneWaitTakesAreAllServedOnce)
{
    std::vector<int> fds;
    for (int i = 0; i < 40; ++i) {
        int fd = eventfd(0, EFD_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(PBB_elipc_Add(ep_, fd, countAndDrain), 0);
        uint64_t one = 1;
        ASSERT_EQ(write(fd, &one, sizeof one), 8);
        fds.push_back(fd);
    }
    int waits = 0, served = 0;
    for (int n; (n = _pbb_main_EpollOnce(ep_, 0)) > 0; ++waits) {
        EXPECT_LE(n, PBB_MAIN_MAX_EVENTS);
        served += n;
    }
    EXPECT_EQ(served, 40);
    EXPECT_GE(waits, 3);
    for (int fd : fds) {
        EXPECT_EQ(g_served[fd], 1) << "fd " << fd;
        EXPECT_EQ(PBB_elipc_Del(ep_, fd), 0);
        close(fd);
    }
}

TEST_F(Elipc, UserDataCarriesDescriptorAndCallback)
{
    uint64_t data = _pbb_elipc_PackUserData(77, countAndDrain);
    EXPECT_EQ(static_cast<int>(data & 0xFFFFFFFFu), 77);
    PBB_elipc_Dispatch(data, PBB_EV_HUP);
    EXPECT_EQ(g_served[77], 1);
    // A slot that holds no callback is ignored.
    EXPECT_EQ(PBB_elipc_Dispatch(0xFFFF'0000'0000'0005ull, PBB_EV_IN), 0u);
}

TEST_F(Elipc, ClosingConnectionsAndServer)
{
    int srv = PBB_elipc_Server(1169, ep_, acceptCallback);
    ASSERT_GE(srv, 0);
    std::vector<int> clients;
    for (int i = 0; i < 3; ++i) {
        int c = plat::lipcConnect(1169);
        ASSERT_GE(c, 0) << strerror(errno);
        clients.push_back(c);
    }
    pumpUntil(3);
    ASSERT_EQ(g_accepted.size(), 3u);
    EXPECT_EQ(pbb::list::count(&g_stPbbElipcFdList), 4u);

    // One connection: only its own node goes.
    int first = g_accepted[0];
    EXPECT_EQ(PBB_elipc_Close(ep_, first), 0);
    EXPECT_EQ(pbb::list::count(&g_stPbbElipcFdList), 3u);
    EXPECT_TRUE(isRegistered(ep_, srv));
    EXPECT_TRUE(isRegistered(ep_, g_accepted[1]));
    EXPECT_TRUE(isRegistered(ep_, g_accepted[2]));
    char b;
    EXPECT_EQ(read(clients[0], &b, 1), 0) << "client sees end of data";

    // The server: its remaining connections and then itself.
    EXPECT_EQ(PBB_elipc_Close(ep_, srv), 0);
    EXPECT_TRUE(pbb::list::empty(&g_stPbbElipcFdList));
    EXPECT_FALSE(isOpen(srv));
    EXPECT_FALSE(isOpen(g_accepted[1]));
    EXPECT_FALSE(isOpen(g_accepted[2]));
    for (int c : clients) close(c);
}

TEST_F(Elipc, AcceptWithNothingPendingChangesNothing)
{
    int srv = PBB_elipc_Server(1169, ep_, acceptCallback);
    ASSERT_GE(srv, 0);
    EXPECT_LT(PBB_elipc_ServerAccept(PBB_EV_IN, ep_, srv, connCallback), 0);
    EXPECT_EQ(pbb::list::count(&g_stPbbElipcFdList), 1u);
    PBB_elipc_Close(ep_, srv);
}

TEST_F(Elipc, PortUsesItsLow16Bits)
{
    int srv = PBB_elipc_Server(0x10000u + 1169u, ep_, acceptCallback);
    ASSERT_GE(srv, 0);
    int c = plat::lipcConnect(1169);
    EXPECT_GE(c, 0) << "server answers at port 1169";
    if (c >= 0) close(c);
    PBB_elipc_Close(ep_, srv);
}

TEST_F(Elipc, FailedServerOrAcceptClosesItsSocket)
{
    const size_t before = openDescriptors();
    // Refused at the socket, at the bind, at the registration (no epoll
    // instance): no descriptor stays open, nothing is recorded.
    plat::testing::failCall("LIPC_Socket", -1);
    EXPECT_LT(PBB_elipc_Server(1169, ep_, acceptCallback), 0);
    plat::testing::failCall("LIPC_Bind", -1);
    EXPECT_LT(PBB_elipc_Server(1169, ep_, acceptCallback), 0);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_LT(PBB_elipc_Server(1169, -1, acceptCallback), 0);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(pbb::list::empty(&g_stPbbElipcFdList));

    // A connection whose registration fails is taken and closed again.
    int srv = PBB_elipc_Server(1169, ep_, acceptCallback);
    ASSERT_GE(srv, 0);
    int client = plat::lipcConnect(1169);
    ASSERT_GE(client, 0) << strerror(errno);
    const size_t withClient = openDescriptors();
    EXPECT_LT(PBB_elipc_ServerAccept(PBB_EV_IN, -1, srv, connCallback), 0);
    EXPECT_EQ(openDescriptors(), withClient);
    EXPECT_EQ(pbb::list::count(&g_stPbbElipcFdList), 1u);
    EXPECT_LT(PBB_elipc_ServerAccept(PBB_EV_IN, ep_, srv, connCallback), 0) << "nothing left pending";
    close(client);
    PBB_elipc_Close(ep_, srv);
}

TEST_F(Elipc, ClosingAnUnrecordedDescriptorStillClosesIt)
{
    int fd = eventfd(0, 0);
    ASSERT_EQ(PBB_elipc_Add(ep_, fd, countAndDrain), 0);
    EXPECT_EQ(PBB_elipc_Close(ep_, fd), 0);
    EXPECT_FALSE(isOpen(fd));
}

}  // namespace
