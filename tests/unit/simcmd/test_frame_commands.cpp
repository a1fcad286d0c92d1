// Commands that need the simulator: frames, pcap files, bound links and
// faults reach the host with the right arguments; without a host they fail
// plainly; bad arguments never reach it.
#include <unistd.h>

#include <filesystem>

#include "platform/model/pbb_frame.h"
#include "simcmd_test.h"
#include "tools/simcmd/frames.h"

namespace {

using simcmdtest::CommandTest;
using simcmdtest::FakeHost;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class FrameCommands : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        host = &fake;
        dir = std::filesystem::temp_directory_path() / ("simcmd-frames-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string path(const char* n) const { return (dir / n).string(); }

    FakeHost fake;
    std::filesystem::path dir;
};

TEST_F(FrameCommands, SendBuildsTheFrameFromItsFields)
{
    ok("frame send eth-1/0/2 --bda 02:00:00:00:00:aa --bsa 02:00:00:00:00:bb --bvlan 100 --pcp 3 --isid 10010 "
       "--flags 0x40 --cda 00:00:5e:00:53:01 --csa 00:00:5e:00:53:02 --payload 0800cafe");
    ASSERT_EQ(fake.injects.size(), 1u);
    EXPECT_EQ(fake.injects[0].port, 2u);
    EXPECT_EQ(fake.injects[0].rate, 0.0);
    ASSERT_EQ(fake.injects[0].frames.size(), 1u);
    std::vector<uint8_t> want = {0x02, 0, 0, 0, 0, 0xaa, 0x02, 0, 0, 0, 0, 0xbb, 0x88, 0xa8, 0x60, 0x64,
                                 0x88, 0xe7, 0x40, 0x00, 0x27, 0x1a, 0x00, 0x00, 0x5e, 0x00, 0x53, 0x01,
                                 0x00, 0x00, 0x5e, 0x00, 0x53, 0x02, 0x08, 0x00, 0xca, 0xfe};
    EXPECT_EQ(fake.injects[0].frames[0], want);
}

TEST_F(FrameCommands, SendDefaultsToTheGroupAddressAndAMinimumCustomerFrame)
{
    ok("frame send 4 --isid 10020 --tpid 0x8100");
    ASSERT_EQ(fake.injects.size(), 1u);
    const auto& f = fake.injects[0].frames.at(0);
    auto d = sim::decodeFrame(f);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bda, (sim::Mac{0x01, 0x1e, 0x83, 0x00, 0x27, 0x24}));
    EXPECT_EQ(d->isid, 10020u);
    EXPECT_EQ(d->bvid, 1);
    EXPECT_EQ(f[12], 0x81);
    EXPECT_EQ(f[13], 0x00);
    EXPECT_EQ(f.size(), 18u + 4 + 12 + 48);   // backbone header, I-SID, C-DA/C-SA, 64-byte customer frame less FCS
}

TEST_F(FrameCommands, BurstGivesDistinctBsasAtTheRateAskedAndKeepsThemInAPcap)
{
    ok("frame burst eth-2/0/1 5 --isid 10010 --bsa 02:00:00:00:00:fe --rate 2500 --pcap-out " + path("b.pcap"));
    ASSERT_EQ(fake.injects.size(), 1u);
    const auto& inj = fake.injects[0];
    EXPECT_EQ(inj.port, 4u);
    EXPECT_EQ(inj.rate, 2500.0);
    ASSERT_EQ(inj.frames.size(), 5u);
    std::set<sim::Mac> bsas;
    for (const auto& f : inj.frames) bsas.insert(sim::decodeFrame(f)->bsa);
    EXPECT_EQ(bsas.size(), 5u);
    EXPECT_EQ(*bsas.begin(), (sim::Mac{2, 0, 0, 0, 0, 0xfe}));
    EXPECT_EQ(*bsas.rbegin(), (sim::Mac{2, 0, 0, 0, 1, 0x02}));
    EXPECT_EQ(simcmd::readPcap(path("b.pcap")), inj.frames);
}

TEST_F(FrameCommands, PcapReplaysTheFileAndWriteMakesOneWithoutASwitch)
{
    host = nullptr;   // writing a pcap needs no simulator
    ok("frame write " + path("w.pcap") + " --count 3 --isid 5 --bvlan 7");
    host = &fake;
    ok("frame pcap eth-1/0/1 " + path("w.pcap") + " --rate 10");
    ASSERT_EQ(fake.injects.size(), 1u);
    EXPECT_EQ(fake.injects[0].rate, 10.0);
    EXPECT_EQ(fake.injects[0].frames, simcmd::readPcap(path("w.pcap")));
    ASSERT_EQ(fake.injects[0].frames.size(), 3u);
    EXPECT_EQ(sim::decodeFrame(fake.injects[0].frames[2])->bvid, 7);
}

