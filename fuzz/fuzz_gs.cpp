// Bytes from a management client: whatever one read brings is served by
// the management service over the in-process platform, with VSIs, a
// multicast entry and learned entries for the requests to find. Every
// reply is a complete TLV of a reply type with the length of that type.
// The databases are not opened (their calls fail and are not examined) and
// the log lines are dropped, so that nothing is written to files. The
// client reads the replies on a thread while they are served, as a client
// that reads does: one read's replies can be more than a connection holds.
#include "daemon/pbb_common.h"
#include "daemon/pbb_gs.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "fuzz/fuzz_check.h"
#include "platform/model/inproc.h"
#include "platform/stlv.h"
#include "platform/testing.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

uint32_t ignoreEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

void addVsi(uint32_t index, const char* name, uint32_t isid, uint16_t bvlan)
{
    PbbVsi* v = PBB_vsi_CreateVsi(index);
    FUZZ_CHECK(v != nullptr);
    memcpy(v->szVsiName, name, strlen(name));
    PBB_vsi_SetISid(index, isid);
    v->usBVlan = bvlan;
}

// A fresh switch and fresh tables for every input.
void setUp()
{
    plat::testing::reset();
    plat::testing::failCall("vsyslog2", 0, UINT_MAX);
    auto& sw = plat::inproc::reset();
    sw.setSlotRange(1, 2);
    sw.addSlot(1, {.minm = true});
    sw.setMaxVsiNum(16);
    std::vector<uint32_t> ports;
    for (int i = 1; i <= 3; ++i) {
        ports.push_back(sw.addPort("eth-1/0/" + std::to_string(i), 1));
        sw.setVlans(ports.back(), {10, 20});
    }
    sw.addVsi(1, "vsi-a", 1001);
    sw.addVsi(2, "vsi-b", 1002);
    g_iL2vpnEvtFd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 0, PBB_L2VPN_CLIENT, ignoreEvent);
    FUZZ_CHECK(g_iL2vpnEvtFd >= 0);
    FUZZ_CHECK(PBB_vsi_Init() + PBB_ifcb_Init() + PBB_ucpw_Init() + PBB_mcpw_Init() == 0);
    addVsi(1, "vsi-a", 1001, 10);
    addVsi(2, "vsi-b", 1002, 20);
    PbbMcPw* mc = PBB_mcpw_Create(1, 1001, 10);
    for (uint32_t p : ports) (void)PBB_mcpw_AddPort(mc, p);
    for (uint8_t last = 1; last <= 3; ++last) {
        const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, 0, last};
        (void)PBB_ucpw_Add(1, 1001, 10, mac, ports[last - 1]);
    }
}

void tearDown()
{
    PBB_mcpw_Exit();
    PBB_ucpw_Exit();
    PBB_ifcb_Exit();
    PBB_vsi_Exit();
    (void)L2VPN_Deregister(g_iL2vpnEvtFd);
    g_iL2vpnEvtFd = PBB_INVALID_FD;
    g_uiPbbDbgFlag = 0;
    plat::testing::reset();
}

uint32_t replyLen(uint16_t type)
{
    switch (type) {
    case PBB_GS_REPLY_DEBUG:
    case PBB_GS_REPLY_RESULT:
        return 4;
    case PBB_GS_REPLY_MC:
        return sizeof(PbbGsMcInfoMsg);
    case PBB_GS_REPLY_UC:
        return sizeof(PbbGsUcPwMsg);
    default:
        return 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size = std::min<size_t>(size, PBB_GS_BUF_LEN);
    int sv[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) == 0);
    setUp();
    std::vector<uint8_t> in;
    std::thread client([&in, fd = sv[0]] {
        uint8_t buf[8192];
        for (struct pollfd p {fd, POLLIN, 0};; (void)poll(&p, 1, -1)) {
            ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) in.insert(in.end(), buf, buf + n);
            if (n == 0 || (n < 0 && errno != EAGAIN)) return;
        }
    });
    if (size > 0) FUZZ_CHECK(send(sv[0], data, size, 0) == static_cast<ssize_t>(size));
    // One read, as the daemon makes it; then the end of data closes.
    if (size > 0) FUZZ_CHECK(_pbb_gs_RecvMsg(sv[1]) == PBB_OK);
    shutdown(sv[0], SHUT_WR);
    FUZZ_CHECK(_pbb_gs_RecvMsg(sv[1]) == PBB_ERR);
    shutdown(sv[1], SHUT_WR);
    client.join();
    for (size_t at = 0; at < in.size();) {
        uint16_t type = 0, len = 0;
        void* value = nullptr;
        (void)STLV_Get(in.data() + at, static_cast<uint16_t>(std::min<size_t>(in.size() - at, 0xFFFF)), &type, &len, &value);
        FUZZ_CHECK(value != nullptr);
        FUZZ_CHECK(replyLen(type) == len);
        at = static_cast<size_t>(static_cast<uint8_t*>(value) + len - in.data());
    }
    close(sv[0]);
    close(sv[1]);
    tearDown();
    return 0;
}
