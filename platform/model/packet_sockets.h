// The packet sockets of the client process.
//
// PacketSockets is what the packet calls need of them; how frames reach
// them depends on where the switch is. LocalPacketSockets serves a switch in
// this process: each socket is one end of a local sequenced-packet pair;
// the other end stays here and carries one datagram per frame. A datagram
// goes to every bound socket whose EtherType matches (or that receives
// all). A socket whose client end was closed is forgotten when a send finds
// it gone, or when its descriptor number is handed out again.
#pragma once

#include <cstdint>
#include <map>
#include <span>

#include "platform/model/unique_fd.h"
#include "platform/pktsock.h"

namespace plat {

class PacketSockets {
public:
    virtual ~PacketSockets() = default;
    // The client's descriptor, or -1 with errno.
    virtual int open() = 0;
    // The packet calls' argument checks and option decoding, the same
    // wherever the switch is: 0, or -1 with errno. They hand the decoded
    // change to the setters below.
    int bind(int fd, const PKT_SOCKADDR_S& addr);
    int setOption(int fd, int level, int name, int value);
    virtual bool known(int fd) const = 0;
    virtual bool wantsCtrl(int fd) const = 0;

    // A datagram from a switch in this process: the number of sockets that
    // took it.
    virtual size_t deliver(std::span<const uint8_t> datagram) = 0;
    // The packet service went away: every socket reports hang-up.
    virtual void hangUp() = 0;

protected:
    // Called for a known descriptor with checked arguments.
    virtual void setBound(int fd, uint16_t etherType) = 0;
    virtual void setRecvAll(int fd, bool on) = 0;
    virtual void setCtrl(int fd, bool on) = 0;
};

class LocalPacketSockets final : public PacketSockets {
public:
    int open() override;
    bool known(int fd) const override { return socks_.count(fd) != 0; }
    bool wantsCtrl(int fd) const override;

    size_t deliver(std::span<const uint8_t> datagram) override;
    void hangUp() override;

protected:
    void setBound(int fd, uint16_t etherType) override;
    void setRecvAll(int fd, bool on) override { socks_[fd].recvAll = on; }
    void setCtrl(int fd, bool on) override { socks_[fd].ctrl = on; }

private:
    struct Sock {
        UniqueFd peer;
        bool bound = false;
        uint16_t etherType = 0;
        bool recvAll = false;
        bool ctrl = false;
    };
    std::map<int, Sock> socks_;
};

}  // namespace plat
