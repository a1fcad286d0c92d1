// What the data plane keeps of its decisions: counters per port and VSI,
// the customer table, traffic and ageing at the bridge's age time, and
// the commands that configure the bridge.
#include "tests/unit/dataplane/dataplane_test.h"
#include "tools/simcmd/simcmd.h"

namespace {

using namespace dptest;

TEST(DataPlane, CountsLearnsAndAgesAtTheBridgesAgeTime)
{
    Lab lab;
    lab.m.bridge().setAgeSeconds(2);
    dp::DataPlane plane(lab.m);
    plane.receive(lab.c1, customer(kH, kA), 0);
    plane.receive(lab.u1, fromR1(), 500);
    plane.receive(lab.c1, Bytes(5, 0), 600);
    plane.transmitted(lab.u1, dp::Tx::Failed);
    plane.transmitted(lab.u1, dp::Tx::Unbound);
    const auto& port = plane.counters().ports().at(lab.c1);
    EXPECT_EQ(std::make_tuple(port.received, port.flooded, port.encapsulated, port.unicast),
              std::make_tuple(2, 1, 1, 0));
    EXPECT_EQ(port.dropped[static_cast<size_t>(dp::Drop::Runt)], 1u);
    const auto& vsi = plane.counters().vsis().at(1);
    EXPECT_EQ(std::make_tuple(vsi.received, vsi.encapsulated, vsi.decapsulated, vsi.unicast, vsi.toCpu),
              std::make_tuple(3, 1, 1, 1, 0));
    const auto& up = plane.counters().ports().at(lab.u1);
    EXPECT_EQ(std::make_tuple(up.txFailed, up.txUnbound, up.transmitted), std::make_tuple(1, 1, 0));
    EXPECT_EQ(*plane.customers().find(1, kA), dp::Location{.port = lab.c1});
    EXPECT_EQ(*plane.customers().find(1, kH), (dp::Location{.bmac = kR1, .remote = true}));

    EXPECT_EQ(plane.show(700)["vsis"][0]["counters"]["dropped"]["runt"], 1);

    EXPECT_TRUE(plane.age(1999).empty()) << "R1 followed from here";
    EXPECT_NE(plane.customers().find(1, kA), nullptr);
    plane.receive(lab.u1, fromR1(), 2400);
    EXPECT_TRUE(plane.age(2400).empty());
    EXPECT_EQ(plane.customers().find(1, kA), nullptr) << "seen at 0, aged at 2000";
    EXPECT_EQ(plane.age(4400).size(), 2u) << "R1 aged on slots 1 and 2";
    plane.receive(lab.u1, fromR1(), 4500);
    EXPECT_EQ(plane.resumed().size(), 2u);
}

simcmd::Outcome run(sim::SwitchModel& m, const std::string& line, bool json = false)
{
    return simcmd::run(m, nullptr, simcmd::split(line), json);
}

TEST(BridgeCommands, ConfigureShowAndWriteTheBridge)
{
    Lab lab;
    sim::SwitchModel& m = lab.m;
    for (const char* bad : {"bridge mac 01:00:00:00:00:01", "bridge mac 00:00:00:00:00:00", "bridge mac x",
                            "bridge age 0", "bridge age 1000001", "bridge name \"a'b\"", "ac add agg 1",
                            "ac add c1 1024", "ac del u1", "ac add nope 1", "show circuits x"}) {
        simcmd::Outcome o = run(m, bad);
        EXPECT_EQ(o.status, 2) << bad;
        EXPECT_FALSE(o.err.empty()) << bad;
    }
    m.bridge().setAddress(std::nullopt);
    EXPECT_EQ(run(m, "bridge name lab-b").status, 0);
    EXPECT_EQ(m.bridge().address(), sim::derivedBridgeAddress("lab-b"));
    EXPECT_EQ(run(m, "bridge name lab-b").out, "no change\n");
    for (const char* good : {"bridge mac 02:00:00:00:00:bb", "bridge age 30", "ac add u3 blue", "ac del c2"})
        EXPECT_EQ(run(m, good).status, 0) << good;
    EXPECT_EQ(run(m, "ac add u3 2").out, "no change\n");
    EXPECT_EQ(m.bridge().circuitVsi(lab.u3), 2u);
    EXPECT_FALSE(m.bridge().circuitVsi(lab.c2));
    nlohmann::json j = nlohmann::json::parse(run(m, "show circuits", true).out);
    EXPECT_EQ(j["bridge"], (nlohmann::json{{"name", "lab-b"}, {"mac", "02:00:00:00:00:bb"}, {"ageSeconds", 30}}));
    EXPECT_EQ(j["circuits"].size(), 3u);

    sim::SwitchModel copy;
    ASSERT_EQ(simcmd::loadTopology(copy, run(m, "show config").out, "copy").status, 0);
    EXPECT_EQ(run(copy, "show config").out, run(m, "show config").out);
    EXPECT_EQ(copy.bridge().circuits(), m.bridge().circuits());
    EXPECT_EQ(copy.bridge().address(), m.bridge().address());
    EXPECT_EQ(run(m, "bridge mac auto").status, 0);
    EXPECT_EQ(m.bridge().address(), sim::derivedBridgeAddress("lab-b"));
    m.deleteInterface(lab.u3);
    EXPECT_FALSE(m.bridge().circuitVsi(lab.u3)) << "a deleted port is no circuit";
}

}  // namespace
