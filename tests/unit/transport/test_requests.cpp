// What the daemon asks of the switch over the socket transport: forwarding
// programming with the driver's answers, faults armed from pbb-simctl, and
// frames injected into the daemon's packet socket.
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/l2vpn.h"
#include "platform/l2vpn_age.h"
#include "platform/lipc.h"
#include "platform/model/inproc.h"
#include "platform/model/line_report.h"
#include "platform/pktsock.h"
#include "platform/result.h"
#include "platform/testing.h"
#include "platform/transport/unix_io.h"
#include "platform/vlan.h"
#include "unit/transport/sim_child.h"

namespace {

using nlohmann::json;

uint32_t ignoreVsiEvent(uint32_t, const L2VPN_VSI_INFO_S*) { return 0; }

L2VPN_MINM_ENTRY_S entry(uint32_t vsi, uint32_t isid, uint8_t last, uint32_t bvlan, uint32_t* port = nullptr)
{
    L2VPN_MINM_ENTRY_S e{};
    e.uiVsiIndex = vsi;
    e.uiISid = isid;
    const uint8_t bmac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, last}, cmac[6] = {0x02, 0, 0, 0, 0, last};
    std::memcpy(e.aucBMac, bmac, 6);
    std::memcpy(e.aucCMac, cmac, 6);
    e.uiAllOnes = 0xFFFFFFFF;
    e.usAllOnes = 0xFFFF;
    e.uiEntryFlags = 0x5;
    e.uiBVlan = bvlan;
    e.uiPortNum = port != nullptr ? 1 : 0;
    e.puiPortList = port;
    return e;
}

// Forwarding calls as a client makes them; every result kept, in order.
struct Calls {
    int fd = -1;
    std::vector<uint32_t> rc;

    void reg()
    {
        fd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, ignoreVsiEvent);
        rc.push_back(fd >= 0 ? 0 : 1);
    }
    void uc(uint32_t vsi, uint8_t last, uint32_t port) { mc(vsi, {port}, L2VPN_MINM_ADD_UC, last); }
    void del(uint32_t vsi, uint8_t last, uint32_t op = L2VPN_MINM_DEL_UC)
    {
        L2VPN_MINM_ENTRY_S e = entry(vsi, 10000 + vsi, last, 100);
        rc.push_back(L2VPN_DelMinMEntry(fd, L2VPN_CLIENT_MINM, op, &e));
    }
    // A multicast add (a chunk of the port set), a port added or removed.
    void mc(uint32_t vsi, std::vector<uint32_t> ports, uint32_t op = L2VPN_MINM_ADD_MC, uint8_t last = 0xEE)
    {
        L2VPN_MINM_ENTRY_S e = entry(vsi, 10000 + vsi, last, 100);
        e.uiPortNum = static_cast<uint32_t>(ports.size());
        e.puiPortList = ports.data();
        rc.push_back(L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, op, &e));
    }
    void flush() { rc.push_back(L2VPN_FlushPwEntry(fd)); }
    void window(uint32_t phase) { rc.push_back(L2VPN_SendGrEvent(fd, L2VPN_CLIENT_MINM, phase)); }
    void pbb(uint32_t ifIndex) { rc.push_back(L2VPN_SetInterface(fd, ifIndex, L2VPN_IF_PBB_ENABLE)); }
    void encap(uint32_t vsi, uint32_t attr, uint32_t value) { rc.push_back(L2VPN_SetVSI(fd, vsi, attr, &value)); }
};

// The comparisons' switch: the default one with room for three unicast
// entries a VSI and six in all.
std::string smallTopology() { return simcmd::defaultTopology() + "\nl2vpn limits --per-vsi 3 --total 6\n"; }

