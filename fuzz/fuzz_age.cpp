// Bytes from the line cards: whatever one message to the report socket
// brings is handled by the daemon's report handling over the in-process
// platform, with learned entries held by two slots and the event debug
// switch on (its tables are built; the log lines are dropped). Afterwards
// every entry still in the table is held by some slot, and the driver holds
// exactly the table's entries. The databases are not opened.
#include "daemon/pbb_common.h"
#include "daemon/pbb_ifcb.h"
#include "daemon/pbb_l2vpn.h"
#include "daemon/pbb_log.h"
#include "daemon/pbb_mcpw.h"
#include "daemon/pbb_ucpw.h"
#include "daemon/pbb_vsi.h"
#include "fuzz/fuzz_check.h"
#include "platform/model/inproc.h"
#include "platform/testing.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

uint32_t ignoreEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

void setUp()
{
    plat::testing::reset();
    plat::testing::failCall("vsyslog2", 0, UINT_MAX);
    auto& sw = plat::inproc::reset();
    sw.setSlotRange(1, 3);
    sw.addSlot(1, {.minm = true});
    sw.addSlot(3, {.minm = true});
    uint32_t port = sw.addPort("eth-1/0/1", 1);
    sw.addVsi(1, "vsi-a", 1001);
    g_iL2vpnEvtFd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 0, PBB_L2VPN_CLIENT, ignoreEvent);
    FUZZ_CHECK(g_iL2vpnEvtFd >= 0);
    FUZZ_CHECK(PBB_vsi_Init() + PBB_ifcb_Init() + PBB_ucpw_Init() + PBB_mcpw_Init() == 0);
    PbbVsi* v = PBB_vsi_CreateVsi(1);
    FUZZ_CHECK(v != nullptr);
    PBB_vsi_SetISid(1, 1001);
    v->usBVlan = 10;
    static const uint8_t noCMac[6] = {};
    for (uint8_t last = 1; last <= 4; ++last) {
        const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, 0, last};
        FUZZ_CHECK(PBB_l2vpn_AddUcPw(1, 1001, 10, port, mac, noCMac) == 0);
        FUZZ_CHECK(PBB_ucpw_Add(1, 1001, 10, mac, port) == PBB_OK);
    }
    g_uiPbbDbgFlag = PBB_DBG_EVENT;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size = std::min<size_t>(size, PBB_AGE_BUF_LEN);
    if (size == 0) return 0;
    int sv[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv) == 0);
    setUp();
    FUZZ_CHECK(send(sv[0], data, size, 0) == static_cast<ssize_t>(size));
    FUZZ_CHECK(_pbb_l2vpn_ProcAgeMsg(PBB_EV_IN, sv[1]) == 0);

    uint32_t held = 0;
    for (PbbUcPw* e = PBB_ucpw_GetFirst(PBB_UCPW_GET_ALL, nullptr); e != nullptr;
         e = PBB_ucpw_GetNext(PBB_UCPW_GET_ALL, e)) {
        FUZZ_CHECK(Bitmap_IsEmpty(e->pstAgeStatus) == 0);
        ++held;
    }
    FUZZ_CHECK(held == PBB_ucpw_GetTotalNum());
    FUZZ_CHECK(plat::inproc::model().fib().committed().uc.size() == held);
    close(sv[0]);
    close(sv[1]);
    tearDown();
    return 0;
}
