// pbb-pktread: reads the platform's packet socket as the daemon does and
// prints every frame as one JSON line, for the system tests.
//
// It reaches the switch the way the platform setting says (the simulator
// by default), optionally registers as the MAC-in-MAC client and puts the
// given ports in PBB mode (a port copies frames to the CPU only then),
// opens a packet socket bound to the I-Tag EtherType with the ingress
// control record, prints {"ready": true} and then one line per frame:
//   {"ifIndex", "bvlan", "bda", "bsa", "etherType", "flags", "isid", "cda",
//    "csa", "payload" (hex, what follows C-SA), "length"}
// It stops after --count frames (exit 0) or at --timeout (exit 2 when
// frames were still missing).
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "platform/l2vpn.h"
#include "platform/pktsock.h"

namespace {

std::string mac(const uint8_t* p)
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", p[0], p[1], p[2], p[3], p[4], p[5]);
    return buf;
}

std::string hex(const uint8_t* p, size_t n)
{
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 0xF];
    }
    return s;
}

uint32_t onL2vpn(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

int fail(const std::string& what)
{
    std::fprintf(stderr, "pbb-pktread: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Reads the platform's packet socket and prints each frame as a JSON line"};
    std::vector<uint32_t> pbbPorts;
    size_t count = 0;
    double timeout = 10;
    app.add_option("--pbb-port", pbbPorts, "ifIndex of a port to put in PBB mode (repeatable)");
    app.add_option("--count", count, "stop after this many frames (0: run until the timeout)");
    app.add_option("--timeout", timeout, "seconds to read for")->check(CLI::PositiveNumber);
    CLI11_PARSE(app, argc, argv);

    if (!pbbPorts.empty()) {
        int l2 = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 0x1B, L2VPN_CLIENT_MINM, onL2vpn);
        if (l2 < 0) return fail("cannot register with the L2VPN module (is the switch reachable?)");
        for (uint32_t p : pbbPorts)
            if (uint32_t rc = L2VPN_SetInterface(l2, p, L2VPN_IF_PBB_ENABLE); rc != 0)
                return fail("PBB mode of ifIndex " + std::to_string(p) + " refused with " + std::to_string(rc));
    }

    int fd = PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY);
    if (fd < 0) return fail(std::string("packet socket: ") + std::strerror(errno));
    PKT_SOCKADDR_S addr{};
    addr.ucLen = sizeof addr;
    addr.ucFamily = PKT_AF_PACKET;
    addr.usEtherType = PKT_ETHERTYPE_ITAG;
    if (PKT_Bind(fd, &addr, sizeof addr) != 0) return fail(std::string("bind: ") + std::strerror(errno));
    int on = 1;
    if (PKT_SetSockOpt(fd, PKT_SOL_PACKET, PKT_OPT_IFINDEX_CTRL, &on, sizeof on) != 0)
        return fail(std::string("ingress control option: ") + std::strerror(errno));
    int rcvbuf = 8 << 20;
    if (PKT_SetSockOpt(fd, PKT_SOL_SOCKET, PKT_SO_RCVBUF, &rcvbuf, sizeof rcvbuf) != 0)
        return fail(std::string("receive buffer: ") + std::strerror(errno));
    std::printf("{\"ready\": true}\n");
    std::fflush(stdout);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    size_t got = 0;
    std::vector<uint8_t> data(65536);
    while (count == 0 || got < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n < 0 && errno != EINTR) return fail(std::string("poll: ") + std::strerror(errno));
        if (n <= 0) continue;
        if ((p.revents & POLLIN) == 0) return fail("the packet socket hung up");
        PKT_SOCKADDR_S from{};
        PKT_CTRL_S ctrl{};
        iovec iov{data.data(), data.size()};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = &ctrl;
        msg.msg_controllen = sizeof ctrl;
        ssize_t len = PKT_RecvMsg(fd, &msg, MSG_DONTWAIT);
        if (len < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return fail(std::string("receive: ") + std::strerror(errno));
        }
        auto dataLen = static_cast<size_t>(len);
        nlohmann::json j;
        j["ifIndex"] = msg.msg_controllen >= sizeof ctrl && ctrl.uiType == PKT_CTRL_IFINDEX ? nlohmann::json(ctrl.uiIfIndex)
                                                                                           : nlohmann::json(nullptr);
        j["bvlan"] = from.usVlanId;
        j["bda"] = mac(from.aucDstMac);
        j["bsa"] = mac(from.aucSrcMac);
        j["etherType"] = from.usEtherType;
        j["length"] = dataLen;
        if (dataLen >= 16) {
            j["flags"] = data[0];
            j["isid"] = static_cast<uint32_t>(data[1]) << 16 | static_cast<uint32_t>(data[2]) << 8 | data[3];
            j["cda"] = mac(&data[4]);
            j["csa"] = mac(&data[10]);
            j["payload"] = hex(&data[16], dataLen - 16);
        }
        std::printf("%s\n", j.dump().c_str());
        std::fflush(stdout);
        ++got;
    }
    ::close(fd);
    return count != 0 && got < count ? 2 : 0;
}
