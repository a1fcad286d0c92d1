// Slots, ports, aggregates, links, interface states and services: each
// command changes the model as it says and the model reports it; bad
// arguments are refused, named, and change nothing.
#include "simcmd_test.h"

namespace {

using simcmdtest::CommandTest;
using sim::EventKind;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct Ev {
    EventKind kind;
    uint32_t code;
    std::vector<uint32_t> items;
    uint32_t data;
    bool operator==(const Ev&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Ev& e)
{
    os << "{kind " << static_cast<int>(e.kind) << " code 0x" << std::hex << e.code << std::dec << " items";
    for (uint32_t i : e.items) os << " " << i;
    return os << " data " << e.data << "}";
}

std::vector<Ev> evs(const std::vector<sim::Event>& events)
{
    std::vector<Ev> out;
    for (const auto& e : events) out.push_back({e.kind, e.code, e.items, e.data});
    return out;
}

using SlotCommands = CommandTest;

TEST_F(SlotCommands, AddConfiguresTheBoardAndAnnouncesAPresentOne)
{
    ok("slot add 4 --minm --fault");
    const sim::Slot* s = m.findSlot(4);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->present);
    EXPECT_TRUE(s->minm);
    EXPECT_FALSE(s->normal);
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Slot, IF_EVT_SLOT_INSERT, {4}, 0}));

    refused("slot add 4 --absent", "slot 4 is already configured");
    ok("slot remove 4");
    EXPECT_FALSE(m.findSlot(4)->present);
}

TEST_F(SlotCommands, RefusesSlotsOutsideTheRangeOrTwice)
{
    refused("slot add 5", "outside the slot range 1 to 4");
    refused("slot add 2", "slot 2 is already configured");
    refused("slot add x", "slot 'x' is not a number");
    refused("slot add 4 --hot", "unknown option '--hot'");
    refused("slot range 2 4", "leaves out configured slot 1");
    refused("slot range 4 1", "runs backwards");
    refused("slot insert 9", "slot '9' is not configured");
}

TEST_F(SlotCommands, RemovingABoardTakesItsPortsDownAndInactiveThenTheSlot)
{
    ok("slot remove 1");
    // eth-1/0/3 was agg-1's only member with link up: the aggregate goes down too
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Link, IF_EVT_LINK_DOWN, {1, 2, 3}, 0},
                                              Ev{EventKind::Link, IF_EVT_LINK_DOWN, {100}, 0},
                                              Ev{EventKind::Interface, IF_EVT_INACTIVE, {1, 2, 3}, IF_INACTIVE_PARK},
                                              Ev{EventKind::Slot, IF_EVT_SLOT_REMOVE, {1}, 0}));
    EXPECT_FALSE(m.findIf(1)->present);
    EXPECT_FALSE(m.findSlot(1)->present);

    sink.clear();
    ok("slot insert 1");
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Slot, IF_EVT_SLOT_INSERT, {1}, 0},
                                              Ev{EventKind::Interface, IF_EVT_ACTIVE, {1, 2, 3}, 0}));
    sink.clear();
    auto o = cmd("slot insert 1");
    EXPECT_EQ(o.status, 0);
    EXPECT_THAT(o.out, HasSubstr("no change"));
    EXPECT_TRUE(sink.empty());
}

using PortCommands = CommandTest;

TEST_F(PortCommands, AddGivesTheChosenIndexTypeAndLinkState)
{
    auto o = cmd("port add eth-3/0/9 3 --type 40ge --ifindex 77 --down", true);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(nlohmann::json::parse(o.out)["ifIndex"], 77);
    const sim::Interface* p = m.findIf(77);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->name, "eth-3/0/9");
    EXPECT_EQ(p->type, IF_TYPE_40GE);
    EXPECT_EQ(p->slot, 3);
    EXPECT_FALSE(p->linkUp);
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Interface, IF_EVT_ACTIVE, {77}, 0}));

    sink.clear();
    ok("port add eth-3/0/10 3 --type=21");
    uint32_t i = m.ifIndexByName("eth-3/0/10");
    EXPECT_EQ(i, 101u);   // after the aggregate's 100
    EXPECT_EQ(m.findIf(i)->type, IF_TYPE_XGE);
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Interface, IF_EVT_ACTIVE, {i}, 0},
                                              Ev{EventKind::Link, IF_EVT_LINK_UP, {i}, 0}));
}

TEST_F(PortCommands, RefusesBadNamesIndexesTypesAndSlots)
{
    refused("port add eth-1/0/1 1", "interface name 'eth-1/0/1' is in use");
    refused("port add 123 1", "all digits");
    refused("port add 'it\"s' 1", "holds a quote character");
    refused("port add " + std::string(48, 'p') + " 1", "1 to 47 characters");
    refused("port add eth-9 9", "slot '9' is not configured");
    refused("port add eth-9 1 --ifindex 3", "--ifindex 3 is in use by eth-1/0/3");
    refused("port add eth-9 1 --ifindex 0", "--ifindex '0' is out of range");
    refused("port add eth-9 1 --type agg", "use 'agg add'");
    refused("port add eth-9 1 --type fast", "--type");
    refused("port add eth-9", "missing argument; usage: port add <name> <slot>");
    refused("port add eth-9 1 extra", "unexpected argument 'extra'");
    refused("port add eth-9 1 --type", "option '--type' needs a value");
    refused("port add eth-9 1 --down --down", "given twice");
}

