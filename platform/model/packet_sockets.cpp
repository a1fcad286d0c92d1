#include "platform/model/packet_sockets.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace plat {

int LocalPacketSockets::open()
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return -1;
    Sock& s = socks_[sv[0]];
    s = Sock{};
    s.peer.reset(sv[1]);
    return sv[0];
}

int PacketSockets::bind(int fd, const PKT_SOCKADDR_S& addr)
{
    if (!known(fd)) {
        errno = ENOTSOCK;
        return -1;
    }
    if (addr.ucFamily != PKT_AF_PACKET || addr.ucLen != sizeof addr) {
        errno = EINVAL;
        return -1;
    }
    setBound(fd, addr.usEtherType);
    return 0;
}

int PacketSockets::setOption(int fd, int level, int name, int value)
{
    if (!known(fd)) {
        errno = ENOTSOCK;
        return -1;
    }
    if (level == PKT_SOL_PACKET && name == PKT_OPT_RECV_ALL) {
        setRecvAll(fd, value != 0);
        return 0;
    }
    if (level == PKT_SOL_PACKET && name == PKT_OPT_IFINDEX_CTRL) {
        setCtrl(fd, value != 0);
        return 0;
    }
    if (level == PKT_SOL_SOCKET && name == PKT_SO_RCVBUF)
        return ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, sizeof value);
    errno = ENOPROTOOPT;
    return -1;
}

void LocalPacketSockets::setBound(int fd, uint16_t etherType)
{
    Sock& s = socks_[fd];
    s.bound = true;
    s.etherType = etherType;
}

bool LocalPacketSockets::wantsCtrl(int fd) const
{
    auto it = socks_.find(fd);
    return it != socks_.end() && it->second.ctrl;
}

size_t LocalPacketSockets::deliver(std::span<const uint8_t> datagram)
{
    if (datagram.size() < sizeof(PKT_SOCKADDR_S)) return 0;
    PKT_SOCKADDR_S addr;
    std::memcpy(&addr, datagram.data(), sizeof addr);
    size_t taken = 0;
    for (auto it = socks_.begin(); it != socks_.end();) {
        Sock& s = it->second;
        if (!s.peer.valid() || !s.bound || (!s.recvAll && s.etherType != addr.usEtherType)) {
            ++it;
            continue;
        }
        ssize_t n = ::send(s.peer.get(), datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && (errno == EPIPE || errno == ECONNREFUSED || errno == ECONNRESET)) {
            it = socks_.erase(it);
            continue;
        }
        taken += n > 0;
        ++it;
    }
    return taken;
}

void LocalPacketSockets::hangUp()
{
    for (auto& [fd, s] : socks_) s.peer.reset();
}

}  // namespace plat