// A day of forwarding programming, good and refused: limits, a multicast
// entry made in chunks, a VSI removed with its entries by the switch,
// records waiting when a request follows, a failed flush, a refresh window,
// room that the window's end gives back, and the registration ended by the
// service going away. Commands change the switch between calls. handOver,
// when given, ends the client inside the refresh window and registers the
// next one: that client finds the tables, the window's marks, the staged
// deletion and the unfinished multicast add as the first one left them.
std::vector<uint32_t> program(const std::function<void(const char*)>& command,
                              const std::function<void(Calls&)>& handOver = nullptr)
{
    Calls c;
    c.reg();
    for (auto [vsi, last, port] : {std::tuple{1u, 1, 1u}, {1u, 2, 2u}, {2u, 3, 4u}, {77u, 4, 1u} /* no such VSI */, {1u, 5, 9999u}})
        c.uc(vsi, uint8_t(last), port);  // the last: no such port
    c.flush();
    c.uc(1, 6, 1);
    c.uc(1, 7, 1);  // a fourth in VSI 1
    c.uc(1, 1, 2);  // a known key moves: no room needed
    c.uc(3, 8, 1);
    c.uc(3, 9, 2);
    c.uc(3, 10, 1);  // a seventh in all
    c.mc(1, {1, 2, 4});
    c.mc(1, {5, 4});                       // the next chunk of the same set
    c.mc(1, {1}, L2VPN_MINM_DEL_MC_PORT);  // a port of the first chunk
    c.mc(1, {6}, L2VPN_MINM_ADD_MC_PORT);
    c.mc(1, {3}, L2VPN_MINM_DEL_MC_PORT);  // not in the set
    c.mc(1, {7});                          // after a refusal: a new set
    c.mc(1, {2}, L2VPN_MINM_DEL_MC_PORT);
    c.mc(2, {1}, L2VPN_MINM_DEL_MC_PORT);  // no entry
    c.mc(2, {1, 2});
    c.flush();
    command("vsi del vsi-blue");
    command("vsi add 3 vsi-blue 10030");
    c.uc(3, 10, 1);  // VSI 3 came back empty: room again
    c.del(1, 2);
    c.del(1, 2);
    c.del(1, 2, L2VPN_MINM_ADD_UC);  // wrong call for the operation
    c.uc(2, 11, 4);                  // waits for the request after it
    c.mc(2, {1, 2});
    c.pbb(1);
    c.mc(2, {4});  // a port's mode was set between: a new set
    c.mc(2, {1}, L2VPN_MINM_DEL_MC_PORT);
    c.pbb(7);  // slot 3 has no MAC-in-MAC
    c.encap(2, L2VPN_VSI_ATTR_ENCAP, 5);
    c.encap(2, 9, 5);
    c.del(3, 10);
    plat::testing::failCall("L2VPN_FlushPwEntry", 7);
    c.flush();
    c.window(L2VPN_GR_BEGIN);
    c.uc(2, 3, 4);
    c.mc(1, {1, 2});
    c.window(7);
    if (handOver) handOver(c);
    c.mc(1, {4});                          // extends the set
    c.mc(1, {1}, L2VPN_MINM_DEL_MC_PORT);  // a port of its first chunk
    c.uc(1, 7, 1);                         // VSI 1 has room: 2's deletion is staged
    c.window(L2VPN_GR_END);
    for (uint8_t last : {12, 13, 14, 15}) c.uc(1, last, 2);  // the window's end left VSI 1 with 7: two fit
    c.del(1, 0, L2VPN_MINM_DEL_MC);
    c.del(1, 0, L2VPN_MINM_DEL_MC);
    c.flush();
    c.rc.push_back(L2VPN_RequestBatch(c.fd, 3));
    command("service down l2vpn");  // the registration ends
    c.uc(1, 16, 1);
    c.flush();
    return c.rc;
}

// What the switch shows of its forwarding state and of the calls it served.
std::string shown(const std::function<std::string(const std::vector<std::string>&)>& show)
{
    std::string all;
    for (const char* w : {"show unicast", "show unicast --staged", "show multicast", "show multicast --staged",
                          "show pbb-ports", "show encap", "show refresh", "show calls"})
        all += show(simcmd::split(w));
    return all;
}

using Requests = pbbtest::TransportTest;

// Forwarding records are answered by the library and reach pbb-sim without
// a reply; the answers, the switch's tables and the calls it served are
// those of the same switch in process, seen by pbb-simctl as soon as the
// last call returned: for one client, and for a client that comes after
// another (its answers are those of a client continuing in process).
TEST_F(Requests, ForwardingProgrammingGivesTheDriversAnswersAndState)
{
    for (bool later : {false, true}) {
        SCOPED_TRACE(later ? "a client that comes later" : "one client");
        std::function<void(Calls&)> handOverRef, handOverSim;  // none for one client
        if (later) {
            handOverRef = [](Calls& c) {
                L2VPN_Deregister(c.fd);  // as the connection's end ends the registration
                c.reg();
            };
            handOverSim = [](Calls& c) {
                plat::inproc::reset();  // the connection ends, and with it the registration
                connect();
                c.reg();
            };
        }
        auto& ref = plat::inproc::reset();
        ASSERT_EQ(simcmd::loadTopology(ref, smallTopology(), "reference").status, 0);
        auto expected = program(
            [&](const char* line) { EXPECT_EQ(simcmd::run(ref, nullptr, simcmd::split(line), false).status, 0); },
            handOverRef);
        auto expectedState = shown([&](const auto& w) { return simcmd::run(ref, nullptr, w, true).out; });

        pbbtest::SimChild sim(smallTopology());
        connect();
        EXPECT_EQ(program([](const char* line) { pbbtest::must(simcmd::split(line)); }, handOverSim), expected);
        EXPECT_EQ(shown([](const auto& w) { return pbbtest::simctl(w, true).out; }), expectedState);
    }
}

