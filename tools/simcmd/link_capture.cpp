#include "tools/simcmd/link_capture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

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

Frame restoreTag(std::span<const uint8_t> bytes, const StrippedTag& tag)
{
    if (!tag.present || bytes.size() < 12) return Frame(bytes.begin(), bytes.end());
    Frame out;
    out.reserve(bytes.size() + 4);
    out.insert(out.end(), bytes.begin(), bytes.begin() + 12);
    out.push_back(static_cast<uint8_t>(tag.tpid >> 8));
    out.push_back(static_cast<uint8_t>(tag.tpid));
    out.push_back(static_cast<uint8_t>(tag.tci >> 8));
    out.push_back(static_cast<uint8_t>(tag.tci));
    out.insert(out.end(), bytes.begin() + 12, bytes.end());
    return out;
}

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
    // Room for bursts between two turns of the simulator's loop; the kernel
    // caps it at its maximum, which is as good as it gets.
    int rcvbuf = 4 << 20;
    (void)::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_ll sll{};
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(ETH_P_ALL);
    sll.sll_ifindex = static_cast<int>(idx);
    if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&sll), sizeof sll) != 0)
        throw sysError("binding a packet socket to '" + linuxIf + "'" + where);
}

std::vector<Frame> LinkCapture::readFrames(size_t max, bool everything)
{
    std::vector<Frame> out;
    std::vector<uint8_t> buf(65536);
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(tpacket_auxdata))];
    for (size_t n = 0; n < max; ++n) {
        sockaddr_ll from{};
        iovec iov{buf.data(), buf.size()};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t len = ::recvmsg(fd_.get(), &msg, MSG_TRUNC);
        if (len < 0) {
            if (errno == EINTR) continue;
            break;   // EAGAIN: nothing more waits; other errors end this read too
        }
        if (from.sll_pkttype == PACKET_OUTGOING) continue;
        if (static_cast<size_t>(len) > buf.size()) continue;   // larger than any frame we handle
        StrippedTag tag;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_PACKET || c->cmsg_type != PACKET_AUXDATA) continue;
            tpacket_auxdata aux;
            std::memcpy(&aux, CMSG_DATA(c), sizeof aux);
            if (aux.tp_vlan_tci != 0 || (aux.tp_status & TP_STATUS_VLAN_VALID)) {
                tag.present = true;
                tag.tci = aux.tp_vlan_tci;
                tag.tpid = (aux.tp_status & TP_STATUS_VLAN_TPID_VALID) ? aux.tp_vlan_tpid : 0x8100;
            }
        }
        Frame f = restoreTag(std::span<const uint8_t>(buf.data(), static_cast<size_t>(len)), tag);
        if (everything || isPbbFrame(f)) out.push_back(std::move(f));
    }
    return out;
}

}  // namespace simcmd
