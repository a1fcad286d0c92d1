// Local inter-process family on Unix-domain sockets: port P of the local
// node is the socket file <run dir>/lipc.P. The request service
// (protocol 1, and every protocol other than 6) is a stream socket; the
// report service (protocol 6) is a datagram socket, so that each report is
// one datagram and one plain receive reads exactly one report.

#include "platform/lipc.h"

#include "platform/settings.h"
#include "platform/stub/unix_addr.h"
#include "platform/testing.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint8_t LIPC_ADDR_LEN = 16;
constexpr mode_t LIPC_SOCKET_MODE = 0660;

// The caller's errno survives the cleanup after a failure.
int failClosing(int fd)
{
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
}

bool pathAddress(uint16_t usPort, sockaddr_un& addr, socklen_t& len)
{
    if (plat::unixAddress(plat::lipcPath(usPort), addr, len)) return true;
    errno = ENAMETOOLONG;
    return false;
}

// A socket file with nobody behind it (left by a process that ended) may
// be replaced; one that a live socket still serves may not. The probe is a
// connect of the same socket type: refused means nobody is bound there.
bool liveSocketAt(const sockaddr_un& addr, socklen_t len, int type)
{
    int probe = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0) return false;
    bool live = ::connect(probe, reinterpret_cast<const sockaddr*>(&addr), len) == 0 || errno == EAGAIN ||
                errno == EPROTOTYPE;
    ::close(probe);
    return live;
}

}  // namespace

namespace plat {

std::string lipcPath(uint16_t usPort) { return runDir() + "/lipc." + std::to_string(usPort); }

int lipcConnect(uint16_t usPort)
{
    sockaddr_un addr{};
    socklen_t len = 0;
    if (!pathAddress(usPort, addr, len)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    while (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0)
        if (errno != EINTR) return failClosing(fd);
    return fd;
}

int lipcSendReport(uint16_t usPort, const void* pData, size_t len)
{
    sockaddr_un addr{};
    socklen_t alen = 0;
    if (!pathAddress(usPort, addr, alen)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    ssize_t n;
    do {
        n = ::sendto(fd, pData, len, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr), alen);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return failClosing(fd);
    ::close(fd);
    return 0;
}

}  // namespace plat

int LIPC_Socket(int iType, int iProtocol)
{
    std::string args = "type=" + std::to_string(iType) + " protocol=" + std::to_string(iProtocol);
    if (auto f = plat::testing::fault("LIPC_Socket")) {
        plat::testing::record("LIPC_Socket", args + " result=" + std::to_string(static_cast<int>(*f)));
        errno = EMFILE;
        return static_cast<int>(*f);
    }
    // The protocol decides the kind of socket; of the type only the
    // descriptor flags are kept.
    const int flags = (iType & (SOCK_NONBLOCK | SOCK_CLOEXEC)) | SOCK_CLOEXEC;
    const int kind = iProtocol == LIPC_PROTO_REPORT ? SOCK_DGRAM : SOCK_STREAM;
    int fd = ::socket(AF_UNIX, kind | flags, 0);
    plat::testing::record("LIPC_Socket", args + " result=" + std::to_string(fd));
    return fd;
}

int LIPC_Bind(int iFd, const void* pAddr, socklen_t uiAddrLen)
{
    LipcSockAddr a{};
    if (pAddr != nullptr && uiAddrLen == sizeof a) std::memcpy(&a, pAddr, sizeof a);
    const uint16_t port = ntohs(a.usPort);
    std::string args = "fd=" + std::to_string(iFd) + " len=" + std::to_string(uiAddrLen) +
                       " family=" + std::to_string(a.ucFamily) + " port=" + std::to_string(port);
    if (auto f = plat::testing::fault("LIPC_Bind")) {
        plat::testing::record("LIPC_Bind", args + " result=" + std::to_string(static_cast<int>(*f)), a);
        errno = EADDRINUSE;
        return static_cast<int>(*f);
    }
    auto done = [&](int rc) {
        int saved = errno;
        plat::testing::record("LIPC_Bind", args + " result=" + std::to_string(rc), a);
        errno = saved;
        return rc;
    };

    static const uint8_t localNode[4] = {0x80, 0x00, 0x00, 0x00};
    if (pAddr == nullptr || uiAddrLen != sizeof(LipcSockAddr) || a.ucLen != LIPC_ADDR_LEN ||
        a.ucFamily != PLAT_AF_LIPC || port == 0) {
        errno = EINVAL;
        return done(-1);
    }
    if (std::memcmp(a.aucNode, localNode, sizeof localNode) != 0) {
        errno = EADDRNOTAVAIL;  // only the local node is reachable here
        return done(-1);
    }
    sockaddr_un addr{};
    socklen_t len = 0;
    if (!pathAddress(port, addr, len)) return done(-1);
    if (!plat::ensureDir(plat::runDir())) {
        if (errno == 0) errno = ENOENT;
        return done(-1);
    }
    int type = 0;
    socklen_t typeLen = sizeof type;
    if (::getsockopt(iFd, SOL_SOCKET, SO_TYPE, &type, &typeLen) != 0) return done(-1);

    const std::string path = plat::lipcPath(port);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || liveSocketAt(addr, len, type)) {
            errno = EADDRINUSE;
            return done(-1);
        }
        ::unlink(path.c_str());  // stale
    }
    if (::bind(iFd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) return done(-1);
    if (::chmod(path.c_str(), LIPC_SOCKET_MODE) != 0) {
        int saved = errno;
        ::unlink(path.c_str());
        errno = saved;
        return done(-1);
    }
    return done(0);
}
