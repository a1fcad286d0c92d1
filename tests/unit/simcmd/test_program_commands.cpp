// Raw packet-socket datagrams, the log of programming calls and the
// refresh window's state, as the command language shows them.
#include <cstring>

#include "platform/model/pbb_frame.h"
#include "simcmd_test.h"

namespace {

using simcmdtest::CommandTest;
using simcmdtest::FakeHost;
using J = nlohmann::json;

class ProgramCommands : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        host = &fake;
    }
    J json(const std::string& line)
    {
        auto o = cmd(line, true);
        EXPECT_EQ(o.status, 0) << line << ": " << o.err;
        return o.status == 0 ? J::parse(o.out) : J();
    }
    // One unicast add as the daemon makes it, on eth-1/0/1 in VSI 1.
    uint32_t addUnicast(uint8_t last)
    {
        sim::MinMRequest r;
        r.client = L2VPN_CLIENT_MINM;
        r.op = L2VPN_MINM_ADD_UC;
        r.entry.uiVsiIndex = 1;
        r.entry.uiISid = 10010;
        const uint8_t mac[6] = {0x00, 0xbb, 0, 0, 0, last};
        std::memcpy(r.entry.aucBMac, mac, 6);
        r.entry.uiAllOnes = 0xFFFFFFFF;
        r.entry.usAllOnes = 0xFFFF;
        r.entry.uiEntryFlags = 0x14;
        r.entry.uiBVlan = 100;
        r.entry.uiPortNum = 1;
        r.ports = {1};
        return m.program(r);
    }

    FakeHost fake;
};

struct Raw {
    const char* name;
    const char* args;
    uint32_t ctrlLen, ctrlType, ifIndex;
    size_t dataLen;
    uint16_t etherType;
};

class RawDatagram : public ProgramCommands, public ::testing::WithParamInterface<Raw> {};

TEST_P(RawDatagram, ReachesThePacketSocketsAsGiven)
{
    const Raw& r = GetParam();
    ok(std::string("frame raw ") + r.args);
    ASSERT_EQ(sink.frames.size(), 1u);
    auto d = sim::unpackDatagram(sink.frames[0]);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->ctrl.uiLen, r.ctrlLen);
    EXPECT_EQ(d->ctrl.uiType, r.ctrlType);
    EXPECT_EQ(d->ctrl.uiIfIndex, r.ifIndex);
    EXPECT_EQ(d->data.size(), r.dataLen);
    EXPECT_EQ(d->addr.usEtherType, r.etherType);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RawDatagram,
    ::testing::Values(Raw{"PortDefaults", "eth-1/0/2 --isid 10010", 16, 1, 2, 64, 0x88E7},
                      Raw{"MemberCarriesItsAggregate", "eth-1/0/3 --isid 10010", 16, 1, 100, 64, 0x88E7},
                      Raw{"AnyTypeAndIfIndex", "eth-1/0/2 --ctrl-type 7 --ifindex 0", 16, 7, 0, 64, 0x88E7},
                      Raw{"ZeroRecord", "eth-1/0/2 --no-ctrl", 0, 0, 0, 64, 0x88E7},
                      Raw{"CutToFiveBytes", "eth-1/0/2 --isid 10010 --len 5", 16, 1, 2, 5, 0x88E7},
                      Raw{"DataAsGiven", "eth-1/0/2 --data 00002710 --ethertype 0x8100", 16, 1, 2, 4, 0x8100}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramCommands, RawDatagramKeepsTheFrameFieldsAndNeedsTheSimulator)
{
    ok("frame raw eth-1/0/1 --isid 10010 --bsa 00:bb:00:00:00:07 --bvlan 101 --len 16");
    auto d = sim::unpackDatagram(sink.frames.at(0));
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->addr.usVlanId, 101);
    EXPECT_EQ(d->addr.aucSrcMac[5], 0x07);
    EXPECT_EQ((std::vector<uint8_t>(d->data.begin() + 1, d->data.begin() + 4)),
              (std::vector<uint8_t>{0x00, 0x27, 0x1a}));

    refused("frame raw eth-1/0/1 --len 4097", "--len");
    host = nullptr;
    EXPECT_EQ(cmd("frame raw eth-1/0/1").status, 1);
}

TEST_F(ProgramCommands, CallsAreListedInOrderWithTheirRecordsAndResults)
{
    ASSERT_EQ(addUnicast(1), 0u);
    ASSERT_EQ(m.flush(), 0u);
    EXPECT_NE(m.setPbbMode(1, 9), 0u);
    ASSERT_EQ(m.refreshWindow(L2VPN_CLIENT_MINM, L2VPN_GR_BEGIN), 0u);

    J all = json("show calls");
    ASSERT_EQ(all["calls"].size(), 4u);
    EXPECT_EQ(all["last"], 4);
    const J& add = all["calls"][0];
    EXPECT_EQ(add["seq"], 1);
    EXPECT_EQ(add["call"], "L2VPN_AddMinMEntry");
    EXPECT_EQ(add["result"], 0);
    EXPECT_EQ(add["op"], L2VPN_MINM_ADD_UC);
    EXPECT_EQ(add["entry"]["bmac"], "00:bb:00:00:00:01");
    EXPECT_EQ(add["entry"]["isid"], 10010);
    EXPECT_EQ(add["entry"]["flags"], 0x14);
    EXPECT_EQ(add["entry"]["ones32"], 0xFFFFFFFFu);
    EXPECT_EQ(add["ports"], J::array({1}));
    EXPECT_EQ(all["calls"][1]["call"], "L2VPN_FlushPwEntry");
    EXPECT_EQ(all["calls"][2]["call"], "L2VPN_SetInterface");
    EXPECT_NE(all["calls"][2]["result"], 0);
    EXPECT_EQ(all["calls"][2]["mode"], 9);
    EXPECT_EQ(all["calls"][3]["phase"], L2VPN_GR_BEGIN);

    J later = json("show calls --since 2");
    ASSERT_EQ(later["calls"].size(), 2u);
    EXPECT_EQ(later["calls"][0]["seq"], 3);
    J page = json("show calls --since 1 --max 1");
    ASSERT_EQ(page["calls"].size(), 1u);
    EXPECT_TRUE(page["more"].get<bool>());
    EXPECT_EQ(page["next"], 2);
    J none = json("show calls --since 4");
    EXPECT_TRUE(none["calls"].empty());
    EXPECT_EQ(none["next"], 4);
}

TEST_F(ProgramCommands, RefreshShowsTheWindowAndWhatItStillMarks)
{
    ASSERT_EQ(addUnicast(1), 0u);
    ASSERT_EQ(addUnicast(2), 0u);
    ASSERT_EQ(m.flush(), 0u);
    EXPECT_FALSE(json("show refresh")["refresh"]["open"].get<bool>());

    ASSERT_EQ(m.refreshWindow(L2VPN_CLIENT_MINM, L2VPN_GR_BEGIN), 0u);
    ASSERT_EQ(addUnicast(2), 0u);
    J open = json("show refresh")["refresh"];
    EXPECT_TRUE(open["open"].get<bool>());
    EXPECT_EQ(open["stale"]["unicast"], 1);

    ASSERT_EQ(m.refreshWindow(L2VPN_CLIENT_MINM, L2VPN_GR_END), 0u);
    J closed = json("show refresh")["refresh"];
    EXPECT_FALSE(closed["open"].get<bool>());
    EXPECT_EQ(closed["stale"]["unicast"], 0);
    EXPECT_EQ(m.fib().committed().uc.size(), 1u);
}

}  // namespace
