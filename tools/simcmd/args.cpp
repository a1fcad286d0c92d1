#include "tools/simcmd/args.h"

#include <charconv>
#include <cmath>

#include "tools/simcmd/frames.h"

namespace simcmd {

namespace {

std::optional<uint64_t> toUnsigned(const std::string& w)
{
    if (w.empty()) return std::nullopt;
    int base = 10;
    const char* b = w.data();
    const char* e = w.data() + w.size();
    if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
        base = 16;
        b += 2;
    }
    uint64_t v = 0;
    auto [p, ec] = std::from_chars(b, e, v, base);
    if (ec != std::errc() || p != e) return std::nullopt;
    return v;
}

std::string quoted(const std::string& w) { return "'" + w + "'"; }

}  // namespace

uint64_t parseUnsigned(const std::string& word, const std::string& what, uint64_t min, uint64_t max)
{
    auto v = toUnsigned(word);
    if (!v) throw BadInput(what + " " + quoted(word) + " is not a number");
    if (*v < min || *v > max)
        throw BadInput(what + " " + quoted(word) + " is out of range (" + std::to_string(min) + " to " +
                       std::to_string(max) + ")");
    return *v;
}

int64_t parseSigned(const std::string& word, const std::string& what)
{
    bool neg = !word.empty() && word[0] == '-';
    auto v = toUnsigned(neg ? word.substr(1) : word);
    if (!v || *v > static_cast<uint64_t>(INT64_MAX)) throw BadInput(what + " " + quoted(word) + " is not a number");
    return neg ? -static_cast<int64_t>(*v) : static_cast<int64_t>(*v);
}

