// The packet socket calls.
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/model/backend.h"
#include "platform/model/call_log.h"
#include "platform/model/pbb_frame.h"
#include "platform/pktsock.h"

using plat::detail::enterWith;

namespace {

// Room for the records and a jumbo frame.
constexpr size_t kDatagramMax = sizeof(PKT_SOCKADDR_S) + sizeof(PKT_CTRL_S) + 16384;

int faultErrno(int64_t v)
{
    errno = EIO;
    return static_cast<int>(v);
}

}  // namespace

int PKT_Socket(int iFamily, int iType, int iProtocol)
{
    if (auto f = PLAT_ENTER("PKT_Socket", "family=%d type=%d protocol=%d", iFamily, iType, iProtocol))
        return faultErrno(*f);
    if (iFamily != PKT_AF_PACKET) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    if (iType != SOCK_RAW || iProtocol != PKT_PROTO_CPU_COPY) {
        errno = EPROTONOSUPPORT;
        return -1;
    }
    auto& b = plat::backend();
    if (!b.services().serviceUp(sim::Service::Packet)) {
        errno = ENETDOWN;
        return -1;
    }
    return b.packets().open();
}

int PKT_Bind(int iFd, const void* pAddr, socklen_t uiAddrLen)
{
    PKT_SOCKADDR_S addr{};
    if (pAddr != nullptr && uiAddrLen == sizeof addr) std::memcpy(&addr, pAddr, sizeof addr);
    if (auto f = enterWith(
            "PKT_Bind", [&] { return addr; }, "fd=%d len=%u ethertype=0x%x", iFd, static_cast<unsigned>(uiAddrLen),
            addr.usEtherType))
        return faultErrno(*f);
    if (pAddr == nullptr || uiAddrLen != sizeof addr) {
        errno = EINVAL;
        return -1;
    }
    return plat::backend().packets().bind(iFd, addr);
}

int PKT_SetSockOpt(int iFd, int iLevel, int iName, const void* pValue, socklen_t uiLen)
{
    int value = 0;
    if (pValue != nullptr && uiLen == sizeof value) std::memcpy(&value, pValue, sizeof value);
    if (auto f = PLAT_ENTER("PKT_SetSockOpt", "fd=%d level=%d name=0x%x value=%d", iFd, iLevel, iName, value))
        return faultErrno(*f);
    if (pValue == nullptr || uiLen != sizeof value) {
        errno = EINVAL;
        return -1;
    }
    return plat::backend().packets().setOption(iFd, iLevel, iName, value);
}

ssize_t PKT_RecvMsg(int iFd, struct msghdr* pstMsg, int iFlags)
{
    if (auto f = PLAT_ENTER("PKT_RecvMsg", "fd=%d flags=0x%x", iFd, iFlags)) return faultErrno(*f);
    auto& b = plat::backend();
    if (pstMsg == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (!b.packets().known(iFd)) {
        errno = ENOTSOCK;
        return -1;
    }
    // One buffer per thread for every read: the datagram is taken apart
    // and copied out before the call returns.
    thread_local std::vector<uint8_t> buf(kDatagramMax);
    ssize_t n = ::recv(iFd, buf.data(), buf.size(), iFlags & MSG_DONTWAIT);
    if (n <= 0) return n;
    auto d = sim::viewDatagram(std::span<const uint8_t>(buf.data(), static_cast<size_t>(n)));
    if (!d) {
        errno = EIO;
        return -1;
    }
    pstMsg->msg_flags = 0;
    if (pstMsg->msg_name != nullptr) {
        std::memcpy(pstMsg->msg_name, &d->addr, std::min<size_t>(pstMsg->msg_namelen, sizeof d->addr));
        pstMsg->msg_namelen = sizeof d->addr;
    }
    size_t ctrlRoom = pstMsg->msg_control != nullptr ? pstMsg->msg_controllen : 0;
    pstMsg->msg_controllen = 0;
    if (b.packets().wantsCtrl(iFd)) {
        if (ctrlRoom >= sizeof d->ctrl) {
            std::memcpy(pstMsg->msg_control, &d->ctrl, sizeof d->ctrl);
            pstMsg->msg_controllen = sizeof d->ctrl;
        } else {
            pstMsg->msg_flags |= MSG_CTRUNC;
        }
    }
    size_t copied = 0;
    for (size_t i = 0; i < pstMsg->msg_iovlen && copied < d->data.size(); ++i) {
        size_t take = std::min(pstMsg->msg_iov[i].iov_len, d->data.size() - copied);
        std::memcpy(pstMsg->msg_iov[i].iov_base, d->data.data() + copied, take);
        copied += take;
    }
    if (copied < d->data.size()) pstMsg->msg_flags |= MSG_TRUNC;
    return static_cast<ssize_t>(copied);
}
