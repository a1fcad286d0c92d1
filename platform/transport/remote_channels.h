// Event channels and packet sockets of a daemon whose switch is the
// simulator.
//
// Opening one makes a local sequenced-packet pair and hands one end to the
// simulator (OpenChannel, OpenPacket); the daemon keeps the other. The
// simulator writes one event or one frame datagram per packet, so the
// daemon's descriptor is readable exactly while something waits, and it
// reports hang-up when the simulator closes its end (the service went away,
// or the simulator ended). The dispatch calls read the packets themselves.
#pragma once

#include <map>

#include "platform/model/event_channel.h"
#include "platform/model/packet_sockets.h"
#include "platform/transport/link.h"

namespace plat::transport {

class RemoteEventChannel final : public EventChannel {
public:
    RemoteEventChannel(Link& link, sim::Service service) : link_(link), service_(service) {}

    int open() override;
    void close() override;
    // The descriptor is shut down so that the daemon sees the hang-up also
    // when the simulator could not close its end (it stopped answering).
    void hangUp() override;

    bool owns(int fd) const override { return fd >= 0 && fd == client_.get(); }
    int fd() const override { return client_.get(); }
    bool connected() const override { return client_.valid() && !hungUp_; }

    // Events reach this channel from the simulator, never from this process.
    void push(const sim::Event&) override {}
    std::optional<sim::Event> pop() override;
    // 1 while an event waits on the descriptor, else 0: the count stays
    // with the simulator.
    size_t pending() const override;

private:
    Link& link_;
    sim::Service service_;
    UniqueFd client_;
    bool hungUp_ = false;
};

class RemotePacketSockets final : public PacketSockets {
public:
    explicit RemotePacketSockets(Link& link) : link_(link) {}

    int open() override;
    bool known(int fd) const override { return socks_.count(fd) != 0; }
    bool wantsCtrl(int fd) const override;

    // Frames reach these sockets from the simulator, never from this process.
    size_t deliver(std::span<const uint8_t>) override { return 0; }
    // The simulator closes its ends; nothing is left to do here.
    void hangUp() override {}

protected:
    // Binding and receiving every EtherType are the simulator's business.
    void setBound(int fd, uint16_t etherType) override;
    void setRecvAll(int fd, bool on) override;
    void setCtrl(int fd, bool on) override { socks_[fd].ctrl = on; }

private:
    struct Sock {
        bool ctrl = false;
    };
    Link& link_;
    std::map<int, Sock> socks_;
};

}  // namespace plat::transport