double parseRate(const std::string& word, const std::string& what)
{
    double v = 0;
    auto [p, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
    if (word.empty() || ec != std::errc() || p != word.data() + word.size() || !std::isfinite(v) || v < 0)
        throw BadInput(what + " " + quoted(word) + " is not a rate (frames per second, 0 for as fast as possible)");
    return v;
}

std::set<uint16_t> parseVlanList(const std::string& word, const std::string& what, uint16_t maxVlan)
{
    std::set<uint16_t> out;
    if (word.empty() || word == "none") return out;
    size_t start = 0;
    while (start <= word.size()) {
        size_t comma = word.find(',', start);
        std::string item = word.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t dash = item.find('-');
        std::string itemWhat = what + " " + quoted(word) + ": item " + quoted(item);
        if (item.empty()) throw BadInput(what + " " + quoted(word) + " has an empty item");
        uint64_t lo, hi;
        if (dash == std::string::npos) {
            lo = hi = parseUnsigned(item, itemWhat + " VLAN", 1, maxVlan);
        } else {
            lo = parseUnsigned(item.substr(0, dash), itemWhat + " VLAN", 1, maxVlan);
            hi = parseUnsigned(item.substr(dash + 1), itemWhat + " VLAN", 1, maxVlan);
            if (lo > hi) throw BadInput(itemWhat + " is a range that runs backwards");
        }
        for (uint64_t v = lo; v <= hi; ++v) out.insert(static_cast<uint16_t>(v));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

sim::Mac parseMacArg(const std::string& word, const std::string& what)
{
    auto m = parseMac(word);
    if (!m) throw BadInput(what + " " + quoted(word) + " is not a MAC address (like 02:00:00:00:00:01)");
    return *m;
}

std::vector<uint8_t> parseHex(const std::string& word, const std::string& what)
{
    std::string w = word;
    if (w.size() >= 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) w = w.substr(2);
    if (w.size() % 2 != 0) throw BadInput(what + " " + quoted(word) + " is not whole bytes of hex");
    std::vector<uint8_t> out;
    for (size_t i = 0; i < w.size(); i += 2) {
        uint8_t v = 0;
        auto [p, ec] = std::from_chars(w.data() + i, w.data() + i + 2, v, 16);
        if (ec != std::errc() || p != w.data() + i + 2) throw BadInput(what + " " + quoted(word) + " is not hex");
        out.push_back(v);
    }
    return out;
}

bool parseOnOff(const std::string& word, const std::string& what)
{
    if (word == "on") return true;
    if (word == "off") return false;
    throw BadInput(what + " " + quoted(word) + " is neither on nor off");
}

Args::Args(const std::vector<std::string>& words, size_t first, const std::string& usage,
           const std::map<std::string, bool>& options)
    : usage_(usage)
{
    for (size_t i = first; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.size() > 2 && w.compare(0, 2, "--") == 0) {
            std::string name = w;
            std::optional<std::string> inlineValue;
            if (size_t eq = w.find('='); eq != std::string::npos) {
                name = w.substr(0, eq);
                inlineValue = w.substr(eq + 1);
            }
            auto it = options.find(name);
            if (it == options.end()) {
                std::string known;
                for (const auto& [o, v] : options) known += (known.empty() ? "" : ", ") + o;
                throw BadInput("unknown option " + quoted(name) +
                               (known.empty() ? " (this command takes none)" : " (expected " + known + ")") +
                               "; usage: " + usage_);
            }
            if (opts_.count(name) != 0) throw BadInput("option " + quoted(name) + " given twice");
            if (it->second) {
                if (!inlineValue) {
                    if (i + 1 >= words.size()) throw BadInput("option " + quoted(name) + " needs a value");
                    inlineValue = words[++i];
                }
                opts_[name] = *inlineValue;
            } else {
                if (inlineValue) throw BadInput("option " + quoted(name) + " takes no value");
                opts_[name] = "";
            }
        } else {
            pos_.push_back(w);
        }
    }
}

void Args::expect(size_t min, size_t max) const
{
    if (pos_.size() < min) throw BadInput("missing argument; usage: " + usage_);
    if (pos_.size() > max) throw BadInput("unexpected argument " + quoted(pos_[max]) + "; usage: " + usage_);
}

std::optional<std::string> Args::value(const std::string& name) const
{
    auto it = opts_.find(name);
    if (it == opts_.end()) return std::nullopt;
    return it->second;
}

uint32_t resolveIf(const sim::SwitchModel& m, const std::string& word, const std::string& what)
{
    if (uint32_t i = m.ifIndexByName(word); i != 0) return i;
    if (auto v = toUnsigned(word); v && *v <= UINT32_MAX && m.findIf(static_cast<uint32_t>(*v)) != nullptr)
        return static_cast<uint32_t>(*v);
    throw BadInput("unknown " + what + " " + quoted(word) + " (give its full name or ifIndex)");
}

uint32_t resolvePort(const sim::SwitchModel& m, const std::string& word, const std::string& what)
{
    uint32_t i = resolveIf(m, word, what);
    if (m.findIf(i)->isAggregate()) throw BadInput(what + " " + quoted(word) + " is an aggregate, not a port");
    return i;
}

uint32_t resolveAggregate(const sim::SwitchModel& m, const std::string& word)
{
    uint32_t i = resolveIf(m, word, "aggregate");
    if (!m.findIf(i)->isAggregate()) throw BadInput("aggregate " + quoted(word) + " is a port, not an aggregate");
    return i;
}

std::vector<uint32_t> resolveIfList(const sim::SwitchModel& m, const std::string& word, const std::string& what)
{
    std::vector<uint32_t> out;
    if (word.empty() || word == "none") return out;
    size_t start = 0;
    while (true) {
        size_t comma = word.find(',', start);
        std::string item = word.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        out.push_back(resolveIf(m, item, what));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

uint32_t resolveVsi(const sim::SwitchModel& m, const std::string& word)
{
    if (const sim::Vsi* v = m.findVsiByName(word)) return v->index;
    if (auto v = toUnsigned(word); v && *v <= UINT32_MAX && m.findVsi(static_cast<uint32_t>(*v)) != nullptr)
        return static_cast<uint32_t>(*v);
    throw BadInput("unknown VSI " + quoted(word) + " (give its name or index)");
}

uint16_t resolveSlot(const sim::SwitchModel& m, const std::string& word)
{
    auto s = static_cast<uint16_t>(parseUnsigned(word, "slot", 0, 0xFFFF));
    if (m.findSlot(s) == nullptr) throw BadInput("slot " + quoted(word) + " is not configured");
    return s;
}

std::string ifLabel(const sim::SwitchModel& m, uint32_t ifIndex)
{
    const sim::Interface* i = m.findIf(ifIndex);
    return i != nullptr ? i->name : "ifIndex " + std::to_string(ifIndex);
}

}  // namespace simcmd
