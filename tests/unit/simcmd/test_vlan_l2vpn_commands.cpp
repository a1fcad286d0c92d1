// VLANs, spanning tree, VSIs, L2VPN limits and line-card reports.
#include <cstring>

#include "platform/l2vpn_age.h"
#include "platform/model/line_report.h"
#include "platform/sti.h"
#include "platform/vlan.h"
#include "simcmd_test.h"

namespace {

using simcmdtest::CommandTest;
using sim::EventKind;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

std::vector<uint16_t> range(uint16_t lo, uint16_t hi)
{
    std::vector<uint16_t> v;
    for (uint32_t i = lo; i <= hi; ++i) v.push_back(static_cast<uint16_t>(i));
    return v;
}

// What a VLAN or topology-change event says: code and data word (the
// interface of a VLAN event), the VLANs (a set or one), and for a topology
// change the interfaces (a list or all).
struct VlanEv {
    uint32_t code, data;
    bool vlanSet;
    std::vector<uint16_t> vlans;
    bool hasItems;
    std::vector<uint32_t> items;
    bool operator==(const VlanEv&) const = default;
};

void PrintTo(const VlanEv& e, std::ostream* os)
{
    *os << "{code " << e.code << " data " << e.data << (e.vlanSet ? " set" : " one") << " vlans";
    for (uint16_t v : e.vlans) *os << " " << v;
    *os << (e.hasItems ? " items" : " all");
    for (uint32_t i : e.items) *os << " " << i;
    *os << "}";
}

std::vector<VlanEv> vlanEvs(const std::vector<sim::Event>& events, EventKind kind)
{
    std::vector<VlanEv> out;
    for (const auto& e : events) {
        EXPECT_EQ(e.kind, kind);
        bool tc = kind == EventKind::Tc;  // only a topology change names interfaces
        out.push_back({e.code, e.data, e.vlanSet, e.vlans, tc && e.hasItems, tc ? e.items : std::vector<uint32_t>{}});
    }
    return out;
}

using VlanCommands = CommandTest;

TEST_F(VlanCommands, TrunkReportsTheVlansLostThenThoseGained)
{
    ok("vlan trunk eth-1/0/1 105-120");
    EXPECT_EQ(vlanEvs(sink.events, EventKind::Vlan),
              (std::vector<VlanEv>{{VLAN_EVT_DELETED, 1, true, range(100, 104), false, {}},
                                   {VLAN_EVT_ADDED, 1, true, range(111, 120), false, {}}}));
    EXPECT_EQ(m.findIf(1)->linkType, VLAN_LINK_TRUNK);
}

TEST_F(VlanCommands, AddAndDelChangeOnlyTheVlansNamed)
{
    ok("vlan add eth-2/0/2 300");
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].code, VLAN_EVT_ADDED);
    EXPECT_FALSE(sink.events[0].vlanSet);   // one VLAN comes as one VLAN
    EXPECT_EQ(sink.events[0].vlans, std::vector<uint16_t>{300});
    sink.clear();
    ok("vlan del 5 100,102,300");
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].code, VLAN_EVT_DELETED);
    EXPECT_EQ(sink.events[0].vlans, (std::vector<uint16_t>{100, 102, 300}));
    std::set<uint16_t> want;
    for (uint16_t v : range(101, 110))
        if (v != 102) want.insert(v);
    EXPECT_EQ(m.findIf(5)->vlans, want);

    sink.clear();
    auto o = cmd("vlan del eth-2/0/2 999");
    EXPECT_EQ(o.status, 0);
    EXPECT_THAT(o.out, HasSubstr("no change"));
    EXPECT_TRUE(sink.empty());
}

TEST_F(VlanCommands, AccessPortCarriesOneVlan)
{
    ok("vlan access eth-1/0/2 30");
    const sim::Interface* p = m.findIf(2);
    EXPECT_EQ(p->linkType, VLAN_LINK_ACCESS);
    EXPECT_EQ(p->pvid, 30);
    EXPECT_EQ(p->vlans, std::set<uint16_t>{30});
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_EQ(sink.events[0].vlans, range(100, 110));
    EXPECT_EQ(sink.events[1].vlans, std::vector<uint16_t>{30});
}

TEST_F(VlanCommands, TrunkOfNoVlanIsAllowed)
{
    ok("vlan trunk eth-2/0/1 none");
    EXPECT_TRUE(m.findIf(4)->vlans.empty());
}

TEST_F(VlanCommands, RefusesMalformedListsAndVlansBeyondTheHighest)
{
    refused("vlan trunk eth-1/0/1 10,,20", "has an empty item");
    refused("vlan trunk eth-1/0/1 10-x", "item '10-x' VLAN 'x' is not a number");
    refused("vlan trunk eth-1/0/1 0", "out of range (1 to 4094)");
    refused("vlan trunk eth-1/0/1 4095", "out of range (1 to 4094)");
    refused("vlan access eth-1/0/1 0", "pvid '0' is out of range");
    refused("vlan add eth-1/0/1 none", "names no VLAN");
    refused("vlan trunk eth-7/7/7 10", "unknown interface 'eth-7/7/7'");
    refused("vlan max 150", "below a VLAN that eth-2/0/1 uses");
    ok("vlan max 300");
    EXPECT_EQ(m.maxVlanId(), 300);
    refused("vlan add eth-1/0/1 301", "out of range (1 to 300)");
}

