// Helpers of the command-language tests: a switch model with a sink that
// keeps everything the model sends, registered for every kind of event, a
// host that records what the commands asked of the simulator, and a short
// text for the events a command caused.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/ifm.h"
#include "platform/l2vpn.h"
#include "platform/vlan.h"
#include "tools/simcmd/simcmd.h"

namespace simcmdtest {

class RecordingSink : public sim::EventSink {
public:
    void deliver(const sim::Event& ev) override { events.push_back(ev); }
    void serviceDown(sim::Service s) override { down.push_back(s); }
    void cpuFrame(const std::vector<uint8_t>& d) override { frames.push_back(d); }
    void lineCardReport(const std::vector<uint8_t>& m) override { reports.push_back(m); }
    void clear()
    {
        events.clear();
        down.clear();
        frames.clear();
        reports.clear();
    }
    bool empty() const { return events.empty() && down.empty() && frames.empty() && reports.empty(); }

    std::vector<sim::Event> events;
    std::vector<sim::Service> down;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::vector<uint8_t>> reports;
};

class FakeHost : public simcmd::Host {
public:
    simcmd::Outcome failCall(const std::string& call, int64_t result, unsigned times) override
    {
        return note("fail " + call + " " + std::to_string(result) + " " + std::to_string(times));
    }
    simcmd::Outcome clearFaults() override { return note("fail clear"); }
    simcmd::Outcome injectFrames(uint32_t port, std::vector<std::vector<uint8_t>> frames, double rate) override
    {
        injects.push_back({port, std::move(frames), rate});
        return note("inject");
    }
    simcmd::Outcome bindLink(const std::string& linuxIf, const std::string& netns, uint32_t port) override
    {
        return note("bind " + linuxIf + " " + netns + " " + std::to_string(port));
    }
    simcmd::Outcome unbindLink(const std::string& linuxIf) override { return note("unbind " + linuxIf); }
    nlohmann::json stats() const override { return {{"daemonConnected", false}, {"framesInjected", 7}}; }

