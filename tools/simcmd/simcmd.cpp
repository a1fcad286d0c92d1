#include "tools/simcmd/simcmd.h"

#include <sstream>

#include "tools/simcmd/command.h"
#include "tools/simcmd/table.h"

namespace simcmd {

namespace {

using Words = std::vector<std::string>;

const std::vector<CommandSpec>& table()
{
    static const std::vector<CommandSpec> all = [] {
        std::vector<CommandSpec> v;
        for (auto family :
             {switchCommands, l2vpnCommands, reportCommands, frameCommands, showCommands, programCommands,
              bridgeCommands}) {
            auto part = family();
            v.insert(v.end(), part.begin(), part.end());
        }
        return v;
    }();
    return all;
}

Outcome help(Context& c, const Words& w)
{
    Args a(w, 1, "help [<command>]");
    a.expect(0, 1);
    std::string verb = a.count() ? a[0] : "";
    nlohmann::json list = nlohmann::json::array();
    std::string text;
    for (const CommandSpec& s : table()) {
        if (!verb.empty() && s.verb != verb) continue;
        list.push_back({{"usage", s.usage}, {"summary", s.summary}});
        text += s.usage + "\n    " + s.summary + "\n";
    }
    if (!verb.empty() && list.empty()) throw BadInput("unknown command '" + verb + "'; 'help' lists them all");
    if (verb.empty()) {
        list.push_back({{"usage", "help [<command>]"}, {"summary", "lists the commands (of one verb)"}});
        text += "help [<command>]\n    lists the commands (of one verb)\n";
        text += "\nInterfaces are named by full name or ifIndex, VSIs by name or index. "
                "--json (pbb-simctl) gives JSON.\n";
    }
    return shown(c, text, {{"commands", list}});
}

Outcome dispatch(Context& c, const Words& words)
{
    const std::string& verb = words[0];
    if (verb == "help") return help(c, words);
    const CommandSpec* bare = nullptr;
    std::vector<std::string> subs;
    for (const CommandSpec& s : table()) {
        if (s.verb != verb) continue;
        if (s.sub.empty()) {
            bare = &s;
        } else {
            subs.push_back(s.sub);
            if (words.size() > 1 && words[1] == s.sub) return s.run(c, words);
        }
    }
    if (bare != nullptr) return bare->run(c, words);
    if (subs.empty()) throw BadInput("unknown command '" + verb + "'; 'help' lists them all");
    std::string list;
    for (const auto& s : subs) list += (list.empty() ? "" : ", ") + s;
    if (words.size() < 2) throw BadInput("'" + verb + "' needs one of: " + list);
    throw BadInput("unknown command '" + verb + " " + words[1] + "' (" + verb + " takes " + list + ")");
}

}  // namespace

Host& Context::needHost(const std::string& command) const
{
    if (host == nullptr)
        throw Failed("'" + command + "' needs the running simulator (pbb-sim); it cannot run from a topology file");
    return *host;
}

Outcome done(const Context& c, const std::string& text, nlohmann::json extra)
{
    if (!c.json) return {0, text + "\n", ""};
    extra["ok"] = true;
    return {0, extra.dump() + "\n", ""};
}

Outcome shown(const Context& c, const std::string& text, const nlohmann::json& j)
{
    if (!c.json) return {0, text, ""};
    return {0, j.dump(2) + "\n", ""};
}

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> words;
    std::string cur;
    bool inWord = false;
    char quote = 0;
    for (char c : line) {
        if (quote) {
            if (c == quote) quote = 0;
            else cur += c;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == '#' && !inWord) {
            break;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord) words.push_back(std::move(cur));
            cur.clear();
            inWord = false;
        } else {
            cur += c;
            inWord = true;
        }
    }
    if (quote) throw std::invalid_argument(std::string("unterminated quote ") + quote);
    if (inWord) words.push_back(std::move(cur));
    return words;
}

