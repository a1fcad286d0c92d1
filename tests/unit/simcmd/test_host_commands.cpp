// Commands that reach beyond the switch tables: line-card reports, frames,
// pcap files, bound links and faults reach the host with the right
// arguments; without a host they fail plainly. Raw packet-socket
// datagrams, the log of programming calls and the refresh window.
#include "platform/l2vpn_age.h"
#include "platform/model/line_report.h"
#include "platform/model/pbb_frame.h"
#include "simcmd_test.h"
#include "support/tempdir.h"
#include "tools/simcmd/frames.h"

namespace {

using simcmdtest::CommandTest;
using simcmdtest::expectHolds;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using J = nlohmann::json;

class HostCommands : public CommandTest {
protected:
    // One unicast add on eth-1/0/1 in VSI 1.
    uint32_t addUnicast(uint8_t last) { return program(L2VPN_MINM_ADD_UC, 1, {0x00, 0xbb, 0, 0, 0, last}, {1}); }
};

TEST_F(HostCommands, ReportsAreEncodedAsTheLineCardsSendThemLinksAndFaultsReachTheHostAndNeedIt)
{
    sim::AgeReport cancelled{.slot = 1, .ageType = L2VPN_AGE_TYPE_CANCELLED, .vsi = 999, .isid = 5,
                             .entries = {{{2, 0, 0, 0, 0, 9}, 7}}};
    sim::NoHardResReport nohw;
    nohw.entries = {{.slot = 1, .bvlan = 100, .vsi = 2, .isid = 10020, .bmac = {2, 0, 0, 0, 0, 1}},
                    {.slot = 2, .bvlan = 101, .vsi = 3, .isid = 10030, .bmac = {2, 0, 0, 0, 0, 2}}};
    const std::pair<const char*, sim::ReportTlv> cases[] = {
        {"report cancelled_aged 1 999 5 02:00:00:00:00:09/7", cancelled},  // an unknown VSI index as given
        {"report nohw 1/vsi-green/10020/02:00:00:00:00:01/100 2/3/10030/02:00:00:00:00:02/101", nohw},
        {"report raw 7 0xdeadbeef", sim::RawTlv{7, {0xde, 0xad, 0xbe, 0xef}}}};
    for (const auto& [line, tlv] : cases) {
        sink.clear();
        ok(line);
        ASSERT_EQ(sink.reports.size(), 1u) << line;
        EXPECT_EQ(sink.reports[0], sim::encodeReport({tlv})) << line;
    }

    // Links and faults reach the host and need it.
    for (const char* line : {"link bind veth-b1 eth-1/0/2 --netns pbbtest-ns", "link bind veth-b2 5",
                             "link unbind veth-b1", "fail L2VPN_AddMinMEntry --result 4 --times 3",
                             "fail PKT_Socket --result -1 --times 0", "fail IF_Event_Init", "fail clear"})
        ok(line);
    EXPECT_THAT(fake.asked, ElementsAre("bind veth-b1 pbbtest-ns 2", "bind veth-b2  5", "unbind veth-b1",
                                        "fail L2VPN_AddMinMEntry 4 3", "fail PKT_Socket -1 0", "fail IF_Event_Init 1 1",
                                        "fail clear"));
    EXPECT_EQ(json("show stats")["framesInjected"], 7);
    EXPECT_EQ(json("show all")["stats"]["framesInjected"], 7);

    host = nullptr;
    for (const char* line : {"frame send eth-1/0/1 --isid 1", "frame burst 1 2 --isid 1", "frame raw eth-1/0/1",
                             "link bind v0 1", "link unbind v0", "fail X", "fail clear", "show stats"}) {
        auto o = cmd(line);
        EXPECT_EQ(o.status, 1) << line;
        EXPECT_THAT(o.err, HasSubstr("needs the running simulator")) << line;
    }
}

TEST_F(HostCommands, FramesAreBuiltFromTheirFieldsAndInjected)
{
    ok("frame send eth-1/0/2 --bda 02:00:00:00:00:aa --bsa 02:00:00:00:00:bb --bvlan 100 --pcp 3 --isid 10010 "
       "--flags 0x40 --cda 00:00:5e:00:53:01 --csa 00:00:5e:00:53:02 --payload 0800cafe");
    ASSERT_EQ(fake.injects.size(), 1u);
    EXPECT_EQ(fake.injects[0].port, 2u);
    EXPECT_EQ(fake.injects[0].rate, 0.0);
    std::vector<uint8_t> want = {0x02, 0, 0, 0, 0, 0xaa, 0x02, 0, 0, 0, 0, 0xbb, 0x88, 0xa8, 0x60, 0x64,
                                 0x88, 0xe7, 0x40, 0x00, 0x27, 0x1a, 0x00, 0x00, 0x5e, 0x00, 0x53, 0x01,
                                 0x00, 0x00, 0x5e, 0x00, 0x53, 0x02, 0x08, 0x00, 0xca, 0xfe};
    EXPECT_THAT(fake.injects[0].frames, ElementsAre(want));

    // Defaults: the group address of the I-SID, B-VLAN 1, a minimum customer frame.
    ok("frame send 4 --isid 10020 --tpid 0x8100");
    const auto& f = fake.injects.at(1).frames.at(0);
    auto d = sim::decodeFrame(f);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bda, (sim::Mac{0x01, 0x1e, 0x83, 0x00, 0x27, 0x24}));
    EXPECT_EQ(d->bvid, 1);
    EXPECT_EQ(f[12] * 256 + f[13], 0x8100);
    EXPECT_EQ(f.size(), 18u + 4 + 12 + 48);  // backbone header, I-SID, C-DA/C-SA, 64-byte customer frame less FCS