// An entry the library accepted but the switch cannot hold after all (its
// limits changed while the record was on its way) is not in the switch's
// tables and comes back as the line cards report such an entry: lacking
// resources on every slot that would hold it. The daemon's withdrawal of
// it then finds nothing to delete, and the tables of the switch and of the
// library agree again.
TEST_F(Requests, AnEntryTheSwitchCannotHoldAfterAllComesBackAsANoResourceReport)
{
    pbbtest::SimChild sim;
    connect();
    int reports = LIPC_Socket(SOCK_STREAM, LIPC_PROTO_REPORT);
    LipcSockAddr at{.ucLen = 16, .ucFamily = PLAT_AF_LIPC, .usPort = htons(L2VPN_AGE_PORT), .aucNode = {0x80}, .aucZero = {}};
    ASSERT_EQ(LIPC_Bind(reports, &at, sizeof at), 0);
    Calls c;
    c.reg();
    c.uc(1, 1, 1);
    c.flush();
    c.uc(1, 2, 2);  // answered here: room for it
    ASSERT_NO_FATAL_FAILURE(pbbtest::must(simcmd::split("l2vpn limits --per-vsi 1")));
    c.flush();
    sim::NoHardResReport expected;
    for (uint16_t slot : {1, 2})  // the MAC-in-MAC slots
        expected.entries.push_back({.slot = slot, .bvlan = 100, .vsi = 1, .isid = 10001, .bmac = {0, 0x11, 0x22, 0x33, 0x44, 2}});
    std::vector<uint8_t> msg(L2VPN_AGE_MSG_MAX);
    ASSERT_TRUE(pbbtest::waitFor(reports, POLLIN));
    msg.resize(static_cast<size_t>(std::max<ssize_t>(0, ::recv(reports, msg.data(), msg.size(), 0))));
    ::close(reports);
    EXPECT_EQ(msg, sim::encodeReport({expected}));

    c.del(1, 2);  // the daemon withdraws what the report names
    c.uc(1, 3, 1);
    c.flush();
    EXPECT_EQ(c.rc, (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, PLAT_ERR_NO_RESOURCE, 0})) << "VSI 1 full on both sides";
    auto records = pbbtest::simStats()["records"];
    EXPECT_EQ(records["mismatched"], 2) << "the addition, and the withdrawal of what the switch never held";
    EXPECT_EQ(records["reported"], 1);
}

// A flush returns before pbb-sim has read its records; a command given
// afterwards finds them applied, although pbb-sim takes several rounds of
// its loop to read them and one to read the command (it is stopped until
// both wait for it; the control connection was served before, so its
// accept is no round). Records that pile up without a flush go out early.
TEST_F(Requests, ACommandAfterAFlushFindsItsRecordsApplied)
{
    pbbtest::SimChild sim;
    connect();
    Calls c;
    c.reg();
    plat::UniqueFd ctl = plat::transport::connectUnix(plat::transport::controlSocketPath(), SOCK_STREAM, false);
    ASSERT_TRUE(ctl.valid());
    auto ask = [&](const std::string& words) {
        std::string line = plat::transport::encodeRequest({simcmd::split(words), true, ""}) + "\n";
        return ::send(ctl.get(), line.data(), line.size(), 0) == static_cast<ssize_t>(line.size());
    };
    auto answer = [&] {
        std::string reply, error;
        char buf[65536];
        for (ssize_t n = 1; reply.find('\n') == std::string::npos && n > 0 && pbbtest::waitFor(ctl.get(), POLLIN);)
            reply.append(buf, static_cast<size_t>(std::max<ssize_t>(0, n = ::recv(ctl.get(), buf, sizeof buf, 0))));
        auto r = plat::transport::decodeReply(reply.substr(0, reply.find('\n')), &error);
        EXPECT_TRUE(r) << error;
        return r ? json::parse(r->out) : json();
    };
    ASSERT_TRUE(ask("show stats"));
    (void)answer();
    int status = 0;
    ASSERT_TRUE(::kill(sim.pid(), SIGSTOP) == 0 && ::waitpid(sim.pid(), &status, WUNTRACED) == sim.pid());
    for (uint32_t k = 0; k < 2100; ++k) {  // about 150 KB
        uint32_t port = 1;
        L2VPN_MINM_ENTRY_S e = entry(1 + k % 3, 10001 + k % 3, 0, 100, &port);
        e.aucBMac[3] = static_cast<uint8_t>(k >> 8);
        e.aucBMac[4] = static_cast<uint8_t>(k);
        ASSERT_EQ(L2VPN_AddMinMEntry(c.fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e), PLAT_OK);
    }
    c.flush();
    bool sent = ask("show unicast");
    ::kill(sim.pid(), SIGCONT);
    ASSERT_TRUE(sent && c.rc.back() == PLAT_OK);
    EXPECT_EQ(answer()["unicast"].size(), 2100u);
}

