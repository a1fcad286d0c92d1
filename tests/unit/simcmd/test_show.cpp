// The show commands: forwarding state as the L2VPN library programmed it,
// acknowledgements, and what "all" holds. The switch tables' JSON is what
// the system tests read and compare.
#include "platform/result.h"
#include "simcmd_test.h"

namespace {

using simcmdtest::CommandTest;
using simcmdtest::expectHolds;
using ::testing::HasSubstr;
using J = nlohmann::json;

class ShowCommands : public CommandTest {
protected:
    J show(const std::string& what) { return json("show " + what); }
};

TEST_F(ShowCommands, ForwardingStateAcknowledgementsAllAndChanges)
{
    sim::Mac b1{2, 0, 0, 0, 0, 1}, b2{2, 0, 0, 0, 0, 2}, c1{0, 0, 0x5e, 0, 0x53, 1};
    ASSERT_EQ(program(L2VPN_MINM_ADD_UC, 1, b1, {1}, c1), PLAT_OK);
    ASSERT_EQ(program(L2VPN_MINM_ADD_MC, 2, {1, 0x1e, 0x83, 0, 0x27, 0x24}, {4, 5}), PLAT_OK);
    ASSERT_EQ(m.flush(), PLAT_OK);
    ASSERT_EQ(program(L2VPN_MINM_ADD_UC, 2, b2, {5}), PLAT_OK);   // staged only
    ASSERT_EQ(m.setPbbMode(4, L2VPN_IF_PBB_ENABLE), PLAT_OK);
    ASSERT_EQ(m.setVsiAttr(1, L2VPN_VSI_ATTR_ENCAP, 7), PLAT_OK);

    J uc = show("unicast");
    EXPECT_EQ(uc["table"], "committed");
    ASSERT_EQ(uc["unicast"].size(), 1u);
    expectHolds(uc["unicast"][0], J::parse(R"({"vsi": 1, "isid": 10010, "bmac": "02:00:00:00:00:01",
                                               "cmac": "00:00:5e:00:53:01", "port": 1, "portName": "eth-1/0/1"})"));
    EXPECT_EQ(show("unicast --staged")["unicast"].size(), 2u);
    EXPECT_EQ(show("unicast --staged --vsi vsi-green")["unicast"].size(), 1u);

    J mc = show("multicast")["multicast"];
    ASSERT_EQ(mc.size(), 1u);
    expectHolds(mc[0], J::parse(R"({"group": "01:1e:83:00:27:24", "ports": [4, 5],
                                    "portNames": ["eth-2/0/1", "eth-2/0/2"]})"));

    EXPECT_EQ(show("pbb-ports")["pbbPorts"], J::parse(R"([{"ifIndex": 4, "name": "eth-2/0/1"}])"));
    J encap = show("encap")["encap"];
    EXPECT_EQ(encap[0]["type"], 7);
    EXPECT_EQ(encap[1]["type"], L2VPN_ENCAP_DEFAULT);
    EXPECT_EQ(show("interfaces")["interfaces"][3]["pbb"], true);

    // Acknowledgements, every section in "all", and changes give JSON too.
    m.acknowledge({.service = sim::Service::L2vpn, .code = L2VPN_EVT_VSI_ADD, .context = 9, .items = {3}});
    J a = show("acks")["acks"];
    ASSERT_EQ(a.size(), 1u);
    expectHolds(a[0], J::parse(R"({"service": "l2vpn", "context": 9, "items": [3]})"));
    EXPECT_EQ(show("interfaces")["interfaces"][8]["members"], J::parse("[3, 6]"));
    EXPECT_EQ(show("vlans")["interfaces"][6]["linkType"], "access");
    J all = show("all");
    for (const char* k : {"slots", "interfaces", "vlans", "stp", "vsis", "unicast", "multicast", "pbb-ports",
                          "services"})
        EXPECT_TRUE(all.contains(k)) << k;
    host = nullptr;
    EXPECT_FALSE(show("all").contains("stats"));  // no simulator behind this switch
    auto o = cmd("port add eth-1/0/7 1", true);
    expectHolds(J::parse(o.out), J::parse(R"({"ok": true, "ifIndex": 101})"));
    EXPECT_EQ(cmd("show slots --wide").status, 2);
    EXPECT_THAT(cmd("show nothing").err, HasSubstr("unknown command 'show nothing'"));
}

}  // namespace