    // A pcap needs no simulator to be written. (Bursts, rates and pcaps
    // replayed are checked end to end by the system tests.)
    host = nullptr;
    pbbtest::TempDir dir;
    ok("frame write " + dir.sub("w.pcap") + " --count 3 --isid 5 --bvlan 7");
    EXPECT_EQ(sim::decodeFrame(simcmd::readPcap(dir.sub("w.pcap")).at(2))->bvid, 7);
}

struct Raw {
    const char* args;
    uint32_t ctrlLen, ctrlType, ifIndex;
    size_t dataLen;
    uint16_t etherType;
};

void PrintTo(const Raw& r, std::ostream* os) { *os << r.args; }

class RawDatagram : public CommandTest, public ::testing::WithParamInterface<Raw> {};

TEST_P(RawDatagram, ReachesThePacketSocketsAsGiven)
{
    const Raw& r = GetParam();
    ok(std::string("frame raw ") + r.args);
    ASSERT_EQ(sink.frames.size(), 1u);
    auto d = sim::viewDatagram(sink.frames[0]);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->ctrl.uiLen, r.ctrlLen);
    EXPECT_EQ(d->ctrl.uiType, r.ctrlType);
    EXPECT_EQ(d->ctrl.uiIfIndex, r.ifIndex);
    EXPECT_EQ(d->data.size(), r.dataLen);
    EXPECT_EQ(d->addr.usEtherType, r.etherType);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RawDatagram,
    ::testing::Values(Raw{"eth-1/0/2 --isid 10010", 16, 1, 2, 64, 0x88E7},
                      Raw{"eth-1/0/3 --isid 10010", 16, 1, 100, 64, 0x88E7},  // a member carries its aggregate
                      Raw{"eth-1/0/2 --ctrl-type 7 --ifindex 0", 16, 7, 0, 64, 0x88E7},
                      Raw{"eth-1/0/2 --no-ctrl", 0, 0, 0, 64, 0x88E7},
                      Raw{"eth-1/0/2 --isid 10010 --len 5", 16, 1, 2, 5, 0x88E7},
                      Raw{"eth-1/0/2 --data 00002710 --ethertype 0x8100", 16, 1, 2, 4, 0x8100}),
    [](const ::testing::TestParamInfo<Raw>& i) { return "Case" + std::to_string(i.index); });

TEST_F(HostCommands, CallsAreListedInOrderWithTheirRecordsAndResults)
{
    ASSERT_EQ(addUnicast(1), 0u);
    ASSERT_EQ(m.flush(), 0u);
    EXPECT_NE(m.setPbbMode(1, 9), 0u);
    ASSERT_EQ(m.refreshWindow(L2VPN_CLIENT_MINM, L2VPN_GR_BEGIN), 0u);
    J all = json("show calls");
    ASSERT_EQ(all["calls"].size(), 4u);
    EXPECT_EQ(all["last"], 4);
    expectHolds(all["calls"][0], J{{"seq", 1}, {"call", "L2VPN_AddMinMEntry"}, {"result", 0}, {"op", L2VPN_MINM_ADD_UC},
                                   {"ports", J::array({1})}});
    expectHolds(all["calls"][0]["entry"], J{{"bmac", "00:bb:00:00:00:01"}, {"isid", 10010}, {"flags", 0x14},
                                            {"ones32", 0xFFFFFFFFu}});
    EXPECT_EQ(all["calls"][1]["call"], "L2VPN_FlushPwEntry");
    expectHolds(all["calls"][2], J{{"call", "L2VPN_SetInterface"}, {"mode", 9}});
    EXPECT_NE(all["calls"][2]["result"], 0);
    EXPECT_EQ(all["calls"][3]["phase"], L2VPN_GR_BEGIN);
    EXPECT_EQ(json("show calls --since 2")["calls"][0]["seq"], 3);
    J page = json("show calls --since 1 --max 1");
    EXPECT_EQ(page["calls"].size(), 1u);
    expectHolds(page, J{{"more", true}, {"next", 2}});
    J none = json("show calls --since 4");
    EXPECT_TRUE(none["calls"].empty());
    EXPECT_EQ(none["next"], 4);
}

TEST_F(HostCommands, RefreshShowsTheWindowAndWhatItStillMarks)
{
    ASSERT_EQ(addUnicast(1) + addUnicast(2) + m.flush(), 0u);
    EXPECT_FALSE(json("show refresh")["refresh"]["open"].get<bool>());
    ASSERT_EQ(m.refreshWindow(L2VPN_CLIENT_MINM, L2VPN_GR_BEGIN), 0u);
    ASSERT_EQ(addUnicast(2), 0u);
    J open = json("show refresh")["refresh"];
    EXPECT_EQ(open["open"], true);
    EXPECT_EQ(open["stale"]["unicast"], 1);
    ASSERT_EQ(m.refreshWindow(L2VPN_CLIENT_MINM, L2VPN_GR_END), 0u);
    J closed = json("show refresh")["refresh"];
    EXPECT_EQ(closed["open"], false);
    EXPECT_EQ(closed["stale"]["unicast"], 0);
}

}  // namespace
