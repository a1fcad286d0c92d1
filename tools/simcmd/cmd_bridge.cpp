// The switch as a backbone edge bridge: its name, backbone address and age
// time, its attachment circuits, and what its data plane did.
#include "tools/simcmd/command.h"
#include "tools/simcmd/frames.h"
#include "tools/simcmd/table.h"

namespace simcmd {

namespace {

using Words = std::vector<std::string>;
using J = nlohmann::json;

constexpr uint32_t kAgeMax = 1000000;
constexpr size_t kNameMax = 63;

Outcome bridgeName(Context& c, const Words& w)
{
    Args a(w, 2, "bridge name <name>");
    a.expect(1);
    const std::string& name = a[0];
    if (name.empty() || name.size() > kNameMax || name.find_first_of("\"'") != std::string::npos)
        throw BadInput("name " + q(name) + " is not 1 to " + std::to_string(kNameMax) + " characters without quotes");
    sim::BridgeConfig& b = c.model.bridge();
    if (b.name() == name) return done(c, "no change");
    b.setName(name);
    return done(c, "the switch is " + name + (b.addressSet() ? "" : ", backbone address " + formatMac(b.address())),
                {{"mac", formatMac(b.address())}});
}

Outcome bridgeMac(Context& c, const Words& w)
{
    Args a(w, 2, "bridge mac <mac>|auto");
    a.expect(1);
    sim::BridgeConfig& b = c.model.bridge();
    std::optional<sim::Mac> mac;
    if (a[0] != "auto") {
        mac = parseMacArg(a[0], "backbone address");
        if ((*mac)[0] & 1) throw BadInput("backbone address " + q(a[0]) + " is a group address");
        if (*mac == sim::Mac{}) throw BadInput("backbone address " + q(a[0]) + " is all zeros");
    }
    if (b.addressSet() == mac.has_value() && (!mac || *mac == b.address())) return done(c, "no change");
    b.setAddress(mac);
    return done(c, "backbone address " + formatMac(b.address()) + (mac ? "" : " (from the name)"),
                {{"mac", formatMac(b.address())}});
}

Outcome bridgeAge(Context& c, const Words& w)
{
    Args a(w, 2, "bridge age <seconds>");
    a.expect(1);
    auto s = static_cast<uint32_t>(parseUnsigned(a[0], "age time in seconds", 1, kAgeMax));
    if (c.model.bridge().ageSeconds() == s) return done(c, "no change");
    c.model.bridge().setAgeSeconds(s);
    return done(c, "addresses age after " + std::to_string(s) + " s without traffic");
}

// A VSI by name, or any index: a circuit may wait for a VSI the L2VPN
// module announces later.
uint32_t circuitVsi(const sim::SwitchModel& m, const std::string& w)
{
    if (const sim::Vsi* v = m.findVsiByName(w)) return v->index;
    return static_cast<uint32_t>(parseUnsigned(w, "VSI (name or index)", 0, m.maxVsiNum() - 1));
}

Outcome acAdd(Context& c, const Words& w)
{
    Args a(w, 2, "ac add <port> <vsi>");
    a.expect(2);
    uint32_t port = resolvePort(c.model, a[0]);
    uint32_t vsi = circuitVsi(c.model, a[1]);
    sim::BridgeConfig& b = c.model.bridge();
    if (b.circuitVsi(port) == vsi) return done(c, "no change");
    b.attach(port, vsi);
    return done(c, ifLabel(c.model, port) + " is a circuit of VSI " + std::to_string(vsi));
}

Outcome acDel(Context& c, const Words& w)
{
    Args a(w, 2, "ac del <port>");
    a.expect(1);
    uint32_t port = resolvePort(c.model, a[0]);
    if (!c.model.bridge().detach(port)) throw BadInput("port " + q(a[0]) + " is not an attachment circuit");
    return done(c, ifLabel(c.model, port) + " is no longer a circuit");
}

std::string vsiLabel(const sim::SwitchModel& m, uint32_t vsi)
{
    const sim::Vsi* v = m.findVsi(vsi);
    return std::to_string(vsi) + (v != nullptr ? " (" + v->name + ")" : " (no such VSI)");
}

Outcome showCircuits(Context& c, const Words& w)
{
    Args a(w, 2, "show circuits");
    a.expect(0);
    const sim::BridgeConfig& b = c.model.bridge();
    J list = J::array();
    Table t({"IFINDEX", "PORT", "VSI"});
    for (const auto& [port, vsi] : b.circuits()) {
        list.push_back({{"ifIndex", port}, {"name", ifLabel(c.model, port)}, {"vsi", vsi}});
        t.row({std::to_string(port), ifLabel(c.model, port), vsiLabel(c.model, vsi)});
    }
    std::string head = "bridge " + b.effectiveName() + ", backbone address " + formatMac(b.address()) + ", age " +
                       std::to_string(b.ageSeconds()) + " s\n";
    return shown(c, head + t.str(),
                 {{"bridge", {{"name", b.effectiveName()}, {"mac", formatMac(b.address())}, {"ageSeconds", b.ageSeconds()}}},
                  {"circuits", list}});
}

std::string drops(const J& dropped)
{
    std::string s;
    for (const auto& [reason, n] : dropped.items())
        if (n.get<uint64_t>() != 0) s += (s.empty() ? "" : ",") + reason + "=" + std::to_string(n.get<uint64_t>());
    return s.empty() ? "-" : s;
}

std::string counterTable(const J& rows, const std::string& key, const std::string& label)
{
    Table t({label, "NAME", "RX", "ENCAP", "DECAP", "UNICAST", "FLOODED", "TO-CPU", "TX", "TX-FAILED", "UNBOUND",
             "DROPPED"});
    for (const J& r : rows) {
        const J& k = r["counters"];
        auto n = [&k](const char* f) { return std::to_string(k[f].get<uint64_t>()); };
        t.row({std::to_string(r[key].get<uint32_t>()), r["name"].get<std::string>(), n("received"), n("encapsulated"),
               n("decapsulated"), n("unicast"), n("flooded"), n("toCpu"), n("transmitted"), n("txFailed"),
               n("txUnbound"), drops(k["dropped"])});
    }
    return t.str();
}

Outcome showDataplane(Context& c, const Words& w)
{
    Args a(w, 2, "show dataplane");
    a.expect(0);
    J j = c.needHost("show dataplane").dataplane();
    if (j.is_null()) throw Failed("this simulator has no data plane");
    std::string text = "bridge " + j["bridge"]["name"].get<std::string>() + ", backbone address " +
                       j["bridge"]["mac"].get<std::string>() + ", age " +
                       std::to_string(j["bridge"]["ageSeconds"].get<uint32_t>()) + " s\n";
    text += "\nper VSI\n" + counterTable(j["vsis"], "vsi", "VSI");
    text += "\nper port\n" + counterTable(j["ports"], "ifIndex", "IFINDEX");
    Table macs({"VSI", "C-MAC", "WHERE", "IDLE-MS"});
    for (const J& e : j["customerMacs"])
        macs.row({std::to_string(e["vsi"].get<uint32_t>()), e["mac"].get<std::string>(),
                  e["bmac"].is_null() ? ifLabel(c.model, e["ifIndex"].get<uint32_t>())
                                      : "behind " + e["bmac"].get<std::string>(),
                  std::to_string(e["idleMs"].get<int64_t>())});
    text += "\ncustomer MAC table\n" + macs.str();
    Table bb({"VSI", "B-MAC", "B-VLAN", "PORT", "IDLE-MS", "AGED"});
    for (const J& e : j["backbone"])
        bb.row({std::to_string(e["vsi"].get<uint32_t>()), e["bmac"].get<std::string>(),
                std::to_string(e["bvlan"].get<uint32_t>()), ifLabel(c.model, e["ifIndex"].get<uint32_t>()),
                std::to_string(e["idleMs"].get<int64_t>()), e["aged"].get<bool>() ? "yes" : "no"});
    text += "\nbackbone addresses programmed\n" + bb.str();
    return shown(c, text, j);
}

}  // namespace

std::vector<std::string> bridgeConfigLines(const sim::SwitchModel& m)
{
    const sim::BridgeConfig& b = m.bridge();
    std::vector<std::string> out;
    if (!b.name().empty()) out.push_back("bridge name \"" + b.name() + "\"");
    if (b.addressSet()) out.push_back("bridge mac " + formatMac(b.address()));
    if (b.ageSeconds() != sim::BridgeConfig::kDefaultAgeSeconds)
        out.push_back("bridge age " + std::to_string(b.ageSeconds()));
    for (const auto& [port, vsi] : b.circuits()) out.push_back("ac add " + std::to_string(port) + " " + std::to_string(vsi));
    return out;
}

std::vector<CommandSpec> bridgeCommands()
{
    return {
        {"bridge", "name", "bridge name <name>",
         "names the switch (default: pbb-sim's run directory); its backbone address derives from the name "
         "unless set",
         bridgeName},
        {"bridge", "mac", "bridge mac <mac>|auto",
         "the switch's backbone address (B-SA of what it encapsulates); auto: 02 and five bytes of a hash of the name",
         bridgeMac},
        {"bridge", "age", "bridge age <seconds>",
         "customer and backbone addresses without traffic for this long age out (default 300)", bridgeAge},
        {"ac", "add", "ac add <port> <vsi>",
         "the port becomes an untagged attachment circuit of the VSI (name, or any index)", acAdd},
        {"ac", "del", "ac del <port>", "the port is no longer an attachment circuit", acDel},
        {"show", "circuits", "show circuits", "the bridge's name, backbone address, age time and circuits",
         showCircuits},
        {"show", "dataplane", "show dataplane",
         "the data plane: counters per VSI and port, customer MAC table, programmed backbone addresses and their "
         "ageing",
         showDataplane},
    };
}

}  // namespace simcmd
