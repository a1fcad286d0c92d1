#include "platform/lipc.h"
#include "platform/settings.h"
#include "platform/testing.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
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
    Bound(int protocol, uint16_t port)
    {
        fd = LIPC_Socket(SOCK_STREAM, protocol);
        EXPECT_GE(fd, 0);
        LipcSockAddr a = address(port);
        rc = LIPC_Bind(fd, &a, sizeof a);
        err = errno;
    }
    ~Bound() { ::close(fd); }
    int fd = -1;
    int rc = -1;
    int err = 0;
};

int socketType(int fd)
{
    int type = 0;
    socklen_t len = sizeof type;
    ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len);
    return type;
}

TEST(Lipc, StreamServerAcceptsAClientAndCarriesBytes)
{
    pbbtest::TempRunDir dir;
    Bound server(LIPC_PROTO_STREAM, 1169);
    ASSERT_EQ(server.rc, 0) << std::strerror(server.err);
    EXPECT_EQ(socketType(server.fd), SOCK_STREAM);
    ASSERT_EQ(::listen(server.fd, 5), 0);

    struct stat st {};
    ASSERT_EQ(::stat(plat::lipcPath(1169).c_str(), &st), 0);
    EXPECT_EQ(plat::lipcPath(1169), dir.file("lipc.1169"));
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);

    int client = plat::lipcConnect(1169);
    ASSERT_GE(client, 0) << std::strerror(errno);
    ASSERT_TRUE(pbbtest::waitReadable(server.fd));
    int conn = ::accept(server.fd, nullptr, nullptr);
    ASSERT_GE(conn, 0);
    ASSERT_EQ(::write(client, "ping", 4), 4);
    ASSERT_TRUE(pbbtest::waitReadable(conn));
    char buf[8];
    EXPECT_EQ(::read(conn, buf, sizeof buf), 4);
    ::close(conn);
    ::close(client);
}

TEST(Lipc, ReportSocketReceivesEachReportAsOneReceive)
{
    pbbtest::TempRunDir dir;
    Bound reports(LIPC_PROTO_REPORT, 1125);
    ASSERT_EQ(reports.rc, 0) << std::strerror(reports.err);
    EXPECT_EQ(socketType(reports.fd), SOCK_DGRAM);
    EXPECT_NE(::listen(reports.fd, 5), 0) << "never listens";

    const std::string first(40, 'a'), second(3000, 'b');
    ASSERT_EQ(plat::lipcSendReport(1125, first.data(), first.size()), 0);
    ASSERT_EQ(plat::lipcSendReport(1125, second.data(), second.size()), 0);
    char buf[4096];
    for (const std::string* want : {&first, &second}) {
        ASSERT_TRUE(pbbtest::waitReadable(reports.fd));
        ssize_t n = ::recv(reports.fd, buf, sizeof buf, 0);
        ASSERT_EQ(n, static_cast<ssize_t>(want->size()));
        EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), *want);
    }
}

TEST(Lipc, BindCreatesAMissingRunDirectory)
{
    pbbtest::TempRunDir dir;
    plat::setRunDir(dir.file("deep/er/run"));
    Bound server(LIPC_PROTO_STREAM, 1169);
    ASSERT_EQ(server.rc, 0) << std::strerror(server.err);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("deep/er/run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0002, 0u) << "not world-writable";
    EXPECT_EQ(::access(dir.file("deep/er/run/lipc.1169").c_str(), F_OK), 0);
}

TEST(Lipc, ConnectWithNobodyServingFailsClearly)
{
    pbbtest::TempRunDir dir;
    errno = 0;
    EXPECT_EQ(plat::lipcConnect(1169), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(plat::lipcSendReport(1125, "x", 1), -1);
    EXPECT_EQ(errno, ENOENT);
    {
        Bound gone(LIPC_PROTO_STREAM, 1169);
        ASSERT_EQ(gone.rc, 0);
    }
    errno = 0;
    EXPECT_EQ(plat::lipcConnect(1169), -1) << "socket file left by a closed server";
    EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(Lipc, StaleSocketFileIsReplacedALiveOneIsNot)
{
    pbbtest::TempRunDir dir;
    {
        Bound first(LIPC_PROTO_REPORT, 1125);
        ASSERT_EQ(first.rc, 0);
    }
    Bound again(LIPC_PROTO_REPORT, 1125);  // reopened after a close
    ASSERT_EQ(again.rc, 0) << std::strerror(again.err);
    ASSERT_EQ(plat::lipcSendReport(1125, "r", 1), 0);
    EXPECT_TRUE(pbbtest::waitReadable(again.fd));

    Bound rival(LIPC_PROTO_REPORT, 1125);
    EXPECT_EQ(rival.rc, -1);
    EXPECT_EQ(rival.err, EADDRINUSE);
    Bound server(LIPC_PROTO_STREAM, 1169);
    ASSERT_EQ(::listen(server.fd, 5), 0);
    Bound rivalServer(LIPC_PROTO_STREAM, 1169);
    EXPECT_EQ(rivalServer.err, EADDRINUSE);
    int client = plat::lipcConnect(1169);
    EXPECT_GE(client, 0) << "the first server still serves";
    ::close(client);
}

TEST(Lipc, MalformedAddressesAreRefused)
{
    pbbtest::TempRunDir dir;
    int fd = LIPC_Socket(SOCK_STREAM, LIPC_PROTO_STREAM);
    ASSERT_GE(fd, 0);
    LipcSockAddr a = address(1169);
    EXPECT_EQ(LIPC_Bind(fd, &a, 15), -1);
    EXPECT_EQ(errno, EINVAL);
    LipcSockAddr wrongFamily = a;
    wrongFamily.ucFamily = AF_UNIX;
    EXPECT_EQ(LIPC_Bind(fd, &wrongFamily, sizeof a), -1);
    EXPECT_EQ(errno, EINVAL);
    LipcSockAddr hostOrderNode = a;
    hostOrderNode.aucNode[0] = 0;
    hostOrderNode.aucNode[3] = 0x80;
    EXPECT_EQ(LIPC_Bind(fd, &hostOrderNode, sizeof a), -1);
    EXPECT_EQ(errno, EADDRNOTAVAIL);
    EXPECT_EQ(::access(plat::lipcPath(1169).c_str(), F_OK), -1) << "nothing bound";
    ::close(fd);
}

TEST(Lipc, FaultsAndTheCallLog)
{
    pbbtest::TempRunDir dir;
    plat::testing::setRecording(true);
    plat::testing::failCall("LIPC_Socket", -1);
    EXPECT_EQ(LIPC_Socket(SOCK_STREAM, LIPC_PROTO_STREAM), -1);
    plat::testing::failCall("LIPC_Bind", -1);
    Bound refused(LIPC_PROTO_REPORT, 1125);
    EXPECT_EQ(refused.rc, -1);
    EXPECT_NE(::access(plat::lipcPath(1125).c_str(), F_OK), 0);
    Bound ok(LIPC_PROTO_REPORT, 1125);
    EXPECT_EQ(ok.rc, 0);

    auto binds = plat::testing::callsNamed("LIPC_Bind");
    ASSERT_EQ(binds.size(), 2u);
    EXPECT_NE(binds[1].args.find("family=37 port=1125 result=0"), std::string::npos) << binds[1].args;
    const auto* rec = std::any_cast<LipcSockAddr>(&binds[1].payload);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(ntohs(rec->usPort), 1125);
    EXPECT_EQ(plat::testing::callsNamed("LIPC_Socket")[0].args, "type=1 protocol=1 result=-1");
}

}  // namespace