TEST_F(FrameCommands, RefusesBadFieldsPortsAndFilesWithoutReachingTheHost)
{
    refused("frame send eth-1/0/1", "--isid is required");
    refused("frame send eth-1/0/1 --isid 16777216", "--isid '16777216' is out of range");
    refused("frame send eth-1/0/1 --isid 1 --bsa 02:00:00:00:00", "--bsa '02:00:00:00:00' is not a MAC address");
    refused("frame send eth-1/0/1 --isid 1 --bvlan 4096", "--bvlan '4096' is out of range");
    refused("frame send eth-1/0/1 --isid 1 --payload 0g", "--payload '0g' is not hex");
    refused("frame send agg-1 --isid 1", "is an aggregate, not a port");
    refused("frame send eth-5/5/5 --isid 1", "unknown port 'eth-5/5/5'");
    refused("frame burst eth-1/0/1 0 --isid 1", "count '0' is out of range");
    refused("frame burst eth-1/0/1 3 --isid 1 --bsa ff:ff:ff:ff:ff:fe", "passes ff:ff:ff:ff:ff:ff");
    refused("frame burst eth-1/0/1 3 --isid 1 --rate fast", "--rate 'fast' is not a rate");
    refused("frame burst eth-1/0/1 3 --isid 1 --rate -5", "--rate '-5' is not a rate");
    refused("frame pcap eth-1/0/1 " + path("none.pcap"), "none.pcap: cannot open");
    refused("frame send eth-1/0/1 --isid 1 --pcap-out /nonexistent-dir/x.pcap", "--pcap-out: /nonexistent-dir/x.pcap");
    EXPECT_TRUE(fake.injects.empty());
}

TEST_F(FrameCommands, LinkBindPassesTheNamespaceAndPort)
{
    ok("link bind veth-b1 eth-1/0/2 --netns pbbtest-ns");
    ok("link bind veth-b2 5");
    ok("link unbind veth-b1");
    ASSERT_EQ(fake.binds.size(), 2u);
    EXPECT_EQ(fake.binds[0].linuxIf, "veth-b1");
    EXPECT_EQ(fake.binds[0].netns, "pbbtest-ns");
    EXPECT_EQ(fake.binds[0].port, 2u);
    EXPECT_EQ(fake.binds[1].netns, "");
    EXPECT_EQ(fake.binds[1].port, 5u);
    EXPECT_THAT(fake.unbinds, ElementsAre("veth-b1"));
    refused("link bind a-name-longer-than-15 eth-1/0/2", "is not 1 to 15 characters");
    refused("link bind veth0 agg-1", "is an aggregate");
    refused("link bind veth0 eth-1/0/2 --netns ../x", "is not a network namespace name");
    EXPECT_EQ(fake.binds.size(), 2u);
}

TEST_F(FrameCommands, FailArmsAndClearsFaults)
{
    ok("fail L2VPN_AddMinMEntry --result 4 --times 3");
    ok("fail PKT_Socket --result -1 --times 0");
    ok("fail IF_Event_Init");
    ok("fail clear");
    ASSERT_EQ(fake.faults.size(), 3u);
    EXPECT_EQ(fake.faults[0].call, "L2VPN_AddMinMEntry");
    EXPECT_EQ(fake.faults[0].result, 4);
    EXPECT_EQ(fake.faults[0].times, 3u);
    EXPECT_EQ(fake.faults[1].result, -1);
    EXPECT_EQ(fake.faults[1].times, 0u);
    EXPECT_EQ(fake.faults[2].result, 1);
    EXPECT_EQ(fake.faults[2].times, 1u);
    EXPECT_EQ(fake.cleared, 1);
    refused("fail 'L2VPN Add'", "is not a platform call name");
    refused("fail X --times -1", "--times '-1' is not a number");
    refused("fail", "missing argument");
    EXPECT_EQ(fake.faults.size(), 3u);
}

TEST_F(FrameCommands, WithoutTheSimulatorTheyFailSayingWhy)
{
    host = nullptr;
    for (const char* line : {"frame send eth-1/0/1 --isid 1", "frame burst 1 2 --isid 1", "link bind v0 1",
                             "link unbind v0", "fail X", "fail clear", "show stats"}) {
        auto o = cmd(line);
        EXPECT_EQ(o.status, 1) << line;
        EXPECT_THAT(o.err, HasSubstr("needs the running simulator")) << line;
    }
}

TEST_F(FrameCommands, ShowStatsComesFromTheHost)
{
    auto o = cmd("show stats", true);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(nlohmann::json::parse(o.out)["framesInjected"], 7);
    EXPECT_EQ(nlohmann::json::parse(cmd("show all", true).out)["stats"]["framesInjected"], 7);
}

}  // namespace