Outcome run(sim::SwitchModel& model, Host* host, const std::vector<std::string>& words, bool json)
{
    if (words.empty()) return {};
    Context c{model, host, json};
    try {
        return dispatch(c, words);
    } catch (const BadInput& e) {
        return {2, "", e.what()};
    } catch (const Failed& e) {
        return {1, "", e.what()};
    } catch (const std::invalid_argument& e) {
        // A rule of the switch the checks above did not foresee: still bad input.
        return {2, "", std::string("refused by the switch: ") + e.what()};
    } catch (const std::exception& e) {
        return {1, "", e.what()};
    } catch (...) {
        return {1, "", "unexpected failure"};
    }
}

Outcome loadTopology(sim::SwitchModel& model, const std::string& text, const std::string& sourceName)
{
    struct Line {
        size_t number;
        Words words;
    };
    std::vector<Line> lines;
    std::istringstream in(text);
    std::string raw;
    for (size_t n = 1; std::getline(in, raw); ++n) {
        Words w;
        try {
            w = split(raw);
        } catch (const std::invalid_argument& e) {
            return {2, "", sourceName + ":" + std::to_string(n) + ": " + e.what()};
        }
        if (!w.empty()) lines.push_back({n, std::move(w)});
    }

    // Try every line on a copy of the switch's configuration first, so that a
    // bad line leaves the switch as it was.
    sim::SwitchModel trial;
    for (const std::string& l : configLines(model)) {
        Outcome r = run(trial, nullptr, split(l), false);
        if (r.status != 0) return {1, "", sourceName + ": the switch's configuration cannot be copied: " + r.err};
    }
    for (const Line& l : lines) {
        Outcome r = run(trial, nullptr, l.words, false);
        if (r.status != 0) return {2, "", sourceName + ":" + std::to_string(l.number) + ": " + r.err};
    }
    for (const Line& l : lines) {
        Outcome r = run(model, nullptr, l.words, false);
        if (r.status != 0)
            return {1, "",
                    sourceName + ":" + std::to_string(l.number) + ": " + r.err + " (the lines before it were applied)"};
    }
    return {0, sourceName + ": " + std::to_string(lines.size()) + " commands applied\n", ""};
}

std::string defaultTopology()
{
    return R"(# The simulator's default switch.
# Four slots: 1 and 2 carry MAC-in-MAC capable boards, 3 a board without,
# 4 stays free for 'slot add 4' at run time.
slot range 1 4
slot add 1 --minm
slot add 2 --minm
slot add 3

# Eight ports, ifIndexes 1 to 8 in this order; eth-2/0/3 starts link down.
port add eth-1/0/1 1 --type xge
port add eth-1/0/2 1 --type xge
port add eth-1/0/3 1 --type xge
port add eth-2/0/1 2 --type xge
port add eth-2/0/2 2 --type xge
port add eth-2/0/3 2 --type xge --down
port add eth-3/0/1 3
port add eth-3/0/2 3

# One aggregate of a port on each MAC-in-MAC slot.
agg add agg-1 --ifindex 100
agg join agg-1 eth-1/0/3
agg join agg-1 eth-2/0/3

# Backbone VLANs on the trunks, customer VLANs on the access ports.
vlan trunk eth-1/0/1 100-110
vlan trunk eth-1/0/2 100-110
vlan trunk eth-2/0/1 100-110,200
vlan trunk eth-2/0/2 100-110
vlan trunk agg-1 100-110
vlan access eth-3/0/1 10
vlan access eth-3/0/2 20

# Spanning tree: forwarding on the trunk VLANs, one VLAN blocked on eth-2/0/2.
stp state eth-1/0/1 100-110 forwarding
stp state eth-1/0/2 100-110 forwarding
stp state eth-2/0/1 100-110,200 forwarding
stp state eth-2/0/2 100-109 forwarding
stp state eth-2/0/2 110 discarding
stp state agg-1 100-110 forwarding

# VSIs: three with I-SIDs, one without.
vsi add 1 vsi-red 10010
vsi add 2 vsi-green 10020
vsi add 3 vsi-blue 10030
vsi add 4 vsi-plain 0
)";
}

}  // namespace simcmd
