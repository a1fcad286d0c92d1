// The command table: every command of the language with its usage line and
// what it does, and how a command reports its result.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/simcmd/args.h"
#include "tools/simcmd/simcmd.h"

namespace simcmd {

struct Context {
    sim::SwitchModel& model;
    Host* host;
    bool json;

    // The host, or Failed naming the command when there is none.
    Host& needHost(const std::string& command) const;
};

using Handler = std::function<Outcome(Context&, const std::vector<std::string>& words)>;

struct CommandSpec {
    std::string verb;
    std::string sub;        // empty: the verb alone (the next word is an argument)
    std::string usage;      // the whole command line with its arguments
    std::string summary;    // what it does and the events it produces
    Handler run;
};

// A successful change: the text for people, the JSON ({"ok": true} and
// what `extra` holds) for programs.
Outcome done(const Context& c, const std::string& text, nlohmann::json extra = nlohmann::json::object());
// A show result: a table for people, the object for programs.
Outcome shown(const Context& c, const std::string& text, const nlohmann::json& j);

// The command families, one file each.
std::vector<CommandSpec> switchCommands();
std::vector<CommandSpec> l2vpnCommands();
std::vector<CommandSpec> reportCommands();
std::vector<CommandSpec> frameCommands();
std::vector<CommandSpec> showCommands();
std::vector<CommandSpec> programCommands();
std::vector<CommandSpec> bridgeCommands();

// The switch's configuration as commands of this language, one a line
// (slots, interfaces, VLANs, spanning tree, VSIs, limits, services).
std::vector<std::string> configLines(const sim::SwitchModel& m);
// The bridge's part of it: name, backbone address, age time, circuits.
std::vector<std::string> bridgeConfigLines(const sim::SwitchModel& m);

// A word as messages quote it.
inline std::string q(const std::string& w) { return "'" + w + "'"; }

}  // namespace simcmd