using StpCommands = CommandTest;

TEST_F(StpCommands, StateIsSetPerVlanWithoutAnEvent)
{
    ok("stp state eth-1/0/1 100-102 discarding");
    ok("stp state agg-1 105 learning");
    EXPECT_EQ(m.findIf(1)->stp.at(101), STI_STATE_DISCARDING);
    EXPECT_EQ(m.findIf(1)->stp.at(103), STI_STATE_FORWARDING);
    EXPECT_EQ(m.findIf(100)->stp.at(105), STI_STATE_LEARNING);
    EXPECT_TRUE(sink.empty());
    refused("stp state eth-1/0/1 100 blocking", "'blocking' is not forwarding, discarding or learning");
    refused("stp state eth-1/0/1 none forwarding", "names no VLAN");
}

TEST_F(StpCommands, TopologyChangeForEverythingSomeVlansSomeInterfacesOrBoth)
{
    ok("stp tc");
    ok("stp tc --vlans 100-102");
    ok("stp tc --ifs eth-1/0/1,100");
    ok("stp tc --vlans 7 --ifs 4");
    ok("stp tc --vlans none --ifs none");
    // an empty list is an empty list, not "all"
    EXPECT_EQ(vlanEvs(sink.events, EventKind::Tc),
              (std::vector<VlanEv>{{0, 0, false, {}, false, {}},
                                   {0, 0, true, range(100, 102), false, {}},
                                   {0, 0, false, {}, true, {1, 100}},
                                   {0, 0, true, {7}, true, {4}},
                                   {0, 0, true, {}, true, {}}}));

    refused("stp tc --ifs eth-1/0/1,eth-nope", "unknown interface in --ifs 'eth-nope'");
    refused("stp tc 5", "unexpected argument '5'");
}

using VsiCommands = CommandTest;

TEST_F(VsiCommands, EachChangeSendsItsEventType)
{
    ok("vsi add 9 vsi-new 777 --down");
    ok("vsi isid vsi-new 778");
    ok("vsi up 9");
    ok("vsi down vsi-new");
    ok("vsi del vsi-new");
    ASSERT_EQ(sink.events.size(), 5u);
    std::vector<uint32_t> codes;
    for (const auto& e : sink.events) codes.push_back(e.code);
    EXPECT_THAT(codes, ElementsAre(L2VPN_EVT_VSI_ADD, L2VPN_EVT_VSI_MODIFY_ISID, L2VPN_EVT_VSI_STATE,
                                   L2VPN_EVT_VSI_STATE, L2VPN_EVT_VSI_DEL));
    EXPECT_EQ(sink.events[0].vsi.flags, L2VPN_VSI_FLAG_DOWN);
    EXPECT_EQ(sink.events[0].vsi.isid, 777u);
    EXPECT_EQ(sink.events[1].vsi.isid, 778u);
    EXPECT_EQ(sink.events[2].vsi.flags, 0u);
    EXPECT_EQ(sink.events[3].vsi.flags, L2VPN_VSI_FLAG_DOWN);
    EXPECT_EQ(sink.events[4].vsi.index, 9u);
    EXPECT_EQ(m.findVsi(9), nullptr);
}

TEST_F(VsiCommands, AddingAnExistingIndexAnnouncesItAgain)
{
    auto o = cmd("vsi add 1 vsi-red 10011");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("announced again"));
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].code, L2VPN_EVT_VSI_ADD);
    EXPECT_EQ(m.findVsi(1)->isid, 10011u);
}

TEST_F(VsiCommands, RefusesBadIndexesNamesAndIsids)
{
    refused("vsi add 1024 vsi-x 5", "VSI index '1024' is out of range (0 to 1023)");
    refused("vsi add 9 vsi-red 5", "VSI name 'vsi-red' is in use by VSI 1");
    refused("vsi add 9 " + std::string(32, 'v') + " 5", "1 to 31 characters");
    refused("vsi add 9 42 5", "all digits");
    refused("vsi add 9 \"it's\" 5", "holds a quote character");
    refused("vsi add 9 vsi-x 16777216", "I-SID '16777216' is out of range");
    refused("vsi isid vsi-gone 5", "unknown VSI 'vsi-gone'");
    refused("vsi del 77", "unknown VSI '77'");
    refused("vsi add 9 vsi-x", "missing argument");
}

TEST_F(VsiCommands, DisableRemovesEveryVsiWithOneEvent)
{
    ok("l2vpn disable");
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].code, L2VPN_EVT_DISABLE);
    EXPECT_TRUE(m.vsis().empty());
}

