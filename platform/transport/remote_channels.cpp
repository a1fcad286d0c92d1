#include "platform/transport/remote_channels.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <vector>

namespace plat::transport {

using wire::Msg;

namespace {

// The largest event the simulator sends in one packet.
constexpr size_t kEventMax = 256 * 1024;

}  // namespace

int RemoteEventChannel::open()
{
    if (client_.valid()) return -1;
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) return -1;
    UniqueFd client(sv[0]);
    UniqueFd peer(sv[1]);
    wire::Writer w;
    w.u8(static_cast<uint8_t>(service_));
    auto r = link_.call(Msg::OpenChannel, w, peer.get());
    if (!r || *r != 0) return -1;
    client_ = std::move(client);
    hungUp_ = false;
    return client_.get();
}

void RemoteEventChannel::close()
{
    client_.reset();
    hungUp_ = false;
}

void RemoteEventChannel::hangUp()
{
    if (!client_.valid() || hungUp_) return;
    hungUp_ = true;
    ::shutdown(client_.get(), SHUT_RDWR);
}

std::optional<sim::Event> RemoteEventChannel::pop()
{
    if (!client_.valid() || hungUp_) return std::nullopt;
    static std::vector<uint8_t> buf(kEventMax);
    for (;;) {
        ssize_t n = ::recv(client_.get(), buf.data(), buf.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n <= 0) return std::nullopt;
        if (static_cast<size_t>(n) > buf.size()) continue;  // cannot be whole: skip it
        try {
            return wire::decodeEvent(std::span<const uint8_t>(buf.data(), static_cast<size_t>(n)));
        } catch (const wire::WireError&) {
            continue;
        }
    }
}

size_t RemoteEventChannel::pending() const
{
    if (!client_.valid()) return 0;
    pollfd p{client_.get(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0 ? 1 : 0;
}

int RemotePacketSockets::open()
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return -1;
    UniqueFd client(sv[0]);
    UniqueFd peer(sv[1]);
    wire::Writer w;
    w.u32(static_cast<uint32_t>(client.get()));
    auto r = link_.call(Msg::OpenPacket, w, peer.get());
    if (!r || *r != 0) {
        errno = ENETDOWN;
        return -1;
    }
    socks_[client.get()] = Sock{};
    return client.release();
}

int RemotePacketSockets::bind(int fd, const PKT_SOCKADDR_S& addr)
{
    if (!known(fd)) {
        errno = ENOTSOCK;
        return -1;
    }
    if (addr.ucFamily != PKT_AF_PACKET || addr.ucLen != sizeof addr) {
        errno = EINVAL;
        return -1;
    }
    wire::Writer w;
    w.u32(static_cast<uint32_t>(fd)).u16(addr.usEtherType);
    // Without the simulator the socket has hung up already; bind still succeeds.
    (void)link_.call(Msg::PacketBind, w);
    return 0;
}

int RemotePacketSockets::setOption(int fd, int level, int name, int value)
{
    auto it = socks_.find(fd);
    if (it == socks_.end()) {
        errno = ENOTSOCK;
        return -1;
    }
    if (level == PKT_SOL_PACKET && name == PKT_OPT_RECV_ALL) {
        wire::Writer w;
        w.u32(static_cast<uint32_t>(fd)).u8(value != 0 ? 1 : 0);
        (void)link_.call(Msg::PacketRecvAll, w);
        return 0;
    }
    if (level == PKT_SOL_PACKET && name == PKT_OPT_IFINDEX_CTRL) {
        it->second.ctrl = value != 0;
        return 0;
    }
    if (level == PKT_SOL_SOCKET && name == PKT_SO_RCVBUF)
        return ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, sizeof value);
    errno = ENOPROTOOPT;
    return -1;
}

bool RemotePacketSockets::wantsCtrl(int fd) const
{
    auto it = socks_.find(fd);
    return it != socks_.end() && it->second.ctrl;
}

}  // namespace plat::transport
