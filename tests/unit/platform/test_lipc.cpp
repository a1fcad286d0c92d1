#include "platform/lipc.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

LipcSockAddr address(uint16_t port)
{
    LipcSockAddr a{};
    a.ucLen = 16;
    a.ucFamily = PLAT_AF_LIPC;
    a.usPort = htons(port);
    a.aucNode[0] = 0x80;
    return a;
}

// A bound socket of the family, closed at the end of the scope.
struct Bound {
    Bound(int protocol, const LipcSockAddr& a, socklen_t len = sizeof(LipcSockAddr))
    {
        fd = LIPC_Socket(SOCK_STREAM, protocol);
        EXPECT_GE(fd, 0);
        rc = LIPC_Bind(fd, &a, len);
        err = errno;
        if (protocol == LIPC_PROTO_STREAM && rc == 0) listening = ::listen(fd, 5) == 0;
    }
    Bound(int protocol, uint16_t port) : Bound(protocol, address(port)) {}
    ~Bound() { ::close(fd); }
    int fd = -1, rc = -1, err = 0;
    bool listening = false;
};

// Connecting, accepting and report delivery are exercised by the loop's
// and the daemon's tests, the socket file's mode by the access system test;
// here stale and live socket files, and addresses refused.
TEST(Lipc, NobodyServingStaleAndLiveSocketFilesAndMalformedAddresses)
{
    pbbtest::TempRunDir dir;
    errno = 0;
    EXPECT_EQ(plat::lipcConnect(1169), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(plat::lipcSendReport(1125, "x", 1), -1);
    EXPECT_EQ(errno, ENOENT);
    {
        Bound gone(LIPC_PROTO_STREAM, 1169);
        Bound goneReports(LIPC_PROTO_REPORT, 1125);
        ASSERT_EQ(gone.rc + goneReports.rc, 0);
    }
    errno = 0;
    EXPECT_EQ(plat::lipcConnect(1169), -1) << "socket file left by a closed server";
    EXPECT_EQ(errno, ECONNREFUSED);

    // A stale file is replaced; a live socket is not taken over.
    Bound again(LIPC_PROTO_REPORT, 1125), server(LIPC_PROTO_STREAM, 1169);
    ASSERT_EQ(again.rc, 0) << std::strerror(again.err);
    ASSERT_TRUE(server.listening);
    ASSERT_EQ(plat::lipcSendReport(1125, "r", 1), 0);
    EXPECT_TRUE(pbbtest::waitReadable(again.fd));
    Bound rival(LIPC_PROTO_REPORT, 1125), rivalServer(LIPC_PROTO_STREAM, 1169);
    EXPECT_EQ(rival.rc, -1);
    EXPECT_EQ(rival.err, EADDRINUSE);
    EXPECT_EQ(rivalServer.err, EADDRINUSE);
    int client = plat::lipcConnect(1169);
    EXPECT_GE(client, 0) << "the first server still serves";
    ::close(client);

    // Malformed addresses bind nothing.
    LipcSockAddr wrongFamily = address(1170), hostOrderNode = address(1170);
    wrongFamily.ucFamily = AF_UNIX;
    hostOrderNode.aucNode[0] = 0;
    hostOrderNode.aucNode[3] = 0x80;
    struct Case {
        LipcSockAddr a;
        socklen_t len;
        int err;
    };
    for (const Case& c : {Case{address(1170), 15, EINVAL}, Case{wrongFamily, sizeof(LipcSockAddr), EINVAL},
                          Case{hostOrderNode, sizeof(LipcSockAddr), EADDRNOTAVAIL}}) {
        Bound b(LIPC_PROTO_STREAM, c.a, c.len);
        EXPECT_EQ(b.rc, -1);
        EXPECT_EQ(b.err, c.err);
    }
}

}  // namespace
