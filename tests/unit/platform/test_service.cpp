#include "platform/service.h"
#include "platform/settings.h"
#include "platform/testing.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::string slurp(const std::string& file)
{
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A datagram socket standing in for systemd's notify socket.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& where)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, where.data(), where.size());
        socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + where.size());
        if (where[0] == '@') a.sun_path[0] = '\0';
        else ++len;
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), len), 0) << std::strerror(errno);
        ::setenv("NOTIFY_SOCKET", where.c_str(), 1);
    }
    ~NotifySocket()
    {
        ::unsetenv("NOTIFY_SOCKET");
        ::close(m_fd);
    }
    std::string receive()
    {
        if (!pbbtest::waitReadable(m_fd)) return "<nothing within the deadline>";
        char buf[256];
        ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        return n < 0 ? "<error>" : std::string(buf, static_cast<size_t>(n));
    }

private:
    int m_fd = -1;
};

const std::string READY = "READY=1\nMAINPID=" + std::to_string(::getpid()) + "\n";

TEST(Service, ReadyWritesTheStatusFileAndTellsTheNotifySocket)
{
    pbbtest::TempRunDir dir;
    for (std::string where : {dir.file("notify"), "@pbb-notify-" + std::to_string(::getpid())}) {
        SCOPED_TRACE(where);
        NotifySocket sock(where);
        ASSERT_EQ(SERVICE_SetStatus(SERVICE_STATUS_READY), 0u);
        EXPECT_EQ(sock.receive(), READY);
        EXPECT_EQ(plat::serviceStatusFile(), dir.file("pbbd.status"));
        EXPECT_EQ(slurp(dir.file("pbbd.status")), READY);
    }
}

TEST(Service, OtherStatusesAreRecordedInTheFileOnly)
{
    pbbtest::TempRunDir dir;
    NotifySocket sock(dir.file("notify"));
    ASSERT_EQ(SERVICE_SetStatus(7), 0u);
    EXPECT_EQ(slurp(dir.file("pbbd.status")), "STATUS=7\nMAINPID=" + std::to_string(::getpid()) + "\n");
    ASSERT_EQ(SERVICE_SetStatus(2), 0u);
    EXPECT_EQ(sock.receive(), READY) << "the first datagram is the ready one";
    EXPECT_EQ(slurp(dir.file("pbbd.status")), READY) << "replaced as a whole";
}

TEST(Service, MissingRunDirectoryIsCreatedAndAnImpossibleOneFails)
{
    pbbtest::TempRunDir dir;
    plat::setRunDir(dir.file("a/b"));
    ASSERT_EQ(SERVICE_SetStatus(2), 0u);
    EXPECT_EQ(slurp(dir.file("a/b/pbbd.status")), READY);

    std::ofstream(dir.file("plain")) << "x";
    plat::setRunDir(dir.file("plain/run"));  // under a regular file
    EXPECT_NE(SERVICE_SetStatus(2), 0u);
}

TEST(Service, FaultReturnsTheArmedValueAndWritesNothing)
{
    pbbtest::TempRunDir dir;
    plat::testing::setRecording(true);
    plat::testing::failCall("SERVICE_SetStatus", 9);
    EXPECT_EQ(SERVICE_SetStatus(2), 9u);
    EXPECT_NE(::access(dir.file("pbbd.status").c_str(), F_OK), 0);
    ASSERT_EQ(SERVICE_SetStatus(2), 0u);
    auto calls = plat::testing::callsNamed("SERVICE_SetStatus");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].args, "status=2 result=0");
}

}  // namespace