    struct Inject {
        uint32_t port;
        std::vector<std::vector<uint8_t>> frames;
        double rate;
    };
    std::vector<std::string> asked;  // every call, in order
    std::vector<Inject> injects;

private:
    simcmd::Outcome note(const std::string& what)
    {
        asked.push_back(what);
        return {0, "", ""};
    }
};

// "100-104,107": a list of numbers with its runs joined.
template <typename T>
std::string runs(const std::vector<T>& v)
{
    std::string out;
    for (size_t i = 0; i < v.size();) {
        size_t j = i;
        while (j + 1 < v.size() && v[j + 1] == v[j] + 1) ++j;
        out += (out.empty() ? "" : ",") + std::to_string(v[i]) + (j > i ? "-" + std::to_string(v[j]) : "");
        i = j + 1;
    }
    return out;
}

// One event as a short text: "down 1,2,3", "inactive 1 /1" (data after the
// slash), "vlan- 1 {100-104}" (a VLAN set; <300> one VLAN), "tc ifs=* vlans=7"
// (* all), "vsi-add 9 isid=777 flags=8".
inline std::string text(const sim::Event& e)
{
    static const std::map<uint32_t, std::string> ifNames = {
        {IF_EVT_DELETE, "delete"},   {IF_EVT_INACTIVE, "inactive"},   {IF_EVT_ACTIVE, "active"},
        {IF_EVT_AGG_JOIN, "join"},   {IF_EVT_AGG_LEAVE, "leave"},     {IF_EVT_LINK_UP, "up"},
        {IF_EVT_LINK_DOWN, "down"},  {IF_EVT_SLOT_INSERT, "insert"},  {IF_EVT_SLOT_REMOVE, "remove"}};
    static const std::map<uint32_t, std::string> vsiNames = {
        {L2VPN_EVT_VSI_ADD, "vsi-add"}, {L2VPN_EVT_VSI_DEL, "vsi-del"}, {L2VPN_EVT_VSI_MODIFY_ISID, "vsi-isid"},
        {L2VPN_EVT_VSI_STATE, "vsi-state"}, {L2VPN_EVT_DISABLE, "disable"}};
    auto vlans = [&] { return e.vlanSet ? "{" + runs(e.vlans) + "}" : "<" + runs(e.vlans) + ">"; };
    switch (e.kind) {
    case sim::EventKind::Vlan:
        return (e.code == VLAN_EVT_ADDED ? "vlan+ " : "vlan- ") + std::to_string(e.data) + " " + vlans();
    case sim::EventKind::Tc:
        return "tc ifs=" + (e.hasItems ? runs(e.items) : "*") + " vlans=" + (e.vlanSet ? runs(e.vlans) : "*");
    case sim::EventKind::L2vpn:
        return vsiNames.at(e.code) + " " + std::to_string(e.vsi.index) + " isid=" + std::to_string(e.vsi.isid) +
               " flags=" + std::to_string(e.vsi.flags);
    default:
        return ifNames.at(e.code) + " " + runs(e.items) + (e.data ? " /" + std::to_string(e.data) : "");
    }
}

inline std::string text(const std::vector<sim::Event>& events)
{
    std::string out;
    for (const auto& e : events) out += (out.empty() ? "" : "; ") + text(e);
    return out;
}

// A switch with the default topology, every kind of event registered, the
// events of loading it cleared, and a host standing in for the simulator.
class CommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        using sim::EventKind;
        m.setSink(&sink);
        m.subscribe({.kind = EventKind::Interface, .mask = IF_EVT_DELETE | IF_EVT_INACTIVE | IF_EVT_ACTIVE |
                                                            IF_EVT_AGG_JOIN | IF_EVT_AGG_LEAVE});
        m.subscribe({.kind = EventKind::Link, .mask = IF_EVT_LINK_UP | IF_EVT_LINK_DOWN});
        m.subscribe({.kind = EventKind::Slot, .mask = IF_EVT_SLOT_INSERT | IF_EVT_SLOT_REMOVE});
        m.subscribe({.kind = EventKind::Vlan, .mask = 3});
        m.subscribe({.kind = EventKind::L2vpn, .mask = 0x1B, .client = L2VPN_CLIENT_MINM});
        m.subscribe({.kind = EventKind::Tc});
        auto r = simcmd::loadTopology(m, simcmd::defaultTopology(), "default");
        ASSERT_EQ(r.status, 0) << r.err;
        sink.clear();
    }

    simcmd::Outcome cmd(const std::string& line, bool json = false)
    {
        return simcmd::run(m, host, simcmd::split(line), json);
    }

    // Runs a command that must succeed.
    void ok(const std::string& line)
    {
        auto o = cmd(line);
        ASSERT_EQ(o.status, 0) << line << ": " << o.err;
    }

    // The JSON of a command that must succeed.
    nlohmann::json json(const std::string& line)
    {
        auto o = cmd(line, true);
        EXPECT_EQ(o.status, 0) << line << ": " << o.err;
        return o.status == 0 ? nlohmann::json::parse(o.out) : nlohmann::json();
    }

    // A forwarding request as the daemon makes it, on B-VLAN 100.
    uint32_t program(uint32_t op, uint32_t vsi, sim::Mac bmac, std::vector<uint32_t> ports, sim::Mac cmac = {})
    {
        sim::MinMRequest r{.client = L2VPN_CLIENT_MINM, .op = op, .ports = ports};
        r.entry.uiVsiIndex = vsi;
        r.entry.uiISid = m.findVsi(vsi) ? m.findVsi(vsi)->isid : 0;
        std::copy(bmac.begin(), bmac.end(), r.entry.aucBMac);
        std::copy(cmac.begin(), cmac.end(), r.entry.aucCMac);
        r.entry.uiAllOnes = 0xFFFFFFFF;
        r.entry.usAllOnes = 0xFFFF;
        r.entry.uiEntryFlags = 0x14;
        r.entry.uiBVlan = 100;
        r.entry.uiPortNum = static_cast<uint32_t>(r.ports.size());
        return m.program(r);
    }

    // Everything the commands can show about the switch.
    std::string state()
    {
        simcmd::Host* keep = host;
        host = nullptr;
        std::string s = cmd("show all", true).out + cmd("show config").out + cmd("show acks", true).out;
        host = keep;
        return s;
    }

    // A command that must be refused as bad input, with the message holding
    // `fragment`, changing nothing and sending nothing.
    void refused(const std::string& line, const std::string& fragment)
    {
        std::string before = state();
        sink.clear();
        auto o = cmd(line);
        EXPECT_EQ(o.status, 2) << line << " -> " << o.out << o.err;
        EXPECT_THAT(o.err, ::testing::HasSubstr(fragment)) << line;
        EXPECT_TRUE(sink.empty()) << line << " sent something";
        EXPECT_TRUE(state() == before) << line << " changed the switch";
        EXPECT_TRUE(fake.asked.empty()) << line << " reached the host";
    }

    sim::SwitchModel m;
    RecordingSink sink;
    FakeHost fake;
    simcmd::Host* host = &fake;
};

// Every key of want is in got with want's value; got may hold more.
inline void expectHolds(const nlohmann::json& got, const nlohmann::json& want)
{
    for (const auto& [k, v] : want.items()) EXPECT_EQ(got.value(k, nlohmann::json()), v) << "key " << k << " of " << got;
}

}  // namespace simcmdtest
