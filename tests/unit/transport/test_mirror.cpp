// The switch's state as the platform calls read it over the socket
// transport: every query gives what the same switch in process gives, at
// the snapshot and after every change, and no query asks the simulator.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/bitmap.h"
#include "platform/dev.h"
#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/lagg.h"
#include "platform/model/inproc.h"
#include "platform/result.h"
#include "platform/sti.h"
#include "platform/testing.h"
#include "platform/vlan.h"
#include "unit/transport/sim_child.h"

namespace {

// What the switch holds, to ask about: indexes and names (with unknown ones).
struct Subjects {
    std::vector<uint32_t> ifs{0, 99999};
    std::vector<std::string> names{"no-such-if"}, vsiNames{"no-such-vsi"};

    void add(const sim::SwitchModel& m)
    {
        for (const auto& [i, ifc] : m.interfaces()) ifs.push_back(i), names.push_back(ifc.name);
        for (const auto& [i, v] : m.vsis()) vsiNames.push_back(v.name);
    }
};

std::string vlanList(const BITMAP_S* map)
{
    std::string out;
    for (uint32_t v = 0; v <= map->uiSize; ++v)
        if (Bitmap_Check(map, v) != 0) out += std::to_string(v) + ",";
    return out;
}

// Every query of the switch services, as lines "call(arguments) -> answer";
// each call runs before its answer is read.
std::vector<std::string> askEverything(const Subjects& s)
{
    std::vector<std::string> out;
    auto line = [&](const std::string& call, uint32_t rc, const std::function<std::string()>& value) {
        out.push_back(call + " -> " + std::to_string(rc) + (rc == 0 ? " " + value() : ""));
    };
    auto n = [](auto v) { return std::to_string(v); };
    uint16_t maxVlan = VLAN_GetMaxVlanID(), lo = 0, hi = 0;
    out.push_back("VLAN_GetMaxVlanID -> " + n(maxVlan));
    line("DEV_GetSlotRange", DEV_GetSlotRange(&lo, &hi), [&] { return n(lo) + "-" + n(hi); });
    for (uint16_t slot = 0; slot <= hi + 1; ++slot) {
        uint32_t status = 0;
        line("DEV_GetDeviceStatus(" + n(slot) + ")", DEV_GetDeviceStatus(DEV_CHASSIS, slot, DEV_CPU_ALL, &status), [&] { return n(status); });
        out.push_back("L2VPN_IsSupportMinM(" + n(slot) + ") -> " + n(L2VPN_IsSupportMinM(slot)));
    }
    uint32_t maxVsi = 0, used = 0;
    line("L2VPN_GetMaxVsiNum", L2VPN_GetMaxVsiNum(&maxVsi, &used), [&] { return n(maxVsi) + "/" + n(used); });
    L2VPN_L2VFIB_SPEC_S spec{};
    line("L2VPN_GetL2VFIBSpec", L2VPN_GetL2VFIBSpec(&spec), [&] { return n(spec.uiMaxPwNum) + "/" + n(spec.uiMaxPwPerVsi) + "/" + n(spec.usVsiShare); });
    for (const auto& name : s.vsiNames) {
        L2VPN_VSI_INFO_S info{};
        line("L2VPN_GetVsiInfoByName(" + name + ")", L2VPN_GetVsiInfoByName(name.c_str(), &info),
             [&] { return n(info.uiVsiIndex) + "/" + n(info.uiFlags) + "/" + n(info.uiISid) + "/" + info.szVsiName; });
    }
    for (const auto& name : s.names) out.push_back("IF_GetIfIndexByFullName(" + name + ") -> " + n(IF_GetIfIndexByFullName(name.c_str())));
    BITMAP_S* map = Bitmap_Create(maxVlan);
    for (uint32_t i : s.ifs) {
        std::string at = "(" + n(i) + ")";
        uint16_t slot = 0, member = 0, pvid = 0;
        uint32_t type = 0, link = 0;
        uint8_t linkType = 0;
        char name[IF_NAME_BUF_LEN] = {};
        line("IF slot" + at, IF_GetDataByIfIndex(i, IF_DATA_SLOT, &slot), [&] { return n(slot); });
        line("IF name" + at, IF_GetDataByIfIndex(i, IF_DATA_FULL_NAME, name), [&] { return std::string(name); });
        line("IF type" + at, IF_GetDataByIfIndex(i, IF_DATA_TYPE, &type), [&] { return n(type); });
        line("IF link" + at, IF_GetDataByIfIndex(i, IF_DATA_LINK_STATE, &link), [&] { return n(link); });
        out.push_back("IF_IsTempIf" + at + " -> " + n(IF_IsTempIf(i)));
        line("LAGG member" + at, LAGG_GetDataByIfIndex(i, LAGG_DATA_IS_MEMBER, &member), [&] { return n(member); });
        LAGG_MEMBER_LIST_S list{};
        line("LAGG members" + at, LAGG_GetDataByIfIndex(i, LAGG_DATA_MEMBERS, &list), [&] {
            std::string members;
            for (uint32_t k = 0; k < list.uiNum; ++k) members += n(list.puiIfIndex[k]) + ",";
            return members;
        });
        std::free(list.puiIfIndex);
        line("VLAN link type" + at, VLAN_GetIfDataByIndex(i, VLAN_DATA_LINK_TYPE, &linkType), [&] { return n(linkType); });
        line("VLAN pvid" + at, VLAN_GetIfDataByIndex(i, VLAN_DATA_PVID, &pvid), [&] { return n(pvid); });
        line("VLAN map" + at, VLAN_GetIfDataByIndex(i, VLAN_DATA_VLAN_MAP, map), [&] { return vlanList(map); });
        std::string states;
        for (uint32_t v = 1; v <= static_cast<uint32_t>(maxVlan) + 1; ++v) {
            uint16_t st = 0;
            states += STI_GetVlanState(i, static_cast<uint16_t>(v), &st) == 0 ? n(st) : "-";
        }
        out.push_back("STI states" + at + " -> " + states);
    }
    Bitmap_Destroy(map);
    return out;
}

// Changes that touch every kind of queryable state.
const char* const kChanges[] = {
    "link down eth-1/0/1", "slot remove 2", "if inactive eth-3/0/1", "agg leave eth-1/0/3",
    "vlan trunk eth-1/0/2 7,300-305", "vlan access eth-3/0/2 42", "stp state eth-1/0/1 101-103 learning",
    "vsi down vsi-green", "vsi isid vsi-blue 777", "vsi del vsi-plain", "vsi add 9 vsi-new 4242",
    "l2vpn limits --total 100 --per-vsi 10 --shared on", "l2vpn max-vsi 64", "slot add 4 --minm",
    "port add eth-4/0/1 4 --ifindex 40", "if delete eth-3/0/2", "port add eth-3/0/2 3 --ifindex 41",
    "service down vlan",
};

class MirrorTest : public pbbtest::TransportTest {
protected:
    // A switch in process after the default topology and the first `changes` changes.
    static sim::SwitchModel& inProcess(size_t changes)
    {
        auto& m = plat::inproc::reset();
        EXPECT_EQ(simcmd::loadTopology(m, simcmd::defaultTopology(), "reference").status, 0);
        for (size_t k = 0; k < changes; ++k) {
            auto o = simcmd::run(m, nullptr, simcmd::split(kChanges[k]), false);
            EXPECT_EQ(o.status, 0) << o.err;
        }
        return m;
    }
};

TEST_F(MirrorTest, EveryQueryAnswersAsTheSwitchInProcessAtConnectionAndAfterEachChange)
{
    // What to ask about: everything that exists at some step.
    Subjects all;
    for (size_t k = 0; k <= std::size(kChanges); ++k) all.add(inProcess(k));
    std::vector<std::vector<std::string>> expected;
    for (size_t k = 0; k <= std::size(kChanges); ++k) {
        inProcess(k);
        expected.push_back(askEverything(all));
    }

    pbbtest::SimChild sim;
    connect();
    EXPECT_EQ(askEverything(all), expected[0]) << "at connection";
    auto requests = [] { return pbbtest::simStats()["requests"].get<uint64_t>(); };
    uint64_t asked = requests();
    for (size_t k = 0; k < std::size(kChanges); ++k) {
        ASSERT_NO_FATAL_FAILURE(pbbtest::must(simcmd::split(kChanges[k])));
        EXPECT_EQ(askEverything(all), expected[k + 1]) << "after " << kChanges[k];
    }
    EXPECT_EQ(requests(), asked) << "a query asked the simulator";
}

}  // namespace
