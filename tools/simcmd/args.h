// Argument handling of the command language: numbers, lists, options and
// the switch's objects named by the operator. Everything here throws
// BadInput with a message naming the argument; nothing changes the model.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/model/switch_model.h"

namespace simcmd {

// Bad input from the operator: status 2, the message names the argument.
struct BadInput : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A command that was well formed but could not be carried out: status 1.
struct Failed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Unsigned number, decimal or 0x hex, within [min, max]; `what` names it.
uint64_t parseUnsigned(const std::string& word, const std::string& what, uint64_t min, uint64_t max);
int64_t parseSigned(const std::string& word, const std::string& what);
double parseRate(const std::string& word, const std::string& what);
// "10,20,100-110"; "none" or "" for the empty list. Every VLAN within 1..maxVlan.
std::set<uint16_t> parseVlanList(const std::string& word, const std::string& what, uint16_t maxVlan);
sim::Mac parseMacArg(const std::string& word, const std::string& what);
std::vector<uint8_t> parseHex(const std::string& word, const std::string& what);
bool parseOnOff(const std::string& word, const std::string& what);

// The words after a command's verbs: positionals and --options. Options are
// declared with whether they take a value; an undeclared one is refused.
class Args {
public:
    Args(const std::vector<std::string>& words, size_t first, const std::string& usage,
         const std::map<std::string, bool>& options = {});

    // Exactly n positionals, or between min and max.
    void expect(size_t n) const { expect(n, n); }
    void expect(size_t min, size_t max) const;
    size_t count() const { return pos_.size(); }
    const std::string& operator[](size_t i) const { return pos_.at(i); }
    const std::vector<std::string>& positionals() const { return pos_; }

    bool flag(const std::string& name) const { return opts_.count(name) != 0; }
    std::optional<std::string> value(const std::string& name) const;
    const std::string& usage() const { return usage_; }

private:
    std::vector<std::string> pos_;
    std::map<std::string, std::string> opts_;
    std::string usage_;
};

// Interfaces by full name or ifIndex (a name that matches exactly wins).
uint32_t resolveIf(const sim::SwitchModel& m, const std::string& word, const std::string& what = "interface");
uint32_t resolvePort(const sim::SwitchModel& m, const std::string& word, const std::string& what = "port");
uint32_t resolveAggregate(const sim::SwitchModel& m, const std::string& word);
std::vector<uint32_t> resolveIfList(const sim::SwitchModel& m, const std::string& word, const std::string& what);
// VSIs by name or index.
uint32_t resolveVsi(const sim::SwitchModel& m, const std::string& word);
uint16_t resolveSlot(const sim::SwitchModel& m, const std::string& word);

std::string ifLabel(const sim::SwitchModel& m, uint32_t ifIndex);

}  // namespace simcmd
