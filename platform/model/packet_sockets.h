// The packet sockets of the client process.
//
// Each socket is one end of a local sequenced-packet pair; the other end
// stays here and carries one datagram per frame. A datagram goes to every
// bound socket whose EtherType matches (or that receives all). A socket
// whose client end was closed is forgotten when a send finds it gone, or
// when its descriptor number is handed out again.
#pragma once

#include <cstdint>
#include <map>
#include <span>

#include "platform/model/unique_fd.h"
#include "platform/pktsock.h"

namespace plat {

class PacketSockets {
public:
    // The client's descriptor, or -1 with errno.
    int open();
    // 0, or -1 with errno.
    int bind(int fd, const PKT_SOCKADDR_S& addr);
    int setOption(int fd, int level, int name, int value);
    bool known(int fd) const { return socks_.count(fd) != 0; }
    bool wantsCtrl(int fd) const;

    // Number of sockets that took the datagram.
    size_t deliver(std::span<const uint8_t> datagram);
    // The packet service went away: every socket reports hang-up.
    void hangUp();

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