// Records far beyond pbb-sim's record ring (here of 4 KiB, some sixty
// records) arrive whole and in their order, each deletion after the
// addition it undoes, also when more wait for a flush than the ring holds:
// the answers, the tables and the calls pbb-sim served are those of the
// same calls in process. pbb-sim, idle at first, is woken by the first
// record's bell.
TEST_F(Requests, RecordsBeyondTheRingArriveWholeAndInOrder)
{
    auto program = [] {
        Calls c;
        c.reg();
        uint32_t port = 1;
        auto keyed = [&](uint32_t k) {
            L2VPN_MINM_ENTRY_S e = entry(1 + k % 3, 10001 + k % 3, 0, 100, &port);
            e.aucBMac[3] = static_cast<uint8_t>(k >> 8);
            e.aucBMac[4] = static_cast<uint8_t>(k);
            return e;
        };
        for (uint32_t k = 0; k < 1200; ++k) {
            L2VPN_MINM_ENTRY_S e = keyed(k);
            c.rc.push_back(L2VPN_AddMinMEntry(c.fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e));
            if (k % 4 == 3) {
                L2VPN_MINM_ENTRY_S gone = keyed(k - 1);
                c.rc.push_back(L2VPN_DelMinMEntry(c.fd, L2VPN_CLIENT_MINM, L2VPN_MINM_DEL_UC, &gone));
            }
            if (k % 5 == 4 && k < 1000) c.flush();  // the last 250 records wait for one flush
        }
        c.flush();
        return c.rc;
    };
    auto& ref = plat::inproc::reset();
    ASSERT_EQ(simcmd::loadTopology(ref, simcmd::defaultTopology(), "reference").status, 0);
    auto expected = program();
    auto expectedState = shown([&](const auto& w) { return simcmd::run(ref, nullptr, w, true).out; });

    pbbtest::SimChild sim(simcmd::defaultTopology(), plat::transport::RecordRing::kMinCapacity);
    connect();
    EXPECT_EQ(program(), expected);
    EXPECT_EQ(shown([](const auto& w) { return pbbtest::simctl(w, true).out; }), expectedState);
    EXPECT_GE(static_cast<plat::transport::SocketBackend&>(plat::backend()).link().bellsRung(), 1u);
}

// Records that wait for a flush when the simulator goes go with the
// connection: the next simulator gets only what is programmed after the
// library connected to it, and keeps the connection.
TEST_F(Requests, RecordsNotSentWhenTheSimulatorWentGoWithTheConnection)
{
    auto sim = std::make_unique<pbbtest::SimChild>();
    connect();
    Calls gone;
    gone.reg();
    gone.uc(1, 1, 1);
    sim->kill();
    sim = std::make_unique<pbbtest::SimChild>();
    L2VPN_Deregister(gone.fd);
    Calls c;
    c.reg();
    c.uc(1, 2, 1);
    c.flush();
    c.pbb(1);
    EXPECT_EQ(c.rc, (std::vector<uint32_t>{0, PLAT_OK, PLAT_OK, PLAT_OK}));
    auto shown = json::parse(pbbtest::simctl({"show", "unicast"}, true).out)["unicast"];
    ASSERT_EQ(shown.size(), 1u) << shown;
    EXPECT_EQ(shown[0]["bmac"], "00:11:22:33:44:02");
}

