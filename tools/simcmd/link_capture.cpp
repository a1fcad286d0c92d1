#include "tools/simcmd/link_capture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace simcmd {

namespace {

std::runtime_error sysError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// Enters a network namespace for the life of the object and goes back to
// the one the thread was in.
class NetnsGuard {
public:
    explicit NetnsGuard(const std::string& name)
    {
        if (name.empty()) return;
        if (name.find('/') != std::string::npos || name == "." || name == "..")
            throw std::runtime_error("network namespace '" + name + "': not a namespace name");
        home_.reset(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
        if (!home_.valid()) throw sysError("network namespace of this process");
        std::string path = "/var/run/netns/" + name;
        plat::UniqueFd target(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!target.valid()) throw sysError("network namespace '" + name + "' (" + path + ")");
        if (::setns(target.get(), CLONE_NEWNET) != 0) throw sysError("entering network namespace '" + name + "'");
        entered_ = true;
    }
    NetnsGuard(const NetnsGuard&) = delete;
    NetnsGuard& operator=(const NetnsGuard&) = delete;
    ~NetnsGuard()
    {
        // Going back cannot fail for a namespace this thread was in; if it
        // did, carrying on in the wrong namespace would be worse than stopping.
        if (entered_ && ::setns(home_.get(), CLONE_NEWNET) != 0) std::abort();
    }

private:
    plat::UniqueFd home_;
    bool entered_ = false;
};

}  // namespace

LinkCapture::LinkCapture(const std::string& linuxIf, const std::string& netns) : ifName_(linuxIf), netns_(netns)
{
    if (linuxIf.empty() || linuxIf.size() >= IFNAMSIZ)
        throw std::runtime_error("Linux interface '" + linuxIf + "': not an interface name");
    std::string where = netns.empty() ? "" : " in network namespace '" + netns + "'";
    NetnsGuard inNs(netns);
    fd_.reset(::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL)));
    if (!fd_.valid()) throw sysError("packet socket for '" + linuxIf + "'" + where);
    unsigned idx = ::if_nametoindex(linuxIf.c_str());
    if (idx == 0) throw sysError("Linux interface '" + linuxIf + "'" + where);
    int on = 1;
    if (::setsockopt(fd_.get(), SOL_PACKET, PACKET_AUXDATA, &on, sizeof on) != 0)
        throw sysError("PACKET_AUXDATA on '" + linuxIf + "'");
    // What pbb-sim sends on the interface need not come back to it (kernels
    // before 4.20 lack the option: the PACKET_OUTGOING check below does it).
    (void)::setsockopt(fd_.get(), SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
    // Room for bursts between two turns of the simulator's loop: past the
    // kernel's cap when the process may (root), else up to the cap.
    int rcvbuf = 4 << 20;
    if (::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUFFORCE, &rcvbuf, sizeof rcvbuf) != 0)
        (void)::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_ll sll{};
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(ETH_P_ALL);
    sll.sll_ifindex = static_cast<int>(idx);
    if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&sll), sizeof sll) != 0)
        throw sysError("binding a packet socket to '" + linuxIf + "'" + where);
}

std::vector<Frame> LinkCapture::readFrames(size_t max)
{
    std::vector<Frame> out;
    readEach(max, [&out](std::span<const uint8_t> f) {
        if (isPbbFrame(f)) out.emplace_back(f.begin(), f.end());
    });
    return out;
}

size_t LinkCapture::readEach(size_t max, const std::function<void(std::span<const uint8_t>)>& each)
{
    constexpr size_t kSlot = 4 + kFrameMax;
    if (buffers_.empty()) buffers_.resize(kBatch * kSlot);
    std::array<mmsghdr, kBatch> msgs{};
    std::array<iovec, kBatch> iov{};
    std::array<sockaddr_ll, kBatch> from{};
    alignas(cmsghdr) uint8_t control[kBatch][CMSG_SPACE(sizeof(tpacket_auxdata))];
    size_t read = 0;
    while (read < max) {
        size_t want = std::min(kBatch, max - read);
        for (size_t i = 0; i < want; ++i) {
            iov[i] = {buffers_.data() + i * kSlot + 4, kFrameMax};
            msgs[i].msg_hdr = msghdr{&from[i], sizeof from[i], &iov[i], 1, control[i], sizeof control[i], 0};
        }
        int n = ::recvmmsg(fd_.get(), msgs.data(), static_cast<unsigned>(want), MSG_TRUNC, nullptr);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;   // EAGAIN: nothing more waits; other errors end this read too
        }
        read += static_cast<size_t>(n);
        for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
            msghdr& msg = msgs[i].msg_hdr;
            if (from[i].sll_pkttype == PACKET_OUTGOING || (msg.msg_flags & MSG_TRUNC) != 0) continue;
            uint8_t* start = buffers_.data() + i * kSlot + 4;
            size_t len = msgs[i].msg_len;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr && len >= 12; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level != SOL_PACKET || c->cmsg_type != PACKET_AUXDATA) continue;
                tpacket_auxdata aux;
                std::memcpy(&aux, CMSG_DATA(c), sizeof aux);
                if (aux.tp_vlan_tci == 0 && (aux.tp_status & TP_STATUS_VLAN_VALID) == 0) continue;
                uint16_t tpid = (aux.tp_status & TP_STATUS_VLAN_TPID_VALID) ? aux.tp_vlan_tpid : 0x8100;
                std::memmove(start - 4, start, 12);
                start -= 4;
                len += 4;
                const uint8_t tag[4] = {uint8_t(tpid >> 8), uint8_t(tpid), uint8_t(aux.tp_vlan_tci >> 8),
                                        uint8_t(aux.tp_vlan_tci)};
                std::memcpy(start + 12, tag, 4);
                break;
            }
            each(std::span<const uint8_t>(start, len));
        }
        if (static_cast<size_t>(n) < want) break;
    }
    return read;
}

}  // namespace simcmd
