// Helpers of the command-language tests: a switch model with a sink that
// keeps everything the model sends, registered for every kind of event, and
// a host that records what the commands asked of the simulator.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ifm.h"
#include "platform/l2vpn.h"
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
    struct Inject {
        uint32_t port;
        std::vector<std::vector<uint8_t>> frames;
        double rate;
    };
    simcmd::Outcome failCall(const std::string& call, int64_t result, unsigned times) override
    {
        faults.push_back({call, result, times});
        return {0, "armed\n", ""};
    }
    simcmd::Outcome clearFaults() override
    {
        ++cleared;
        return {0, "cleared\n", ""};
    }
    simcmd::Outcome injectFrames(uint32_t port, std::vector<std::vector<uint8_t>> frames, double rate) override
    {
        injects.push_back({port, std::move(frames), rate});
        return {0, "queued\n", ""};
    }
    simcmd::Outcome bindLink(const std::string& linuxIf, const std::string& netns, uint32_t port) override
    {
        binds.push_back({linuxIf, netns, port});
        return {0, "bound\n", ""};
    }
    simcmd::Outcome unbindLink(const std::string& linuxIf) override
    {
        unbinds.push_back(linuxIf);
        return {0, "unbound\n", ""};
    }
    nlohmann::json stats() const override { return {{"daemonConnected", false}, {"framesInjected", 7}}; }

    struct Fault {
        std::string call;
        int64_t result;
        unsigned times;
    };
    struct Bind {
        std::string linuxIf, netns;
        uint32_t port;
    };
    std::vector<Fault> faults;
    int cleared = 0;
    std::vector<Inject> injects;
    std::vector<Bind> binds;
    std::vector<std::string> unbinds;
};

// A switch with the default topology, every kind of event registered, the
// events of loading it cleared.
class CommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m.setSink(&sink);
        subscribeAll();
        auto r = simcmd::loadTopology(m, simcmd::defaultTopology(), "default");
        ASSERT_EQ(r.status, 0) << r.err;
        sink.clear();
    }

    void subscribeAll()
    {
        using sim::EventKind;
        m.subscribe({.kind = EventKind::Interface, .mask = IF_EVT_DELETE | IF_EVT_INACTIVE | IF_EVT_ACTIVE |
                                                            IF_EVT_AGG_JOIN | IF_EVT_AGG_LEAVE});
        m.subscribe({.kind = EventKind::Link, .mask = IF_EVT_LINK_UP | IF_EVT_LINK_DOWN});
        m.subscribe({.kind = EventKind::Slot, .mask = IF_EVT_SLOT_INSERT | IF_EVT_SLOT_REMOVE});
        m.subscribe({.kind = EventKind::Vlan, .mask = 3});
        m.subscribe({.kind = EventKind::L2vpn, .mask = 0x1B, .client = L2VPN_CLIENT_MINM});
        m.subscribe({.kind = EventKind::Tc});
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

    // Everything the commands can show about the switch.
    std::string state()
    {
        Host* keep = host;
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
    }

    using Host = simcmd::Host;
    sim::SwitchModel m;
    RecordingSink sink;
    Host* host = nullptr;
};

inline std::vector<uint32_t> items(const sim::Event& e) { return e.items; }

// Every key of want is in got with want's value; got may hold more.
inline void expectHolds(const nlohmann::json& got, const nlohmann::json& want)
{
    for (const auto& [k, v] : want.items()) EXPECT_EQ(got.value(k, nlohmann::json()), v) << "key " << k << " of " << got;
}

}  // namespace simcmdtest
