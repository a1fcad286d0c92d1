// Command lines and topology files: a bad line names its file and number
// and leaves the switch as it was (a file a simulator starts with, and a
// command that needs the simulator, are the system and host command tests');
// the configuration written back as
// commands rebuilds the same switch. (The default topology's shape is what
// every command test starts from.)
#include "simcmd_test.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string configOf(sim::SwitchModel& m) { return simcmd::run(m, nullptr, {"show", "config"}, false).out; }

TEST(SplitAndRun, WordsQuotesCommentsAnEmptyLineAndHelp)
{
    using W = std::vector<std::string>;
    EXPECT_EQ(simcmd::split("  port add\teth-1 1  "), (W{"port", "add", "eth-1", "1"}));
    EXPECT_EQ(simcmd::split("vsi add 1 \"red vsi\" 5 # a comment"), (W{"vsi", "add", "1", "red vsi", "5"}));
    EXPECT_EQ(simcmd::split("stp tc --vlans '' --ifs none"), (W{"stp", "tc", "--vlans", "", "--ifs", "none"}));
    EXPECT_EQ(simcmd::split("a b#c"), (W{"a", "b#c"}));  // '#' inside a word is part of it

    // An empty line, and help.
    sim::SwitchModel m;
    EXPECT_EQ(simcmd::run(m, nullptr, {}, false).status, 0);
    auto j = nlohmann::json::parse(simcmd::run(m, nullptr, {"help"}, true).out);
    std::set<std::string> verbs;
    for (const auto& c : j["commands"]) verbs.insert(simcmd::split(c["usage"].get<std::string>())[0]);
    EXPECT_EQ(verbs, (std::set<std::string>{"slot", "port", "agg", "link", "if", "vlan", "stp", "vsi", "l2vpn",
                                            "service", "report", "frame", "fail", "show", "help", "bridge", "ac"}));
    EXPECT_EQ(simcmd::run(m, nullptr, {"help", "nothing"}, false).status, 2);
}

TEST(Topology, LoadsOnTopOfASwitchThatHasConfigurationAndTheWrittenOneRebuildsTheSameSwitch)
{
    sim::SwitchModel m;
    ASSERT_EQ(simcmd::loadTopology(m, simcmd::defaultTopology(), "default").status, 0);
    // Refers to what the switch already has.
    auto r = simcmd::loadTopology(m, "port add eth-1/0/9 1\nagg join agg-1 eth-1/0/9\nvsi isid vsi-plain 9\n", "more");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(m.findIf(100)->members, ElementsAre(3, 6, 101));
    EXPECT_EQ(m.findVsi(4)->isid, 9u);
    // A bad line, or one that clashes with what is there, is named and
    // refused before anything is applied.
    std::string before = configOf(m);
    for (auto [text, named] : {std::pair{"port add eth-1/0/10 1\nport add eth-1/0/1 1\n",
                                         "clash:2: interface name 'eth-1/0/1' is in use"},
                               {"port add eth-1/0/10 1\nvsi add 1 \"red 5\n", "clash:2: unterminated quote"}}) {
        r = simcmd::loadTopology(m, text, "clash");
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, HasSubstr(named));
        EXPECT_EQ(configOf(m), before);
    }

    // The configuration written back as commands rebuilds the same switch.
    for (const char* line : {"slot add 4 --absent --fault", "port add eth-4/0/1 4 --type 100ge", "slot remove 3",
                             "if inactive eth-1/0/2", "link down eth-2/0/1", "agg add \"agg two\" --ifindex 300",
                             "agg join 'agg two' eth-2/0/2", "vlan trunk 'agg two' none", "vsi down vsi-blue",
                             "l2vpn limits --total 50 --per-vsi 5 --shared on", "l2vpn max-vsi 64", "vlan max 1000",
                             "service down stp", "stp state eth-1/0/1 105 learning"}) {
        auto o = simcmd::run(m, nullptr, simcmd::split(line), false);
        ASSERT_EQ(o.status, 0) << line << ": " << o.err;
    }
    sim::SwitchModel b;
    r = simcmd::loadTopology(b, configOf(m), "written");
    ASSERT_EQ(r.status, 0) << r.err << "\n" << configOf(m);
    EXPECT_EQ(configOf(b), configOf(m));
    // And the state the tables show, not only the commands.
    auto all = [](sim::SwitchModel& sw) { return simcmd::run(sw, nullptr, {"show", "all"}, true).out; };
    EXPECT_EQ(all(b), all(m));
}

}  // namespace
