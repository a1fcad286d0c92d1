#include "platform/transport/unix_io.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace plat::transport {

namespace {

bool address(const std::string& path, sockaddr_un& addr, socklen_t& len)
{
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    addr = sockaddr_un{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

}  // namespace

UniqueFd connectUnix(const std::string& path, int type, bool nonBlocking)
{
    sockaddr_un addr;
    socklen_t len;
    if (!address(path, addr, len)) return UniqueFd();
    UniqueFd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
    if (!fd.valid()) return fd;
    int rc;
    do {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), len);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int saved = errno;
        fd.reset();
        errno = saved;
    }
    return fd;
}

UniqueFd connectUnixWithin(const std::string& path, int type, int timeoutMs)
{
    sockaddr_un addr;
    socklen_t len;
    if (!address(path, addr, len)) return UniqueFd();
    UniqueFd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return fd;
    // A local connect waits for room in the listener's queue as long as
    // the send time-out allows; the time-out is cleared once connected.
    timeval limit{timeoutMs / 1000, static_cast<suseconds_t>(timeoutMs % 1000) * 1000};
    if (timeoutMs > 0) (void)::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int64_t deadline = nowMs() + timeoutMs;
    int rc;
    for (;;) {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), len);
        if (rc == 0 || errno != EINTR) break;
        if (timeoutMs > 0 && nowMs() >= deadline) {
            errno = EAGAIN;
            break;
        }
    }
    if (rc != 0) {
        int saved = errno;
        fd.reset();
        errno = saved;
        return fd;
    }
    timeval none{};
    (void)::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
    return fd;
}

UniqueFd listenUnix(const std::string& path, int type)
{
    sockaddr_un addr;
    socklen_t len;
    if (!address(path, addr, len)) return UniqueFd();
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            errno = EEXIST;
            return UniqueFd();
        }
        // Refused means nobody listens there any more: the file is stale.
        UniqueFd probe = connectUnix(path, type, true);
        if (probe.valid() || errno == EAGAIN) {
            errno = EADDRINUSE;
            return UniqueFd();
        }
        ::unlink(path.c_str());
    }
    UniqueFd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) return fd;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), len) != 0 || ::chmod(path.c_str(), 0660) != 0 ||
        ::listen(fd.get(), 16) != 0) {
        int saved = errno;
        fd.reset();
        errno = saved;
    }
    return fd;
}

ssize_t sendWithFds(int sock, std::span<const uint8_t> bytes, std::span<const int> fds, int flags)
{
    constexpr size_t kMost = 4;
    if (fds.size() > kMost) {
        errno = EINVAL;
        return -1;
    }
    iovec iov{const_cast<uint8_t*>(bytes.data()), bytes.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char ctrl[CMSG_SPACE(sizeof(int) * kMost)] = {};
    if (!fds.empty()) {
        msg.msg_control = ctrl;
        msg.msg_controllen = CMSG_SPACE(sizeof(int) * fds.size());
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
        std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fds.size());
    }
    ssize_t n;
    do {
        n = ::sendmsg(sock, &msg, flags | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t sendWithFd(int sock, std::span<const uint8_t> bytes, int fd, int flags)
{
    return fd >= 0 ? sendWithFds(sock, bytes, std::span<const int>(&fd, 1), flags)
                   : sendWithFds(sock, bytes, {}, flags);
}

ssize_t recvWithFds(int sock, std::span<uint8_t> buf, std::deque<UniqueFd>& fds, int flags)
{
    constexpr size_t kMaxWaiting = 16;
    iovec iov{buf.data(), buf.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char ctrl[CMSG_SPACE(sizeof(int) * 8)];
    msg.msg_control = ctrl;
    msg.msg_controllen = sizeof ctrl;
    ssize_t n;
    do {
        n = ::recvmsg(sock, &msg, flags | MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return n;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            UniqueFd owned(fd);
            if (fds.size() < kMaxWaiting) fds.push_back(std::move(owned));
        }
    }
    return n;
}

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace plat::transport