TEST_F(VsiCommands, LimitsAndVsiCount)
{
    ok("l2vpn limits --total 100 --shared on");
    EXPECT_EQ(m.fibSpec().maxPwNum, 100u);
    EXPECT_EQ(m.fibSpec().maxPwPerVsi, 1024u);
    EXPECT_TRUE(m.fibSpec().shareVsi);
    ok("l2vpn limits --per-vsi 10");
    EXPECT_EQ(m.fibSpec().maxPwNum, 100u);
    EXPECT_EQ(m.fibSpec().maxPwPerVsi, 10u);
    refused("l2vpn limits", "needs --total, --per-vsi or --shared");
    refused("l2vpn limits --shared maybe", "neither on nor off");
    refused("l2vpn limits --total 0", "out of range");
    ok("l2vpn max-vsi 5");
    EXPECT_EQ(m.maxVsiNum(), 5u);
    refused("l2vpn max-vsi 4", "does not hold VSI 4");
}

// The report message as the line cards would send it, built field by field.
template <typename T>
void put(std::vector<uint8_t>& out, const T& v)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    out.insert(out.end(), p, p + sizeof v);
}

using ReportCommands = CommandTest;

TEST_F(ReportCommands, AgedReportCarriesItsEntries)
{
    ok("report aged 2 vsi-red 10010 00:00:5e:00:01:01/100 00:00:5e:00:01:02/101");
    ASSERT_EQ(sink.reports.size(), 1u);
    sim::AgeReport want;
    want.slot = 2;
    want.ageType = L2VPN_AGE_TYPE_AGED;
    want.vsi = 1;
    want.isid = 10010;
    want.entries = {{{0, 0, 0x5e, 0, 1, 1}, 100}, {{0, 0, 0x5e, 0, 1, 2}, 101}};
    EXPECT_EQ(sink.reports[0], sim::encodeReport({want}));

    // the record itself, after the TLV header
    const auto& msg = sink.reports[0];
    ASSERT_GE(msg.size(), sizeof(L2VPN_AGE_MSG_S) + 2 * sizeof(L2VPN_AGE_ENTRY_S));
    L2VPN_AGE_MSG_S rec;
    std::memcpy(&rec, msg.data() + msg.size() - 2 * sizeof(L2VPN_AGE_ENTRY_S) - sizeof rec, sizeof rec);
    EXPECT_EQ(rec.usSlotId, 2);
    EXPECT_EQ(rec.uiAgeType, L2VPN_AGE_TYPE_AGED);
    EXPECT_EQ(rec.uiVsiIndex, 1u);
    EXPECT_EQ(rec.uiISid, 10010u);
    EXPECT_EQ(rec.uiPwNum, 2u);
}

TEST_F(ReportCommands, CancelledAgedAndAnUnknownVsiIndex)
{
    ok("report cancelled_aged 1 999 5 02:00:00:00:00:09/7");
    ASSERT_EQ(sink.reports.size(), 1u);
    sim::AgeReport want{.slot = 1, .ageType = L2VPN_AGE_TYPE_CANCELLED, .vsi = 999, .isid = 5,
                        .entries = {{{2, 0, 0, 0, 0, 9}, 7}}};
    EXPECT_EQ(sink.reports[0], sim::encodeReport({want}));
}

TEST_F(ReportCommands, NoHardwareResourceEntries)
{
    ok("report nohw 1/vsi-green/10020/02:00:00:00:00:01/100 2/3/10030/02:00:00:00:00:02/101");
    ASSERT_EQ(sink.reports.size(), 1u);
    sim::NoHardResReport want;
    want.entries = {{.slot = 1, .bvlan = 100, .vsi = 2, .isid = 10020, .bmac = {2, 0, 0, 0, 0, 1}},
                    {.slot = 2, .bvlan = 101, .vsi = 3, .isid = 10030, .bmac = {2, 0, 0, 0, 0, 2}}};
    EXPECT_EQ(sink.reports[0], sim::encodeReport({want}));
}

TEST_F(ReportCommands, RawTlvIsSentAsGiven)
{
    ok("report raw 7 0xdeadbeef");
    std::vector<uint8_t> want = sim::encodeReport({sim::RawTlv{7, {0xde, 0xad, 0xbe, 0xef}}});
    ASSERT_EQ(sink.reports.size(), 1u);
    EXPECT_EQ(sink.reports[0], want);
}

TEST_F(ReportCommands, RefusesMalformedEntriesAndOversizedMessages)
{
    refused("report aged 1 1 5", "missing argument");
    refused("report aged 1 1 5 02:00:00:00:00:01", "is not <bmac>/<bvlan>");
    refused("report aged 1 1 5 02:00:00:00:01/4", "B-MAC");
    refused("report aged 1 1 5 02:00:00:00:00:01/4096", "B-VLAN");
    refused("report nohw 1/2/3/02:00:00:00:00:01", "is not <slot>/<vsi>/<isid>/<bmac>/<bvlan>");
    refused("report raw 1 abc", "not whole bytes of hex");
    std::string many = "report aged 1 1 5";
    for (int i = 0; i < 600; ++i) many += " 02:00:00:00:00:01/1";
    refused(many, "longer than one message of 4096 bytes");
}

}  // namespace
