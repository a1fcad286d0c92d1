// Each command changes the switch as it says and the model reports it, in
// the order and with the contents the model's sink receives; bad arguments
// are refused, named, and change nothing. How events reach registrations is
// checked by the model's and the daemon's tests.
#include "simcmd_test.h"

#include "platform/sti.h"

namespace {

using simcmdtest::CommandTest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct Change {
    const char* setup;  // commands run first, ';' between them
    const char* line;
    const char* events;  // as simcmdtest::text writes them
    bool noChange = false;  // says so, sending nothing
};

void PrintTo(const Change& c, std::ostream* os) { *os << c.line; }

class Changes : public CommandTest, public ::testing::WithParamInterface<Change> {};

TEST_P(Changes, SendTheirEvents)
{
    std::string setup = GetParam().setup;
    for (size_t at = 0, end; at < setup.size(); at = end + 1) {
        end = setup.find(';', at);
        if (end == std::string::npos) end = setup.size();
        ok(setup.substr(at, end - at));
    }
    sink.clear();
    auto o = cmd(GetParam().line);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(simcmdtest::text(sink.events), GetParam().events);
    EXPECT_EQ(o.out.find("no change") != std::string::npos, GetParam().noChange) << o.out;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Changes,
    ::testing::Values(
        Change{"", "slot add 4 --minm --fault", "insert 4"},
        // eth-1/0/3 is agg-1's only member with link up: the aggregate goes down too.
        Change{"", "slot remove 1", "down 1-3; down 100; inactive 1-3 /1; remove 1"},
        Change{"slot remove 1", "slot insert 1", "insert 1; active 1-3"},
        Change{"", "slot insert 1", "", true},
        Change{"", "port add eth-3/0/10 3 --type=21", "active 101; up 101"},
        Change{"agg add agg-2 --ifindex 200", "agg join agg-2 eth-3/0/1", "join 7 /200; up 200"},
        // By ifIndex; moving to another aggregate leaves the first.
        Change{"agg add agg-2 --ifindex 200;agg join agg-2 7", "agg join 100 7", "leave 7 /200; down 200; join 7 /100"},
        Change{"", "agg leave eth-1/0/3", "leave 3 /100; down 100"},
        Change{"", "link down eth-1/0/3", "down 3; down 100"},
        Change{"link up 6", "link up 6", "", true},
        Change{"", "if inactive eth-1/0/1", "down 1; inactive 1 /1"},
        Change{"", "if inactive eth-1/0/2 --discard", "down 2; inactive 2"},
        Change{"if inactive eth-1/0/1", "if active eth-1/0/1", "active 1"},
        Change{"", "if delete agg-1", "leave 3 /100; down 100; leave 6 /100; inactive 100; delete 100"},
        Change{"", "vlan trunk eth-1/0/1 105-120", "vlan- 1 {100-104}; vlan+ 1 {111-120}"},
        Change{"vlan add eth-2/0/2 300", "vlan del 5 100,102,300", "vlan- 5 {100,102,300}"},
        Change{"", "vlan del eth-2/0/2 999", "", true},
        Change{"", "vlan access eth-1/0/2 30", "vlan- 2 {100-110}; vlan+ 2 <30>"},
        Change{"", "stp state eth-1/0/1 100-102 discarding", ""},
        Change{"", "stp tc", "tc ifs=* vlans=*"},
        Change{"", "stp tc --vlans 7 --ifs 4", "tc ifs=4 vlans=7"},
        // An empty list is an empty list, not "all".
        Change{"", "stp tc --vlans none --ifs none", "tc ifs= vlans="},
        Change{"", "vsi add 9 vsi-new 777 --down", "vsi-add 9 isid=777 flags=8"},
        Change{"vsi add 9 vsi-new 777 --down", "vsi isid vsi-new 778", "vsi-isid 9 isid=778 flags=8"},
        Change{"vsi add 9 vsi-new 777 --down", "vsi up 9", "vsi-state 9 isid=777 flags=0"},
        Change{"", "vsi down vsi-red", "vsi-state 1 isid=10010 flags=8"},
        Change{"vsi add 9 vsi-new 777", "vsi del vsi-new", "vsi-del 9 isid=777 flags=0"},
        Change{"", "vsi add 1 vsi-red 10011", "vsi-add 1 isid=10011 flags=0"},
        Change{"", "l2vpn disable", "disable 0 isid=0 flags=0"},
        // Registrations of a service that went away are ended.
        Change{"service down l2vpn", "vsi down vsi-red", ""}),
    [](const ::testing::TestParamInfo<Change>& info) { return "Case" + std::to_string(info.index); });

struct Refusal {
    const char* setup;
    std::string line;
    const char* named;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.line; }

class Refusals : public CommandTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, NameTheArgumentAndChangeNothing)
{
    if (*GetParam().setup != '\0') ok(GetParam().setup);
    refused(GetParam().line, GetParam().named);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Refusals,
    ::testing::Values(
        Refusal{"slot add 4", "slot add 4 --absent", "slot 4 is already configured"},
        Refusal{"", "slot add 5", "outside the slot range 1 to 4"},
        Refusal{"", "slot add 4 --hot", "unknown option '--hot'"},
        Refusal{"", "slot range 2 4", "leaves out configured slot 1"},
        Refusal{"", "slot range 4 1", "runs backwards"},
        Refusal{"", "slot insert 9", "slot '9' is not configured"},
        Refusal{"", "port add 123 1", "all digits"},
        Refusal{"", "port add " + std::string(48, 'p') + " 1", "1 to 47 characters"},
        Refusal{"", "port add " + std::string(47, 'p') + " 1 --ifindex 3", "is in use"},  // 47 pass the name check
        Refusal{"", "port add eth-9 1 --ifindex 3", "--ifindex 3 is in use by eth-1/0/3"},
        Refusal{"", "port add eth-9 1 --type agg", "use 'agg add'"},
        Refusal{"", "port add eth-9", "missing argument; usage: port add <name> <slot>"},
        Refusal{"", "port add eth-9 1 --down --down", "given twice"},
        Refusal{"", "agg join eth-1/0/1 eth-3/0/1", "aggregate 'eth-1/0/1' is a port, not an aggregate"},
        Refusal{"", "agg join agg-1 agg-1", "port 'agg-1' is an aggregate, not a port"},
        Refusal{"", "agg add agg-1", "in use"},
        Refusal{"if inactive eth-3/0/1", "link up eth-3/0/1", "port 'eth-3/0/1' is inactive"},
        Refusal{"slot remove 3", "if active eth-3/0/1", "is temporary"},
        Refusal{"if delete agg-1", "if delete agg-1", "unknown interface 'agg-1'"},
        Refusal{"", "service down bgp", "service 'bgp' is not ifm, vlan, l2vpn, stp or packet"},
        Refusal{"", "vlan trunk eth-1/0/1 10,,20", "has an empty item"},
        Refusal{"", "vlan add eth-1/0/1 none", "names no VLAN"},
        Refusal{"", "vlan max 150", "below a VLAN that eth-2/0/1 uses"},
        Refusal{"vlan max 300", "vlan add eth-1/0/1 301", "out of range (1 to 300)"},
        Refusal{"", "stp tc --ifs eth-1/0/1,eth-nope", "unknown interface in --ifs 'eth-nope'"},
        Refusal{"", "stp state eth-1/0/1 100 blocking", "state 'blocking' is not forwarding, discarding or"},
        Refusal{"", "vsi add 9 vsi-red 5", "VSI name 'vsi-red' is in use by VSI 1"},
        Refusal{"", "vsi add 9 " + std::string(32, 'v') + " 5", "1 to 31 characters"},
        Refusal{"", "vsi add 9 vsi-x 16777216", "I-SID '16777216' is out of range"},
        Refusal{"", "l2vpn limits", "needs --total, --per-vsi or --shared"},
        Refusal{"", "l2vpn limits --shared maybe", "neither on nor off"},
        Refusal{"l2vpn max-vsi 5", "l2vpn max-vsi 4", "does not hold VSI 4"},
        Refusal{"", "report aged 1 1 5 02:00:00:00:00:01", "is not <bmac>/<bvlan>"},
        Refusal{"", "report nohw 1/2/3/02:00:00:00:00:01", "is not <slot>/<vsi>/<isid>/<bmac>/<bvlan>"},
        Refusal{"", "report raw 1 abc", "not whole bytes of hex"},
        Refusal{"", "frame send eth-1/0/1", "--isid is required"},
        Refusal{"", "frame burst eth-1/0/1 3 --isid 1 --bsa ff:ff:ff:ff:ff:fe", "passes ff:ff:ff:ff:ff:ff"},
        Refusal{"", "frame burst eth-1/0/1 3 --isid 1 --rate -5", "--rate '-5' is not a rate"},
        Refusal{"", "frame pcap eth-1/0/1 /nonexistent-dir/none.pcap", "none.pcap: cannot open"},
        Refusal{"", "frame send eth-1/0/1 --isid 1 --pcap-out /nonexistent-dir/x.pcap", "--pcap-out: /nonexistent"},
        Refusal{"", "frame raw eth-1/0/1 --len 4097", "--len"},
        Refusal{"", "link bind a-name-longer-than-15 eth-1/0/2", "is not 1 to 15 characters"},
        Refusal{"", "link bind veth0 eth-1/0/2 --netns ../x", "is not a network namespace name"},
        Refusal{"", "fail X --times -1", "--times '-1' is not a number"},
        Refusal{"", "help port extra", "unexpected argument 'extra'; usage: help [<command>]"},
        Refusal{"", "show refresh now", "unexpected argument 'now'; usage: show refresh"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return "Case" + std::to_string(info.index); });

TEST_F(CommandTest, ReportOfManyEntriesLongerThanOneMessageIsRefused)
{
    std::string many = "report aged 1 1 5";
    for (int i = 0; i < 600; ++i) many += " 02:00:00:00:00:01/1";
    refused(many, "longer than one message of 4096 bytes");
}

// What no event shows: types, slot and VLAN settings, STP states, limits.
TEST_F(CommandTest, SwitchStateFollowsTheCommands)
{
    ok("slot add 4 --minm --fault");
    EXPECT_TRUE(m.findSlot(4)->present && m.findSlot(4)->minm && !m.findSlot(4)->normal);
    ok("slot normal 4");
    EXPECT_TRUE(m.findSlot(4)->normal);
    ok("slot fault 4");
    EXPECT_FALSE(m.findSlot(4)->normal);
    EXPECT_EQ(json("port add eth-3/0/9 3 --type 40ge --ifindex 77 --down")["ifIndex"], 77);
    const sim::Interface* p = m.findIf(77);
    EXPECT_EQ(std::tuple(p->name, p->type, p->slot, p->linkUp), std::tuple("eth-3/0/9", IF_TYPE_40GE, 3, false));
    ok("port add eth-3/0/10 3 --type=21");
    EXPECT_EQ(m.findIf(m.ifIndexByName("eth-3/0/10"))->type, IF_TYPE_XGE);

    ok("vlan access eth-1/0/2 30");
    p = m.findIf(2);
    EXPECT_EQ(std::tuple(p->linkType, p->pvid, p->vlans), std::tuple(VLAN_LINK_ACCESS, 30, std::set<uint16_t>{30}));
    ok("vlan trunk eth-2/0/1 none");
    EXPECT_EQ(m.findIf(4)->linkType, VLAN_LINK_TRUNK);
    EXPECT_TRUE(m.findIf(4)->vlans.empty());
    ok("stp state eth-1/0/1 100-102 discarding");
    ok("stp state agg-1 105 learning");
    EXPECT_EQ(m.findIf(1)->stp.at(101), STI_STATE_DISCARDING);
    EXPECT_EQ(m.findIf(1)->stp.at(103), STI_STATE_FORWARDING);
    EXPECT_EQ(m.findIf(100)->stp.at(105), STI_STATE_LEARNING);

    ok("l2vpn limits --total 100 --shared on");
    ok("l2vpn limits --per-vsi 10");
    EXPECT_EQ(std::tuple(m.fibSpec().maxPwNum, m.fibSpec().maxPwPerVsi, m.fibSpec().shareVsi), std::tuple(100u, 10u, true));
    ok("l2vpn max-vsi 5");
    ok("vlan max 300");
    EXPECT_EQ(m.maxVsiNum() * 1000 + m.maxVlanId(), 5300u);
    ok("service down l2vpn");
    EXPECT_THAT(sink.down, ElementsAre(sim::Service::L2vpn));
    ok("service up l2vpn");
    EXPECT_TRUE(m.serviceUp(sim::Service::L2vpn));
}

}  // namespace
