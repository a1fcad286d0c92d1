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

void RemotePacketSockets::setBound(int fd, uint16_t etherType)
{
    wire::Writer w;
    w.u32(static_cast<uint32_t>(fd)).u16(etherType);
    // Without the simulator the socket has hung up already; bind still succeeds.
    (void)link_.call(Msg::PacketBind, w);
}

void RemotePacketSockets::setRecvAll(int fd, bool on)
{
    wire::Writer w;
    w.u32(static_cast<uint32_t>(fd)).u8(on ? 1 : 0);
    (void)link_.call(Msg::PacketRecvAll, w);
}

bool RemotePacketSockets::wantsCtrl(int fd) const
{
    auto it = socks_.find(fd);
    return it != socks_.end() && it->second.ctrl;
}

}  // namespace plat::transport
