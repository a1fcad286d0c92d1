// The log file and the service status the daemon leaves behind; the
// format of a line is checked through the daemon's print operations.
#include "platform/log.h"
#include "platform/service.h"
#include "platform/settings.h"
#include "platform/stub/logfile.h"
#include "platform/testing.h"

#include "support/logread.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace {

// A datagram socket standing in for the service manager's notify socket.
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

// Only readiness, and only once the switch served the start-up, is told
// to the notify socket (a path or an abstract name); what another service
// (the simulated switch) tells leaves no status file that tools would take
// for the daemon's; a socket gone is logged, naming it; without
// NOTIFY_SOCKET nothing fails. What both programs tell is read by the
// service-unit system test. Then the log rotated.
TEST(Service, OnlyReadinessIsToldToTheNotifySocketAndOtherServicesLeaveNoStatusFile)
{
    pbbtest::PlatformDirs dirs;
    const std::string where = dirs.dir().sub("notify"), pid = std::to_string(::getpid());
    {
        NotifySocket sock(where);
        plat::notifyServiceManager("STOPPING=1\n");
        EXPECT_EQ(sock.receive(), "STOPPING=1\n");
        EXPECT_FALSE(std::ifstream(plat::serviceStatusFile()).good());
        plat::setReadinessCheck([] { return std::string("not connected"); });
        ASSERT_EQ(SERVICE_SetStatus(7), 0u);
        plat::setReadinessCheck(nullptr);
        EXPECT_EQ(pbbtest::readText(plat::serviceStatusFile()), "STATUS=7\nMAINPID=" + pid + "\n");
        ASSERT_EQ(SERVICE_SetStatus(SERVICE_STATUS_READY), 0u);
        EXPECT_EQ(sock.receive(), "READY=1\nMAINPID=" + pid + "\n");
    }
    {
        NotifySocket sock("@pbb-notify-" + pid);
        ASSERT_EQ(SERVICE_SetStatus(SERVICE_STATUS_READY), 0u);
        EXPECT_EQ(sock.receive(), "READY=1\nMAINPID=" + pid + "\n");
    }
    ::unlink(where.c_str());
    ::setenv("NOTIFY_SOCKET", where.c_str(), 1);
    plat::notifyServiceManager("READY=1\n");
    ::unsetenv("NOTIFY_SOCKET");
    plat::notifyServiceManager("READY=1\n");
    auto logged = pbbtest::grepLines(dirs.logFile(), {"notify"});
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("notify " + where), std::string::npos) << logged[0];

    // The log rotated away after closelog2 keeps its lines; the next line goes to a new file.
    plat::writeLog(LOG_DAEMON | LOG_DEBUG, "pbb", "EVENT", "before");
    closelog2("pbb");
    ASSERT_EQ(std::rename(dirs.logFile().c_str(), (dirs.logFile() + ".1").c_str()), 0);
    plat::writeLog(LOG_DAEMON | LOG_DEBUG, "pbb", "EVENT", "after");
    EXPECT_EQ(pbbtest::readLines(dirs.logFile()).size(), 1u);
    EXPECT_EQ(pbbtest::grepLines(dirs.logFile() + ".1", {"before"}).size(), 1u);
    closelog2("pbb");
}

}  // namespace