TEST_F(PortCommands, AggregatesJoinAndLeaveWithTheirLinkFollowing)
{
    ok("agg add agg-2 --ifindex 200");
    EXPECT_TRUE(m.findIf(200)->isAggregate());
    sink.clear();
    ok("agg join agg-2 eth-3/0/1");
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Interface, IF_EVT_AGG_JOIN, {7}, 200},
                                              Ev{EventKind::Link, IF_EVT_LINK_UP, {200}, 0}));
    sink.clear();
    // by ifIndex; moving from agg-2 to agg-1 leaves first
    ok("agg join 100 7");
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Interface, IF_EVT_AGG_LEAVE, {7}, 200},
                                              Ev{EventKind::Link, IF_EVT_LINK_DOWN, {200}, 0},
                                              Ev{EventKind::Interface, IF_EVT_AGG_JOIN, {7}, 100}));
    EXPECT_THAT(m.findIf(100)->members, ElementsAre(3, 6, 7));
    sink.clear();
    ok("agg leave eth-3/0/1");
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Interface, IF_EVT_AGG_LEAVE, {7}, 100}));
    EXPECT_EQ(m.findIf(7)->aggregate, 0u);
}

TEST_F(PortCommands, JoinNeedsAnAggregateAndAPort)
{
    refused("agg join eth-1/0/1 eth-3/0/1", "aggregate 'eth-1/0/1' is a port, not an aggregate");
    refused("agg join agg-1 agg-1", "port 'agg-1' is an aggregate, not a port");
    refused("agg join agg-9 eth-3/0/1", "unknown aggregate 'agg-9'");
    refused("agg join agg-1 eth-9/9/9", "unknown port 'eth-9/9/9'");
    refused("agg add agg-1", "in use");
}

using LinkCommands = CommandTest;

TEST_F(LinkCommands, LinkDownAndUpReportThePortAndItsAggregate)
{
    ok("link down eth-1/0/3");
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Link, IF_EVT_LINK_DOWN, {3}, 0},
                                              Ev{EventKind::Link, IF_EVT_LINK_DOWN, {100}, 0}));
    sink.clear();
    ok("link up 6");
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Link, IF_EVT_LINK_UP, {6}, 0},
                                              Ev{EventKind::Link, IF_EVT_LINK_UP, {100}, 0}));
    sink.clear();
    auto o = cmd("link up 6");
    EXPECT_EQ(o.status, 0);
    EXPECT_THAT(o.out, HasSubstr("no change"));
    EXPECT_TRUE(sink.empty());
}

TEST_F(LinkCommands, RefusesAggregatesAndInactivePorts)
{
    refused("link up agg-1", "is an aggregate, not a port");
    ok("if inactive eth-3/0/1");
    refused("link up eth-3/0/1", "port 'eth-3/0/1' is inactive");
    refused("link sideways eth-3/0/1", "unknown command 'link sideways'");
}

TEST_F(LinkCommands, InactiveParksByDefaultAndDiscardsWhenAsked)
{
    ok("if inactive eth-1/0/1");
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Link, IF_EVT_LINK_DOWN, {1}, 0},
                                              Ev{EventKind::Interface, IF_EVT_INACTIVE, {1}, IF_INACTIVE_PARK}));
    sink.clear();
    ok("if inactive eth-1/0/2 --discard");
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Link, IF_EVT_LINK_DOWN, {2}, 0},
                                              Ev{EventKind::Interface, IF_EVT_INACTIVE, {2}, 0}));
    sink.clear();
    ok("if active eth-1/0/1");
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Interface, IF_EVT_ACTIVE, {1}, 0}));
    EXPECT_FALSE(m.findIf(1)->linkUp);
}

TEST_F(LinkCommands, ATemporaryInterfaceCannotBecomeActive)
{
    ok("slot remove 3");
    refused("if active eth-3/0/1", "is temporary");
}

TEST_F(LinkCommands, DeletingAnAggregateLetsItsMembersLeaveFirst)
{
    ok("if delete agg-1");
    EXPECT_THAT(evs(sink.events), ElementsAre(Ev{EventKind::Interface, IF_EVT_AGG_LEAVE, {3}, 100},
                                              Ev{EventKind::Link, IF_EVT_LINK_DOWN, {100}, 0},
                                              Ev{EventKind::Interface, IF_EVT_AGG_LEAVE, {6}, 100},
                                              Ev{EventKind::Interface, IF_EVT_INACTIVE, {100}, 0},
                                              Ev{EventKind::Interface, IF_EVT_DELETE, {100}, 0}));
    EXPECT_EQ(m.findIf(100), nullptr);
    refused("if delete agg-1", "unknown interface 'agg-1'");
}

using ServiceCommands = CommandTest;

TEST_F(ServiceCommands, AServiceGoesAwayAndComesBack)
{
    ok("service down l2vpn");
    EXPECT_THAT(sink.down, ElementsAre(sim::Service::L2vpn));
    EXPECT_FALSE(m.serviceUp(sim::Service::L2vpn));
    // registrations of the service ended: VSI changes reach nobody
    sink.clear();
    ok("vsi down vsi-red");
    EXPECT_TRUE(sink.events.empty());
    ok("service up l2vpn");
    EXPECT_TRUE(m.serviceUp(sim::Service::L2vpn));
    refused("service down bgp", "service 'bgp' is not ifm, vlan, l2vpn, stp or packet");
}

}  // namespace