TEST_F(Requests, FaultsArmedFromTheSimulatorFailTheDaemonsCalls)
{
    pbbtest::SimChild sim;
    // Armed before the daemon connects: handed over with the snapshot.
    ASSERT_NO_FATAL_FAILURE(pbbtest::must({"fail", "VLAN_GetMaxVlanID", "--result", "9", "--times", "2"}));
    connect();
    EXPECT_EQ(VLAN_GetMaxVlanID(), 9);
    EXPECT_EQ(VLAN_GetMaxVlanID(), 9);
    EXPECT_EQ(VLAN_GetMaxVlanID(), 4094);

    int fd = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, ignoreVsiEvent);
    ASSERT_GE(fd, 0);
    ASSERT_NO_FATAL_FAILURE(pbbtest::must(simcmd::split("fail L2VPN_AddMinMEntry --result 4 --times 0")));
    uint32_t port = 1;
    L2VPN_MINM_ENTRY_S e = entry(1, 10010, 1, 100, &port);
    EXPECT_EQ(L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e), PLAT_ERR_NO_RESOURCE);
    EXPECT_EQ(L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e), PLAT_ERR_NO_RESOURCE);
    ASSERT_NO_FATAL_FAILURE(pbbtest::must({"fail", "clear"}));
    EXPECT_EQ(L2VPN_AddMinMEntry(fd, L2VPN_CLIENT_MINM, L2VPN_MINM_ADD_UC, &e), PLAT_OK);
}

// The packet socket opened and set up as the daemon does it.
int openPacketSocket()
{
    int fd = PKT_Socket(PKT_AF_PACKET, SOCK_RAW, PKT_PROTO_CPU_COPY);
    if (fd < 0) return fd;
    PKT_SOCKADDR_S addr{};
    addr.ucLen = sizeof addr;
    addr.ucFamily = PKT_AF_PACKET;
    addr.usEtherType = PKT_ETHERTYPE_ITAG;
    int one = 1;
    if (PKT_Bind(fd, &addr, sizeof addr) != 0 ||
        PKT_SetSockOpt(fd, PKT_SOL_PACKET, PKT_OPT_IFINDEX_CTRL, &one, sizeof one) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A burst larger than a socket holds arrives whole, in order: injection
// waits while the daemon has frames to read. Before the daemon reads, the
// injector stops within one step of the socket becoming full. (The frames'
// fields are checked end to end by the system tests.)
TEST_F(Requests, ABurstLargerThanTheSocketHoldsArrivesWholeAndInOrder)
{
    pbbtest::SimChild sim;
    connect();
    int l2vpn = L2VPN_Register(L2VPN_INSTANCE_DEFAULT, 27, L2VPN_CLIENT_MINM, ignoreVsiEvent);
    ASSERT_EQ(L2VPN_SetInterface(l2vpn, 1, L2VPN_IF_PBB_ENABLE), PLAT_OK);
    int fd = openPacketSocket();
    ASSERT_GE(fd, 0);
    const int count = 20000;
    ASSERT_NO_FATAL_FAILURE(pbbtest::must(simcmd::split("frame burst 1 20000 --isid 10010 --bsa 00:bb:00:00:00:00 --bvlan 100")));
    json frames;
    ASSERT_TRUE(pbbtest::eventually([&] { return (frames = pbbtest::simStats()["frames"])["queued"] != 0; })) << frames.dump();
    ASSERT_LE(frames["queued"].get<size_t>(), pbbsim::Injector::kStepMax) << frames.dump();
    EXPECT_GT(frames["waiting"].get<int>(), 0) << frames.dump();
    for (int got = 0; got < count; ++got) {
        ASSERT_TRUE(pbbtest::waitFor(fd, POLLIN)) << "after " << got << " frames";
        PKT_SOCKADDR_S addr{};
        uint8_t buf[256];
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        msg.msg_name = &addr;
        msg.msg_namelen = sizeof addr;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        ASSERT_GT(PKT_RecvMsg(fd, &msg, MSG_DONTWAIT), 0);
        ASSERT_EQ(addr.aucSrcMac[4] << 8 | addr.aucSrcMac[5], got) << "frame " << got;
    }
    auto stats = pbbtest::simStats()["frames"];
    EXPECT_EQ(stats["dropped"], 0);
    EXPECT_EQ(stats["delivered"], count);
    ::close(fd);
}

}  // namespace
